#include "tasks/SpeedGraphModel.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

// Labels as "offset:text".
std::vector<std::string> Shown(const std::vector<AxisLabel>& labels)
{
    std::vector<std::string> shown;
    for (const AxisLabel& label : labels) shown.push_back(std::to_string(label.Offset) + ":" + label.Text);
    return shown;
}

using Labels = std::vector<std::string>;

TEST(SpeedGraphModelTest, TheSpeedScaleFollowsTheLargestSpeedAndNeverShrinks)
{
    SpeedGraphModel graph;
    EXPECT_FALSE(graph.AddValue(0));
    EXPECT_EQ(graph.Scale(100).Unit, SpeedUnit::Bps);
    EXPECT_EQ(graph.SpeedLabels(100, English).front().Text, "1.00");
    EXPECT_TRUE(graph.AddValue(2097152));
    EXPECT_FALSE(graph.AddValue(2097152));  // equal is no growth: the strip stays
    EXPECT_FALSE(graph.AddValue(1000));
    EXPECT_EQ(graph.Maximum(), 2097152);
    EXPECT_EQ(Shown(graph.SpeedLabels(100, English)), (Labels{"0:2.00", "20:1.60", "40:1.20", "60:0.80", "80:0.40"}));
    EXPECT_EQ(graph.SpeedLabels(101, English).back().Offset, 100);
    EXPECT_EQ(graph.SpeedLabels(100, German).front().Text, "2,00");
    EXPECT_TRUE(graph.SpeedLabels(0, English).empty());

    const std::tuple<int32_t, SpeedUnit, const char*> units[] = {
        {1024, SpeedUnit::Bps, "1024.00"}, {1025, SpeedUnit::KBps, "1.00"}, {1536, SpeedUnit::KBps, "1.50"},
        {1048576, SpeedUnit::KBps, "1024.00"}, {1048577, SpeedUnit::MBps, "1.00"},
        {2147483647, SpeedUnit::MBps, "2048.00"},
    };
    for (const auto& [maximum, unit, top] : units) {
        SpeedGraphModel one;
        one.AddValue(maximum);
        EXPECT_EQ(one.Scale(50).Unit, unit) << maximum;
        EXPECT_EQ(one.SpeedLabels(50, English).front().Text, top) << maximum;
    }
}

TEST(SpeedGraphModelTest, BarsColumnsAndTheRingOfSamples)
{
    SpeedGraphModel graph;
    graph.AddValue(1000);
    // A sample's share of the maximum, rounded half up; a negative speed draws no bar.
    const std::tuple<int32_t, int, int> bars[] = {
        {1000, 101, 101}, {500, 100, 50}, {500, 101, 51}, {499, 101, 50}, {0, 100, 0}, {-5, 100, 0}, {1000, 0, 0}};
    for (const auto& [sample, height, bar] : bars) EXPECT_EQ(graph.BarHeight(sample, height), bar) << sample;
    graph.AddValue(2147483647);
    EXPECT_EQ(graph.BarHeight(2147483647, 2147483647), 2147483647);  // no overflow on the way

    SpeedGraphModel ring;
    for (int32_t v = 1; v <= SpeedGraphModel::SlotCount; ++v) ring.AddValue(v);
    ring.AddValue(9999);
    EXPECT_EQ(ring.Sample(0), 9999);
    EXPECT_EQ(ring.Sample(1), 1025);
    EXPECT_EQ(ring.Sample(1024), 2);  // the 1 is gone
    EXPECT_EQ(ring.Sample(1025), 9999);  // a plot wider than the ring repeats the newest
    const std::pair<int, int> columns[] = {{0, 0}, {-4, 0}, {1, 1}, {3, 1}, {4, 2}, {3075, 1025}};
    for (const auto& [width, count] : columns) EXPECT_EQ(ring.ColumnCount(width), count) << width;
    ring.SetColWidth(0);
    EXPECT_EQ(ring.ColumnCount(10), 10);
}

TEST(SpeedGraphModelTest, TimeLabelsGiveTheAgeOfTheSampleAbove)
{
    SpeedGraphModel graph;
    EXPECT_EQ(Shown(graph.TimeLabels(200, English)), (Labels{"199:0", "124:5", "49:10"}));
    graph.SetDataFreq(1000);
    EXPECT_EQ(Shown(graph.TimeLabels(151, English)), (Labels{"150:0", "75:25", "0:50"}));  // the left edge counts
    EXPECT_EQ(Shown(graph.TimeLabels(150, English)), (Labels{"149:0", "74:25"}));
    EXPECT_TRUE(graph.TimeLabels(0, English).empty());
    graph.SetDataFreq(500);
    EXPECT_EQ(Shown(graph.TimeLabels(151, German)), (Labels{"150:0", "75:12,5", "0:25"}));
    graph.SetDataFreq(333);
    graph.SetColWidth(1);
    const Labels many = Shown(graph.TimeLabels(1000, English));
    ASSERT_EQ(many.size(), 40u);
    EXPECT_EQ(many[2], "949:16.65");
    EXPECT_EQ(many[39], "24:324.675");  // exact after many steps
}

}  // namespace
}  // namespace tarn
