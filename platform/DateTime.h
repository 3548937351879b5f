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
// The broken-down local time of a date-time value; all zero outside the years 1 to 9999.
std::tm DateTimeToTm(double dateTime);
double TmToDateTime(const std::tm& local);

// Every date-time the program shows goes through FormatDateTime, the engine's message
// parameters as the windows' columns, so that a message reads as the log beside it. The
// programs install the format of the user's locale once at start, before any task runs; until
// then it is the C library locale's short date and long time ("%x %X"), the time left out at
// exactly midnight.
using DateTimeFormatter = std::string (*)(double dateTime);
void SetDateTimeFormatter(DateTimeFormatter formatter);
std::string FormatDateTime(double dateTime);

}  // namespace tarn
