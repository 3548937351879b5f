#pragma once

#include <QLocale>

#include <cstdint>
#include <string>

// Numbers, sizes, speeds and times as the windows and the program log show them. Locale-made
// texts use the default QLocale, which is the user's (QLocale::system()) unless the program
// sets another default; tests set a fixed one.
namespace tarn {

class TMsgList;

struct ScaledValue {
    double Value = 0;  // rounded to two decimals when scaled
    std::string Unit;  // the unit's text in the catalogue's language
};

// A byte count above 1048576 in "MB", above 1024 in "KB", otherwise in "Bytes" (unit ids of
// the catalogue); so exactly 1048576 bytes are 1024 KB and 1024 bytes are 1024 Bytes.
ScaledValue ScaleSize(int64_t bytes, const TMsgList& msgs);
// The same rule for bytes per second, with the units "MBps", "KBps" and "Bps".
ScaledValue FormatSpeed(double bytesPerSecond, const TMsgList& msgs);

// A file's size beside another file's, as the question about an existing file shows it: above
// 1048576 bytes in "MB" and above 1024 in "KB", with one decimal, followed by the whole count
// in "Bytes" with the locale's thousands separators ("1.5 Mb (1,572,864 Bytes)"); otherwise
// the count alone ("1024 Bytes").
std::string FormatFileSize(int64_t bytes, const TMsgList& msgs, const QLocale& locale = QLocale());

// A number with at most two decimals: the locale's decimal separator, no trailing zeros and no
// thousands separators ("1024", "1.5", "11.92").
std::string FormatDecimal(double value, const QLocale& locale = QLocale());
// A number with exactly `decimals` decimals and the locale's decimal separator, no thousands
// separators ("12.50"): the cells of the task list.
std::string FormatFixed(double value, int decimals, const QLocale& locale = QLocale());
// A duration in days as "hh:mm:ss"; the hours wrap at 24, as a time of day does, so 25 hours
// read 01:00:00.
std::string FormatClockTime(double days);
// A date-time value as the locale's short date, a blank and its long time without a time zone;
// at exactly midnight only the date. "" for a value outside the years 1 to 9999.
std::string FormatLocaleDateTime(double dateTime, const QLocale& locale = QLocale());
// Makes FormatLocaleDateTime in the default locale the program's FormatDateTime, which the
// engine's messages use too: the windows and tarnctl call it once at start.
void UseLocaleDateTimeFormat();
// The locale's long time format without its time zone ("h:mm:ss AP", "HH:mm:ss"): a value of
// the data files is local time and carries no zone.
QString LongTimeFormat(const QLocale& locale = QLocale());

}  // namespace tarn
