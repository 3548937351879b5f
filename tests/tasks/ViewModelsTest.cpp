// What the windows show, as plain logic: the feedback of finished tasks and the speed graph.
#include <gtest/gtest.h>

#include <tuple>

#include "engine/TaskTypes.h"
#include "tasks/SpeedGraphModel.h"
#include "tasks/TaskFeedback.h"

namespace tarn {
namespace {

// Each tick: its tasks as "1C 2F" (an id, then the letter of its state in "SCEPZF"), a leading '!'
// when the queue paused task 1 for its errors before it; then the events it raises.
TEST(TaskFeedbackTest, EventsFollowTheStatesFromTickToTick)
{
    using Ticks = std::vector<std::pair<std::string, std::vector<std::string>>>;
    const std::pair<const char*, Ticks> rows[] = {
        {"one task finishes: its own notification, no second one for all",
         {{"1C", {}}, {"1F", {"finished:t1"}}, {"1F", {}}}},
        {"restored finished, or added and finished within a tick: nothing", {{"1F", {}}, {"1F 2F", {}}}},
        {"two finish in turn: each, then all done once",
         {{"1C 2P", {}}, {"1F 2C", {"finished:t1"}}, {"1F 2F", {"finished:t2", "all done"}}, {"1F 2F", {}}}},
        {"a finished task removed before the last one finishes still counts toward all done",
         {{"1C 2C", {}}, {"1F 2C", {"finished:t1"}}, {"2C", {}}, {"2F", {"finished:t2", "all done"}}}},
        {"a task restarted after finishing is reported again",
         {{"1C", {}}, {"1F", {"finished:t1"}}, {"1S", {}}, {"1F", {"finished:t1"}}}},
        {"paused for errors by the queue, reported at the next tick; a pause by the user is not",
         {{"1E 2P", {}}, {"!1P 2C", {"paused:t1"}}, {"1P 2P", {}}}},
    };
    const char* const kinds[] = {"finished:", "paused:", "all done"};
    for (const auto& [name, ticks] : rows) {
        TaskFeedback feedback;
        for (const auto& [states, expected] : ticks) {
            if (states[0] == '!') feedback.PausedForErrors("/srv/share/t1/");
            std::vector<FeedbackTask> tasks;
            for (size_t at = states.find_first_of("12"); at < states.size(); at += 3)
                tasks.push_back({static_cast<uint64_t>(states[at] - '0'),
                                 static_cast<uint8_t>(std::string("SCEPZF").find(states[at + 1])),
                                 "/srv/share/t" + states.substr(at, 1) + "/", 0, 0});
            std::vector<std::string> events;
            for (const FeedbackEvent& event : feedback.Update(tasks))
                events.push_back(kinds[static_cast<int>(event.What)] + event.Name);
            EXPECT_EQ(events, expected) << name << ": " << states;
        }
    }
}

// The launcher's progress, whether it shows, and the count of active tasks.
TEST(TaskFeedbackTest, LauncherShowsTheUnfinishedBytesAndTheActiveTasks)
{
    const std::pair<std::vector<FeedbackTask>, std::tuple<double, bool, int>> rows[] = {
        {{}, {0, false, 0}},
        // Finished tasks leave the figures; a paused one keeps its bytes but is not active.
        {{{1, StateFinished, "a", 900, 900}, {2, StateCopying, "b", 25, 100}, {3, StatePaused, "c", 0, 100}}, {0.125, true, 1}},
        {{{1, StatePaused, "a", 50, 100}}, {0.5, false, 0}},
        // Scanning, its total not known yet; a copied count past a shrunk total counts as whole.
        {{{1, StateScanning, "a", 0, 0}, {2, StateError, "b", 300, 200}}, {1.0, true, 2}},
    };
    for (const auto& [tasks, expected] : rows) {
        const LauncherState launcher = TaskFeedback::Launcher(tasks);
        EXPECT_EQ(std::tuple(launcher.Progress, launcher.ProgressVisible, launcher.Active), expected);
    }
}


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
