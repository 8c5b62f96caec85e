#include "clock.h"

#include <cstdio>

namespace qor {

std::string asctime_text(std::time_t t) {
    static const char days[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char months[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", days[tm.tm_wday % 7],
                  months[tm.tm_mon % 12], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  1900 + tm.tm_year);
    return buf;
}

std::string now_asctime() {
    return asctime_text(std::time(nullptr));
}

std::string clock_text(std::time_t t) {
    return asctime_text(t).substr(11, 8);
}

} // namespace qor
