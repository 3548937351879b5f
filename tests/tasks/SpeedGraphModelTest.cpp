#include "tasks/SpeedGraphModel.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);
using Labels = std::vector<std::string>;

// Labels as "offset:text".
Labels Shown(const std::vector<AxisLabel>& labels)
{
    Labels shown;
    for (const AxisLabel& label : labels) shown.push_back(std::to_string(label.Offset) + ":" + label.Text);
    return shown;
}

TEST(SpeedGraphModelTest, TheSpeedScaleFollowsTheLargestSpeedAndNeverShrinks)
{
    SpeedGraphModel graph;
    EXPECT_FALSE(graph.AddValue(0));
    EXPECT_TRUE(graph.AddValue(2097152));
    EXPECT_FALSE(graph.AddValue(2097152));  // equal is no growth: the strip stays
    EXPECT_FALSE(graph.AddValue(1000));
    EXPECT_EQ(Shown(graph.SpeedLabels(100, English)), (Labels{"0:2.00", "20:1.60", "40:1.20", "60:0.80", "80:0.40"}));
    EXPECT_EQ(graph.SpeedLabels(100, German).front().Text, "2,00");
    EXPECT_TRUE(graph.SpeedLabels(0, English).empty());
    const std::tuple<int32_t, SpeedUnit, const char*> units[] = {
        {0, SpeedUnit::Bps, "1.00"}, {1024, SpeedUnit::Bps, "1024.00"}, {1025, SpeedUnit::KBps, "1.00"},
        {1048577, SpeedUnit::MBps, "1.00"}, {2147483647, SpeedUnit::MBps, "2048.00"},
    };
    for (const auto& [maximum, unit, top] : units) {
        SpeedGraphModel one;
        one.AddValue(maximum);
        EXPECT_EQ(one.Scale(50).Unit, unit) << maximum;
        EXPECT_EQ(one.SpeedLabels(50, English).front().Text, top) << maximum;
    }
}

TEST(SpeedGraphModelTest, BarsColumnsTimeLabelsAndTheRingOfSamples)
{
    SpeedGraphModel graph;
    graph.AddValue(1000);
    // A sample's share of the maximum, rounded half up; a negative speed draws no bar.
    const std::tuple<int32_t, int, int> bars[] = {{1000, 101, 101}, {500, 101, 51}, {499, 101, 50}, {-5, 100, 0}};
    for (const auto& [sample, height, bar] : bars) EXPECT_EQ(graph.BarHeight(sample, height), bar) << sample;
    graph.AddValue(2147483647);
    EXPECT_EQ(graph.BarHeight(2147483647, 2147483647), 2147483647);  // no overflow on the way
    graph.SetDataFreq(500);
    EXPECT_EQ(Shown(graph.TimeLabels(151, German)), (Labels{"150:0", "75:12,5", "0:25"}));  // the left edge counts
    EXPECT_EQ(Shown(graph.TimeLabels(150, English)), (Labels{"149:0", "74:12.5"}));
    graph.SetDataFreq(333);
    graph.SetColWidth(1);
    EXPECT_EQ(Shown(graph.TimeLabels(1000, English))[39], "24:324.675");  // exact after many steps

    SpeedGraphModel ring;
    for (int32_t v = 1; v <= SpeedGraphModel::SlotCount + 1; ++v) ring.AddValue(v);
    EXPECT_EQ(ring.Sample(1024), 2);  // the 1 is gone
    EXPECT_EQ(ring.Sample(1025), SpeedGraphModel::SlotCount + 1);  // a plot wider than the ring repeats the newest
    const std::pair<int, int> columns[] = {{-4, 0}, {3, 1}, {4, 2}, {3075, 1025}};
    for (const auto& [width, count] : columns) EXPECT_EQ(ring.ColumnCount(width), count) << width;
}

}  // namespace
}  // namespace tarn
