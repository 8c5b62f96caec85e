#include "jd.h"

#include "clock.h"

#include <cstdio>
#include <cstring>

namespace qor {

std::string getime(System& system) {
    return asctime_text(static_cast<std::time_t>(system.now()));
}

int dojd(int year, int month, int day, int hour) {
    int g = static_cast<int>((month + 9) * 0.09); // 0 for January and February
    int h = static_cast<int>((year + g - 1900) * 1.75 + 0.01);
    int f = static_cast<int>(month * 30.56);
    int j = 367 * year - 715650 + day + f - h + 3339;
    if (hour + 8 <= 17) j -= 1;
    return j % 10000;
}

int day_number(const std::string& text) {
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (text.size() < 24) return -1;
    int month = 0;
    for (int m = 0; m < 12; ++m) {
        if (text.compare(4, 3, months + 3 * m, 3) == 0) {
            month = m + 1;
            break;
        }
    }
    int day = 0, hour = 0, year = 0;
    if (month == 0 || std::sscanf(text.c_str() + 7, "%d", &day) != 1 ||
        std::sscanf(text.c_str() + 10, "%d", &hour) != 1 ||
        std::sscanf(text.c_str() + 19, "%d", &year) != 1) {
        return -1;
    }
    return dojd(year, month, day, hour);
}

} // namespace qor
