#include "tasks/SpeedGraphModel.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);

// Labels as "offset:text".
std::vector<std::string> Shown(const std::vector<AxisLabel>& labels)
{
    std::vector<std::string> shown;
    for (const AxisLabel& label : labels) shown.push_back(std::to_string(label.Offset) + ":" + label.Text);
    return shown;
}

TEST(SpeedGraphModelTest, TheScaleFollowsTheLargestSpeedAndBarsAndLabelsFollowTheScale)
{
    SpeedGraphModel graph;
    EXPECT_TRUE(graph.AddValue(1000));
    EXPECT_FALSE(graph.AddValue(1000));  // equal is no growth: the strip stays
    EXPECT_FALSE(graph.AddValue(10));
    // A sample's share of the maximum, rounded half up; a negative speed draws no bar.
    const std::tuple<int32_t, int, int> bars[] = {{1000, 101, 101}, {500, 101, 51}, {499, 101, 50}, {-5, 100, 0}};
    for (const auto& [sample, height, bar] : bars) EXPECT_EQ(graph.BarHeight(sample, height), bar) << sample;
    graph.AddValue(2097152);
    EXPECT_EQ(graph.Scale(100).Unit, SpeedUnit::MBps);
    EXPECT_EQ(Shown(graph.SpeedLabels(100, English)),
              (std::vector<std::string>{"0:2.00", "20:1.60", "40:1.20", "60:0.80", "80:0.40"}));
    graph.AddValue(2147483647);
    EXPECT_EQ(graph.BarHeight(2147483647, 2147483647), 2147483647);  // no overflow on the way
    graph.SetDataFreq(333);
    graph.SetColWidth(1);
    EXPECT_EQ(Shown(graph.TimeLabels(1000, English))[39], "24:324.675");  // exact after many steps

    SpeedGraphModel ring;
    for (int32_t v = 1; v <= SpeedGraphModel::SlotCount + 1; ++v) ring.AddValue(v);
    EXPECT_EQ(ring.Sample(1024), 2);  // the 1 is gone
    EXPECT_EQ(ring.Sample(1025), SpeedGraphModel::SlotCount + 1);  // a plot wider than the ring repeats the newest
    EXPECT_EQ(ring.ColumnCount(3075), 1025);
}

}  // namespace
}  // namespace tarn
