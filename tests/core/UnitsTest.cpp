#include "core/Units.h"

#include "core/MessageList.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

TEST(UnitsTest, SizesSpeedsNumbersAndTimesShowInTheirUnitAndLocale)
{
    const TMsgList msgs;
    const auto scaled = [](const ScaledValue& v) { return FormatDecimal(v.Value, English) + " " + v.Unit; };
    const std::pair<std::string, const char*> cases[] = {
        // A unit takes over above the one below it; numbers have no thousands separators.
        {scaled(ScaleSize(1024, msgs)), "1024 Bytes"}, {scaled(ScaleSize(1025, msgs)), "1 Kb"},
        {scaled(ScaleSize(1536, msgs)), "1.5 Kb"}, {scaled(ScaleSize(1048576, msgs)), "1024 Kb"},
        {scaled(ScaleSize(1048577, msgs)), "1 Mb"}, {scaled(ScaleSize(1234567890123, msgs)), "1177375.69 Mb"},
        {scaled(FormatSpeed(1024, msgs)), "1024 B/s"}, {scaled(FormatSpeed(12500000, msgs)), "11.92 Mb/s"},
        {FormatDecimal(1234567.456, German), "1234567,46"}, {FormatDecimal(2.999, German), "3"},
        {FormatDecimal(-0.001, English), "0"}, {FormatFixed(1234567.456, 1, English), "1234567.5"},
        {FormatFixed(0.5, 2, German), "0,50"}, {LongTimeFormat(English).toStdString(), "h:mm:ss AP"},
        // The existing-file question shows one decimal and the whole count beside it.
        {FormatFileSize(1024, msgs, English), "1024 Bytes"},
        {FormatFileSize(1048576, msgs, English), "1024.0 Kb (1,048,576 Bytes)"},
        {FormatFileSize(5368709120, msgs, German), "5120,0 Mb (5.368.709.120 Bytes)"},
        // Clock times wrap at a day and drop milliseconds; dates drop midnight.
        {FormatClockTime(-1), "00:00:00"}, {FormatClockTime(1.0 / 24 + 2.0 / 1440 + 3.0 / 86400), "01:02:03"},
        {FormatClockTime(25.0 / 24), "01:00:00"}, {FormatClockTime(59.9 / 86400), "00:00:59"},
        {FormatClockTime(1 - 0.0004 / 86400), "00:00:00"},  // 23:59:59.9996 rounds to the next day
        {FormatLocaleDateTime(45000.75, English), "3/15/23 6:00:00 PM"},
        {FormatLocaleDateTime(45000.75, German), "15.03.23 18:00:00"}, {FormatLocaleDateTime(45000, English), "3/15/23"},
        {FormatLocaleDateTime(1e300, English), ""},
        {FormatLocaleDateTime(std::numeric_limits<double>::quiet_NaN(), English), ""},
    };
    for (const auto& [shown, expected] : cases) EXPECT_EQ(shown, expected);
}

}  // namespace
}  // namespace tarn
