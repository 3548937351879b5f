#include "core/Units.h"

#include <QDate>
#include <QTime>

#include <cmath>
#include <cstdio>

#include "core/MessageList.h"
#include "platform/DateTime.h"

namespace tarn {
namespace {

constexpr double OneKilobyte = 1024.0;
constexpr double OneMegabyte = 1048576.0;
constexpr double MsPerDay = 86400000.0;
// Days since 30 December 1899 of 1 January 0001 and of 31 December 9999.
constexpr double FirstDay = -693593.0;
constexpr double LastDay = 2958465.0;

double RoundTo2(double value) { return std::round(value * 100.0) / 100.0; }

ScaledValue Scale(double value, const TMsgList& msgs, const char* mega, const char* kilo, const char* one)
{
    if (value > OneMegabyte) return {RoundTo2(value / OneMegabyte), msgs.GetMsg(mega)};
    if (value > OneKilobyte) return {RoundTo2(value / OneKilobyte), msgs.GetMsg(kilo)};
    return {value, msgs.GetMsg(one)};
}

}  // namespace

ScaledValue ScaleSize(int64_t bytes, const TMsgList& msgs)
{
    return Scale(static_cast<double>(bytes), msgs, "MB", "KB", "Bytes");
}

ScaledValue FormatSpeed(double bytesPerSecond, const TMsgList& msgs)
{
    return Scale(bytesPerSecond, msgs, "MBps", "KBps", "Bps");
}

std::string FormatFileSize(int64_t bytes, const TMsgList& msgs, const QLocale& locale)
{
    const auto scaled = [&](double divisor, const char* unit) {
        QLocale grouped = locale;
        grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
        return FormatFixed(static_cast<double>(bytes) / divisor, 1, locale) + ' ' + msgs.GetMsg(unit) + " (" +
               grouped.toString(static_cast<qlonglong>(bytes)).toStdString() + ' ' + msgs.GetMsg("Bytes") + ')';
    };
    if (bytes > OneMegabyte) return scaled(OneMegabyte, "MB");
    if (bytes > OneKilobyte) return scaled(OneKilobyte, "KB");
    return std::to_string(bytes) + ' ' + msgs.GetMsg("Bytes");
}

std::string FormatDecimal(double value, const QLocale& locale)
{
    QLocale plain = locale;
    plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
    const double rounded = RoundTo2(value);
    return plain.toString(rounded == 0 ? 0.0 : rounded, 'f', QLocale::FloatingPointShortest).toStdString();
}

std::string FormatFixed(double value, int decimals, const QLocale& locale)
{
    QLocale plain = locale;
    plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
    return plain.toString(value, 'f', decimals).toStdString();
}

std::string FormatClockTime(double days)
{
    if (!std::isfinite(days) || days <= 0) return "00:00:00";
    // Whole milliseconds first, so that 23:59:59.9996 does not read 24:00:00; then the seconds
    // of the day, dropping the milliseconds.
    const auto ms = static_cast<int64_t>(std::fmod(std::round(days * MsPerDay), MsPerDay));
    const int64_t seconds = ms / 1000;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

std::string FormatLocaleDateTime(double dateTime, const QLocale& locale)
{
    if (!std::isfinite(dateTime) || dateTime < FirstDay || dateTime >= LastDay + 1) return "";
    const double totalMs = std::round(dateTime * MsPerDay);
    const double days = std::floor(totalMs / MsPerDay);
    const auto msOfDay = static_cast<int>(totalMs - days * MsPerDay);
    const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(days));
    const QTime time(msOfDay / 3600000, msOfDay / 60000 % 60, msOfDay / 1000 % 60);
    QString text = locale.toString(date, QLocale::ShortFormat);
    if (time != QTime(0, 0)) text += u' ' + locale.toString(time, LongTimeFormat(locale));
    return text.toStdString();
}

void UseLocaleDateTimeFormat()
{
    SetDateTimeFormatter([](double dateTime) { return FormatLocaleDateTime(dateTime); });
}

QString LongTimeFormat(const QLocale& locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'') quoted = !quoted;
        if (quoted || c != u't') result += c;
    }
    return result.trimmed();
}

}  // namespace tarn
