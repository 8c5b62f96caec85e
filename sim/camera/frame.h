// Synthetic raw frames as the camera writes them: two header blocks of 36
// cards, then rows of 16-bit big-endian pixels (count - 32768), each row the
// square image part followed by 64 overscan columns (32 per detector half).
#pragma once

#include <cstdint>
#include <string>

namespace qor::sim {

struct FrameInfo {
    int side = 512;        // image columns and rows
    int column_offset = 0; // detector column of the first pixel
    int row_offset = 0;
    long obsnum = 1;
    long hundredths = 0;
    std::string object = "none";
    std::string date_obs = "2026-01-01"; // local date and time of the exposure start
    std::string time_obs = "00:00:00.0";
    std::string readspeed = "Slow";
    std::string windowset = "0";
    double temperature = -110.7;
};

constexpr int overscan_columns = 64;
constexpr int header_bytes = 5760;
// Bias levels of the two detector halves, in counts: what the overscan reads.
constexpr int bias_left = 1000;
constexpr int bias_right = 1200;
constexpr int sky_level = 800;

// One 80-character header card.
std::string card(const std::string& keyword, const std::string& value);

// The whole frame file.
std::string make_frame(const FrameInfo& info);

} // namespace qor::sim
