#include "platform/DateTime.h"

#include <atomic>
#include <chrono>
#include <cmath>

namespace tarn {
namespace {

constexpr double UnixEpochDays = 25569.0;  // 1 January 1970 in days since 30 December 1899
constexpr double FirstDateTime = -693593.0;  // 1 January 1
constexpr double EndDateTime = 2958466.0;    // 1 January 10000

// Beyond these years a day count has no calendar date (and NaN has none either).
bool HasCalendarDate(double dateTime) { return dateTime >= FirstDateTime && dateTime < EndDateTime; }

std::string FormatCDateTime(double dateTime)
{
    if (!HasCalendarDate(dateTime)) return {};
    const std::tm local = DateTimeToTm(dateTime);
    const bool midnight = local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0;
    char text[128];
    const size_t n = std::strftime(text, sizeof text, midnight ? "%x" : "%x %X", &local);
    return std::string(text, n);
}

// Read by the tasks' workers while they log.
std::atomic<DateTimeFormatter> formatter = FormatCDateTime;

}  // namespace

double UnixTimeToDateTime(time_t seconds, long nanoseconds)
{
    std::tm local{};
    localtime_r(&seconds, &local);
    const double localSeconds = static_cast<double>(seconds) + static_cast<double>(local.tm_gmtoff) +
                                static_cast<double>(nanoseconds) / 1e9;
    return UnixEpochDays + localSeconds / SecondsPerDay;
}

double NowDateTime()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    return UnixTimeToDateTime(static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000));
}

std::tm DateTimeToTm(double dateTime)
{
    if (!HasCalendarDate(dateTime)) return std::tm{};
    // Work in whole milliseconds so that 23:59:59.9996 does not print as 24:00:00.
    const double totalMs = std::round((dateTime - UnixEpochDays) * MillisecondsPerDay);
    const double totalSeconds = std::floor(totalMs / 1000.0);
    const double days = std::floor(totalSeconds / SecondsPerDay);
    const long secondOfDay = static_cast<long>(totalSeconds - days * SecondsPerDay);
    const time_t midnight = static_cast<time_t>(days * SecondsPerDay);
    std::tm result{};
    gmtime_r(&midnight, &result);
    result.tm_hour = static_cast<int>(secondOfDay / 3600);
    result.tm_min = static_cast<int>(secondOfDay / 60 % 60);
    result.tm_sec = static_cast<int>(secondOfDay % 60);
    return result;
}

double TmToDateTime(const std::tm& local)
{
    std::tm copy = local;
    copy.tm_isdst = 0;
    const time_t asUtc = timegm(&copy);
    return UnixEpochDays + static_cast<double>(asUtc) / SecondsPerDay;
}

std::string FormatDateTime(double dateTime) { return formatter.load()(dateTime); }

void SetDateTimeFormatter(DateTimeFormatter installed) { formatter = installed; }

}  // namespace tarn
