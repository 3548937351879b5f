#include "core/Units.h"

#include "core/MessageList.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

TEST(UnitsTest, SizesChangeUnitAboveTheUnit)
{
    const TMsgList msgs;
    const std::tuple<int64_t, const char*, const char*> cases[] = {
        {0, "0", "Bytes"},
        {1024, "1024", "Bytes"},
        {1025, "1", "Kb"},
        {1536, "1.5", "Kb"},
        {1048576, "1024", "Kb"},
        {1048577, "1", "Mb"},
        {1572864, "1.5", "Mb"},
        {5368709120, "5120", "Mb"},
        {1234567890123, "1177375.69", "Mb"},
    };
    for (const auto& [bytes, value, unit] : cases) {
        const ScaledValue scaled = ScaleSize(bytes, msgs);
        EXPECT_EQ(FormatDecimal(scaled.Value, English), value) << bytes;
        EXPECT_EQ(scaled.Unit, unit) << bytes;
    }
}

TEST(UnitsTest, SpeedsUseTheSpeedUnits)
{
    const TMsgList msgs;
    const std::tuple<double, const char*, const char*> cases[] = {
        {0, "0", "B/s"},
        {1024, "1024", "B/s"},
        {1048576, "1024", "Kb/s"},
        {1048577, "1", "Mb/s"},
        {12500000, "11.92", "Mb/s"},
    };
    for (const auto& [speed, value, unit] : cases) {
        const ScaledValue scaled = FormatSpeed(speed, msgs);
        EXPECT_EQ(FormatDecimal(scaled.Value, English), value) << speed;
        EXPECT_EQ(scaled.Unit, unit) << speed;
    }
}

// The existing-file question shows one decimal and the whole count beside it: exactly 1024
// bytes and exactly 1 MiB stay in the smaller unit.
TEST(UnitsTest, FileSizesShowOneDecimalAndTheGroupedCount)
{
    const TMsgList msgs;
    const std::tuple<int64_t, const QLocale*, const char*> cases[] = {
        {0, &English, "0 Bytes"},
        {1024, &English, "1024 Bytes"},
        {1025, &English, "1.0 Kb (1,025 Bytes)"},
        {1048576, &English, "1024.0 Kb (1,048,576 Bytes)"},
        {1572864, &English, "1.5 Mb (1,572,864 Bytes)"},
        {1572864, &German, "1,5 Mb (1.572.864 Bytes)"},
        {5368709120, &German, "5120,0 Mb (5.368.709.120 Bytes)"},
    };
    for (const auto& [bytes, locale, text] : cases) EXPECT_EQ(FormatFileSize(bytes, msgs, *locale), text) << bytes;
}

TEST(UnitsTest, LongTimeFormatsLeaveOutTheZone)
{
    EXPECT_EQ(LongTimeFormat(English), "h:mm:ss AP");
    EXPECT_EQ(LongTimeFormat(German), "HH:mm:ss");
}

TEST(UnitsTest, DecimalsFollowTheLocaleWithoutThousandsSeparators)
{
    EXPECT_EQ(FormatDecimal(1234567.456, English), "1234567.46");
    EXPECT_EQ(FormatDecimal(1234567.456, German), "1234567,46");
    EXPECT_EQ(FormatDecimal(2.999, German), "3");
    EXPECT_EQ(FormatDecimal(-0.001, English), "0");
}

TEST(UnitsTest, ClockTimesWrapAtADay)
{
    const std::pair<double, const char*> cases[] = {
        {0, "00:00:00"},
        {-1, "00:00:00"},
        {1.0 / 24 + 2.0 / 1440 + 3.0 / 86400, "01:02:03"},
        {25.0 / 24, "01:00:00"},
        {59.9 / 86400, "00:00:59"},  // milliseconds are dropped
        {1 - 0.0004 / 86400, "00:00:00"},  // 23:59:59.9996 rounds to the next day
    };
    for (const auto& [days, text] : cases) EXPECT_EQ(FormatClockTime(days), text) << days;
}

TEST(UnitsTest, DateTimesUseTheLocaleAndDropMidnight)
{
    EXPECT_EQ(FormatLocaleDateTime(45000.75, English), "3/15/23 6:00:00 PM");
    EXPECT_EQ(FormatLocaleDateTime(45000.75, German), "15.03.23 18:00:00");
    EXPECT_EQ(FormatLocaleDateTime(45000, English), "3/15/23");
    EXPECT_EQ(FormatLocaleDateTime(0, German), "30.12.99");
    EXPECT_EQ(FormatLocaleDateTime(1e300, English), "");
    EXPECT_EQ(FormatLocaleDateTime(std::numeric_limits<double>::quiet_NaN(), English), "");
}

}  // namespace
}  // namespace tarn
