#include "core/Units.h"

#include <functional>

#include "core/MessageList.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

TEST(UnitsTest, SizesAndSpeedsChangeUnitAboveTheUnit)
{
    const TMsgList msgs;
    const auto size = [&](double bytes) { return ScaleSize(static_cast<int64_t>(bytes), msgs); };
    const auto speed = [&](double bytes) { return FormatSpeed(bytes, msgs); };
    const std::tuple<std::function<ScaledValue(double)>, double, const char*> cases[] = {
        {size, 1024, "1024 Bytes"}, {size, 1025, "1 Kb"}, {size, 1536, "1.5 Kb"}, {size, 1048576, "1024 Kb"},
        {size, 1048577, "1 Mb"}, {size, 1234567890123, "1177375.69 Mb"}, {speed, 1024, "1024 B/s"},
        {speed, 1048577, "1 Mb/s"}, {speed, 12500000, "11.92 Mb/s"},
    };
    for (const auto& [scale, value, text] : cases) {
        const ScaledValue scaled = scale(value);
        EXPECT_EQ(FormatDecimal(scaled.Value, English) + " " + scaled.Unit, text) << value;
    }
}

// The existing-file question shows one decimal and the whole count beside it: exactly 1024
// bytes and exactly 1 MiB stay in the smaller unit.
TEST(UnitsTest, NumbersFollowTheLocaleWithoutThousandsSeparatorsButTheFileSizeCount)
{
    const TMsgList msgs;
    const std::tuple<int64_t, const QLocale*, const char*> sizes[] = {
        {1024, &English, "1024 Bytes"}, {1048576, &English, "1024.0 Kb (1,048,576 Bytes)"},
        {1572864, &English, "1.5 Mb (1,572,864 Bytes)"}, {5368709120, &German, "5120,0 Mb (5.368.709.120 Bytes)"},
    };
    for (const auto& [bytes, locale, text] : sizes) EXPECT_EQ(FormatFileSize(bytes, msgs, *locale), text) << bytes;
    const std::tuple<std::string, std::string> numbers[] = {
        {FormatDecimal(1234567.456, German), "1234567,46"}, {FormatDecimal(2.999, German), "3"},
        {FormatDecimal(-0.001, English), "0"}, {FormatFixed(1234567.456, 1, English), "1234567.5"},
        {FormatFixed(0.5, 2, German), "0,50"}, {LongTimeFormat(English).toStdString(), "h:mm:ss AP"},
    };
    for (const auto& [shown, expected] : numbers) EXPECT_EQ(shown, expected);
}

TEST(UnitsTest, TimesWrapAtADayAndDatesDropMidnight)
{
    const std::pair<double, const char*> clock[] = {
        {-1, "00:00:00"}, {1.0 / 24 + 2.0 / 1440 + 3.0 / 86400, "01:02:03"}, {25.0 / 24, "01:00:00"},
        {59.9 / 86400, "00:00:59"},        // milliseconds are dropped
        {1 - 0.0004 / 86400, "00:00:00"},  // 23:59:59.9996 rounds to the next day
    };
    for (const auto& [days, text] : clock) EXPECT_EQ(FormatClockTime(days), text) << days;
    const std::tuple<double, const QLocale*, const char*> dates[] = {
        {45000.75, &English, "3/15/23 6:00:00 PM"}, {45000.75, &German, "15.03.23 18:00:00"},
        {45000, &English, "3/15/23"}, {1e300, &English, ""}, {std::numeric_limits<double>::quiet_NaN(), &English, ""},
    };
    for (const auto& [days, locale, text] : dates) EXPECT_EQ(FormatLocaleDateTime(days, *locale), text) << days;
}

}  // namespace
}  // namespace tarn
