#include "tasks/SpeedGraphModel.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

std::vector<std::string> Texts(const std::vector<AxisLabel>& labels)
{
    std::vector<std::string> texts;
    for (const AxisLabel& label : labels) texts.push_back(label.Text);
    return texts;
}

std::vector<int> Offsets(const std::vector<AxisLabel>& labels)
{
    std::vector<int> offsets;
    for (const AxisLabel& label : labels) offsets.push_back(label.Offset);
    return offsets;
}

TEST(SpeedGraphModelTest, TheScaleStartsAtOneByteGrowsWithTheMaximumAndNeverShrinks)
{
    SpeedGraphModel graph;
    EXPECT_FALSE(graph.AddValue(0));
    EXPECT_EQ(graph.Scale(100).Unit, SpeedUnit::Bps);
    EXPECT_EQ(graph.SpeedLabels(100, English).front().Text, "1.00");

    EXPECT_TRUE(graph.AddValue(2097152));
    EXPECT_FALSE(graph.AddValue(2097152));  // equal is no growth: the strip stays
    EXPECT_FALSE(graph.AddValue(1000));
    EXPECT_EQ(graph.Maximum(), 2097152);
    EXPECT_EQ(graph.Scale(100).Unit, SpeedUnit::MBps);
    EXPECT_EQ(Texts(graph.SpeedLabels(100, English)), (std::vector<std::string>{"2.00", "1.60", "1.20", "0.80", "0.40"}));
    EXPECT_EQ(Offsets(graph.SpeedLabels(101, English)), (std::vector<int>{0, 20, 40, 60, 80, 100}));
    EXPECT_TRUE(graph.SpeedLabels(0, English).empty());
    EXPECT_EQ(graph.SpeedLabels(100, German).front().Text, "2,00");
}

TEST(SpeedGraphModelTest, TheUnitChangesAboveEachUnit)
{
    const std::tuple<int32_t, SpeedUnit, const char*> cases[] = {
        {1024, SpeedUnit::Bps, "1024.00"},
        {1025, SpeedUnit::KBps, "1.00"},
        {1536, SpeedUnit::KBps, "1.50"},
        {1048576, SpeedUnit::KBps, "1024.00"},  // no thousands separator
        {1048577, SpeedUnit::MBps, "1.00"},
        {2147483647, SpeedUnit::MBps, "2048.00"},
    };
    for (const auto& [maximum, unit, top] : cases) {
        SpeedGraphModel graph;
        graph.AddValue(maximum);
        EXPECT_EQ(graph.Scale(50).Unit, unit) << maximum;
        EXPECT_EQ(graph.SpeedLabels(50, English).front().Text, top) << maximum;
    }
}

TEST(SpeedGraphModelTest, BarsAreTheSampleShareOfTheMaximumRounded)
{
    SpeedGraphModel graph;
    graph.AddValue(1000);
    const std::tuple<int32_t, int, int> cases[] = {
        {1000, 101, 101},  // the maximum fills the plot
        {500, 100, 50},
        {500, 101, 51},    // 50.5 rounds up
        {499, 101, 50},    // 50.399
        {0, 100, 0},
        {-5, 100, 0},      // a negative speed draws no bar below the axis
        {1000, 0, 0},
    };
    for (const auto& [sample, height, bar] : cases) {
        EXPECT_EQ(graph.BarHeight(sample, height), bar) << sample << " in " << height;
    }
    graph.AddValue(2147483647);
    EXPECT_EQ(graph.BarHeight(2147483647, 2147483647), 2147483647);  // no overflow on the way
}

TEST(SpeedGraphModelTest, TheRingOverwritesItsOldestSlotAndTheWalkWraps)
{
    SpeedGraphModel graph;
    for (int32_t v = 1; v <= SpeedGraphModel::SlotCount; ++v) graph.AddValue(v);
    EXPECT_EQ(graph.Sample(0), 1025);
    EXPECT_EQ(graph.Sample(1024), 1);
    EXPECT_EQ(graph.Sample(1025), 1025);  // a plot wider than the ring repeats the newest
    graph.AddValue(9999);
    EXPECT_EQ(graph.Sample(0), 9999);
    EXPECT_EQ(graph.Sample(1), 1025);
    EXPECT_EQ(graph.Sample(1024), 2);  // the 1 is gone

    const std::pair<int, int> columns[] = {{0, 0}, {-4, 0}, {1, 1}, {3, 1}, {4, 2}, {3075, 1025}};
    for (const auto& [width, count] : columns) EXPECT_EQ(graph.ColumnCount(width), count) << width;
    graph.SetColWidth(0);
    EXPECT_EQ(graph.ColumnCount(10), 10);
}

TEST(SpeedGraphModelTest, TimeLabelsGiveTheAgeOfTheSampleAbove)
{
    SpeedGraphModel graph;
    EXPECT_EQ(Texts(graph.TimeLabels(200, English)), (std::vector<std::string>{"0", "5", "10"}));

    graph.SetDataFreq(1000);
    EXPECT_EQ(Texts(graph.TimeLabels(200, English)), (std::vector<std::string>{"0", "25", "50"}));
    EXPECT_EQ(Offsets(graph.TimeLabels(151, English)), (std::vector<int>{150, 75, 0}));  // the left edge counts
    EXPECT_EQ(Offsets(graph.TimeLabels(150, English)), (std::vector<int>{149, 74}));
    EXPECT_TRUE(graph.TimeLabels(0, English).empty());

    graph.SetDataFreq(500);
    EXPECT_EQ(Texts(graph.TimeLabels(151, English)), (std::vector<std::string>{"0", "12.5", "25"}));
    EXPECT_EQ(Texts(graph.TimeLabels(151, German)), (std::vector<std::string>{"0", "12,5", "25"}));

    graph.SetDataFreq(333);
    graph.SetColWidth(1);
    const std::vector<std::string> many = Texts(graph.TimeLabels(1000, English));
    ASSERT_EQ(many.size(), 40u);
    EXPECT_EQ(many[2], "16.65");
    EXPECT_EQ(many[39], "324.675");  // exact after many steps
}

}  // namespace
}  // namespace tarn
