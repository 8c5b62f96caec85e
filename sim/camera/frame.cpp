#include "frame.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace qor::sim {

namespace {

std::string quoted(const std::string& s) {
    std::string v = "'" + s;
    while (v.size() < 9) v += ' ';
    return v + "'";
}

std::string number(long n) {
    return std::to_string(n);
}

// Small deterministic generator: the same observation number gives the same sky.
struct Noise {
    std::uint64_t state;
    std::uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    double uniform() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
    // Roughly normal: sum of four uniforms, unit width.
    double normal() { return (uniform() + uniform() + uniform() + uniform() - 2.0) * 1.7320508; }
};

struct Star {
    double x, y, peak, sigma;
};

} // namespace

std::string card(const std::string& keyword, const std::string& value) {
    char buf[128];
    if (keyword.empty()) return std::string(80, ' ');
    // Numbers right-aligned in columns 11-30, strings from column 11.
    if (!value.empty() && value[0] == '\'') {
        std::snprintf(buf, sizeof buf, "%-8.8s= %-70.70s", keyword.c_str(), value.c_str());
    } else {
        std::snprintf(buf, sizeof buf, "%-8.8s= %20.20s%50s", keyword.c_str(), value.c_str(), "");
    }
    return std::string(buf, 80);
}

std::string make_frame(const FrameInfo& info) {
    const int side = info.side;
    const int width = side + overscan_columns;

    std::vector<std::string> cards(72, std::string(80, ' '));
    char text[64];
    cards[0] = card("SIMPLE", "T");
    cards[1] = card("BITPIX", "16");
    cards[2] = card("NAXIS", "2");
    cards[3] = card("NAXIS1", number(width));
    cards[4] = card("NAXIS2", number(side));
    cards[5] = card("COLSTART", number(info.column_offset));
    cards[6] = card("ROWSTART", number(info.row_offset));
    cards[7] = card("BZERO", "32768");
    cards[8] = card("BSCALE", "1");
    cards[9] = card("OBSNUM", number(info.obsnum));
    std::snprintf(text, sizeof text, "%ld.%02ld", info.hundredths / 100, info.hundredths % 100);
    cards[10] = card("EXPTIME", text);
    cards[11] = card("OVERSCAN", number(overscan_columns));
    cards[12] = card("READSPD", quoted(info.readspeed));
    cards[13] = card("WINDOW", quoted(info.windowset));
    cards[19] = card("DATE-OBS", quoted(info.date_obs));
    cards[20] = card("TIME-OBS", quoted(info.time_obs));
    std::snprintf(text, sizeof text, "%.1f", info.temperature);
    cards[36] = card("CCDTEMP", text);
    cards[42] = card("DETECTOR", quoted("sim4096"));
    cards[51] = card("OBJECT", quoted(info.object.substr(0, 60)));
    cards[52] = "END" + std::string(77, ' ');

    std::string out;
    out.reserve(header_bytes + static_cast<std::size_t>(width) * side * 2);
    for (const auto& c : cards) out += c;

    Noise noise{0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(info.obsnum) * 7919};
    std::vector<Star> stars;
    int count = 6 + static_cast<int>(noise.next() % 6);
    for (int i = 0; i < count; ++i) {
        stars.push_back({noise.uniform() * side, noise.uniform() * side,
                         2000.0 + noise.uniform() * 28000.0, 1.2 + noise.uniform() * 2.0});
    }

    // Image part: sky and stars on the bias of the detector half below.
    std::vector<double> image(static_cast<std::size_t>(side) * side);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = sky_level + 12.0 * noise.normal();
    for (const auto& s : stars) {
        int r = static_cast<int>(std::ceil(4 * s.sigma));
        for (int y = static_cast<int>(s.y) - r; y <= static_cast<int>(s.y) + r; ++y) {
            if (y < 0 || y >= side) continue;
            for (int x = static_cast<int>(s.x) - r; x <= static_cast<int>(s.x) + r; ++x) {
                if (x < 0 || x >= side) continue;
                double dx = x - s.x, dy = y - s.y;
                image[static_cast<std::size_t>(y) * side + x] +=
                    s.peak * std::exp(-(dx * dx + dy * dy) / (2 * s.sigma * s.sigma));
            }
        }
    }

    auto put = [&out](double counts) {
        long c = std::lround(counts);
        if (c < 0) c = 0;
        if (c > 65535) c = 65535;
        auto stored = static_cast<std::uint16_t>(static_cast<std::int16_t>(c - 32768));
        out += static_cast<char>(stored >> 8);
        out += static_cast<char>(stored & 0xff);
    };
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            int bias = info.column_offset + x > 2047 ? bias_right : bias_left;
            put(bias + image[static_cast<std::size_t>(y) * side + x]);
        }
        for (int x = 0; x < overscan_columns; ++x) {
            put((x < overscan_columns / 2 ? bias_left : bias_right) + 5.0 * noise.normal());
        }
    }
    return out;
}

} // namespace qor::sim
