// Raw frames as the camera writes them, for the quick-look tests.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace peektest {

// A raw frame as the camera writes it: cards at their places, then rows of
// big-endian count - 32768, the image columns counts(r, c), then 32 overscan
// columns at the left half's bias (1000 counts) and 32 at the right one's
// (1200). Image columns carry the bias of their half.
inline std::string raw_frame(int side, const std::function<int(int, int)>& counts,
                             std::optional<int> naxis1 = {}, std::optional<int> naxis2 = {},
                             int coloff = 0) {
    const int n1 = naxis1.value_or(side + 64);
    std::string head(5760, ' ');
    auto card = [&](int j, const std::string& text) { head.replace(80 * j, text.size(), text); };
    card(0, "SIMPLE  =                    T");
    card(1, "BITPIX  =                   16");
    card(2, "NAXIS   =                    2");
    card(3, "NAXIS1  = " + std::string(20 - std::to_string(n1).size(), ' ') + std::to_string(n1));
    const int n2 = naxis2.value_or(side);
    card(4, "NAXIS2  = " + std::string(20 - std::to_string(n2).size(), ' ') + std::to_string(n2));
    card(5, "COLSTART= " + std::string(20 - std::to_string(coloff).size(), ' ') +
                std::to_string(coloff));
    card(10, "EXPTIME =                 30.0");
    card(19, "DATE-OBS= '2026-12-08'");
    card(20, "TIME-OBS= '19:44:56.0'");
    card(36, "CCDTEMP =               -110.7");
    card(42, "DETECTOR= 'sim4096 '");
    card(51, "OBJECT  = 'M42     '");
    card(52, "END");
    std::string d = head;
    d.reserve(5760 + 2L * n1 * side);
    auto put = [&](int count) {
        const auto s = static_cast<std::uint16_t>(count - 32768);
        d += {static_cast<char>(s >> 8), static_cast<char>(s)};
    };
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) put(counts(r, c) + (coloff + c >= 2048 ? 1200 : 1000));
        for (int c = side; c < n1; ++c) put(c - side < 32 ? 1000 : 1200);
    }
    return d;
}

inline int sky(int r, int c) {
    return 1600 + (r * 31 + c * 17) % 41;
}

} // namespace peektest
