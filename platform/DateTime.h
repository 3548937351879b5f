#pragma once

#include <ctime>
#include <string>

namespace tarn {

// The date-time of the data files: days since 30 December 1899 in local time, the fraction
// being the time of day. Durations use the same unit.
constexpr double SecondsPerDay = 86400.0;
constexpr double MillisecondsPerDay = 86400000.0;

double NowDateTime();
double UnixTimeToDateTime(time_t seconds, long nanoseconds = 0);
// The broken-down local time of a date-time value.
std::tm DateTimeToTm(double dateTime);
double TmToDateTime(const std::tm& local);

// The C library locale's short date and long time ("%x %X"); the time is left out at exactly
// midnight. The engine's only locale-made text; the windows use their own formats.
std::string FormatDateTime(double dateTime);

}  // namespace tarn
