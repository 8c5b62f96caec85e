// The night's day number: the last four digits of the Julian day number.
#pragma once

#include "system.h"

#include <string>

namespace qor {

// The local time's asctime text on the system's clock, "Sun Dec  6 19:44:56 2026\n".
std::string getime(System& system);

// Day number for local year, month (1-12), day and hour. Before 10 h local
// the previous date's number is kept, so one night keeps one number.
int dojd(int year, int month, int day, int hour);

// The day number of an asctime text; -1 when the text is not one.
int day_number(const std::string& asctime_text);

} // namespace qor
