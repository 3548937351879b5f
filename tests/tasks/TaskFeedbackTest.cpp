#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/TaskTypes.h"
#include "tasks/TaskFeedback.h"

namespace tarn {
namespace {

using Kind = FeedbackEvent::Kind;

// One tick: each task as (id, state); the events that tick is to raise, as "kind:name".
struct Tick {
    std::vector<std::pair<uint64_t, uint8_t>> Tasks;
    std::vector<std::string> Events;
    bool PausedBefore = false;  // the queue paused task 1 for its errors before this tick
};

std::string Describe(const FeedbackEvent& event)
{
    switch (event.What) {
    case Kind::TaskFinished: return "finished:" + event.Name;
    case Kind::TaskPausedForErrors: return "paused:" + event.Name;
    case Kind::AllDone: return "all done";
    }
    return {};
}

TEST(TaskFeedbackTest, EventsFollowTheStatesFromTickToTick)
{
    const struct {
        const char* Case;
        std::vector<Tick> Ticks;
    } rows[] = {
        {"one task finishes: its own notification, no second one for all",
         {{{{1, StateCopying}}, {}}, {{{1, StateFinished}}, {"finished:t1"}}, {{{1, StateFinished}}, {}}}},
        {"restored finished, or added and finished within a tick: nothing",
         {{{{1, StateFinished}}, {}}, {{{1, StateFinished}, {2, StateFinished}}, {}}}},
        {"two finish in turn: each, then all done once",
         {{{{1, StateCopying}, {2, StatePaused}}, {}},
          {{{1, StateFinished}, {2, StateCopying}}, {"finished:t1"}},
          {{{1, StateFinished}, {2, StateFinished}}, {"finished:t2", "all done"}},
          {{{1, StateFinished}, {2, StateFinished}}, {}}}},
        {"a finished task removed before the last one finishes still counts toward all done",
         {{{{1, StateCopying}, {2, StateCopying}}, {}},
          {{{1, StateFinished}, {2, StateCopying}}, {"finished:t1"}},
          {{{2, StateCopying}}, {}},
          {{{2, StateFinished}}, {"finished:t2", "all done"}}}},
        {"a task restarted after finishing is reported again",
         {{{{1, StateCopying}}, {}}, {{{1, StateFinished}}, {"finished:t1"}}, {{{1, StateScanning}}, {}},
          {{{1, StateFinished}}, {"finished:t1"}}}},
        {"paused for errors by the queue, reported at the next tick; a pause by the user is not",
         {{{{1, StateError}, {2, StatePaused}}, {}},
          {{{1, StatePaused}, {2, StateCopying}}, {"paused:t1"}, true},
          {{{1, StatePaused}, {2, StatePaused}}, {}}}},
    };
    for (const auto& row : rows) {
        TaskFeedback feedback;
        for (size_t t = 0; t < row.Ticks.size(); ++t) {
            const Tick& tick = row.Ticks[t];
            if (tick.PausedBefore) feedback.PausedForErrors("/srv/share/t1/");
            std::vector<FeedbackTask> tasks;
            for (const auto& [id, state] : tick.Tasks)
                tasks.push_back({id, state, "/srv/share/t" + std::to_string(id) + "/", 0, 0});
            std::vector<std::string> events;
            for (const FeedbackEvent& event : feedback.Update(tasks)) events.push_back(Describe(event));
            EXPECT_EQ(events, tick.Events) << row.Case << ", tick " << t;
        }
    }
}

TEST(TaskFeedbackTest, LauncherShowsTheUnfinishedBytesAndTheActiveTasks)
{
    const struct {
        std::vector<FeedbackTask> Tasks;
        double Progress;
        bool Visible;
        int Active;
    } rows[] = {
        {{}, 0, false, 0},
        // Finished tasks leave the figures; a paused one keeps its bytes but is not active.
        {{{1, StateFinished, "a", 900, 900}, {2, StateCopying, "b", 25, 100}, {3, StatePaused, "c", 0, 100}}, 0.125, true, 1},
        {{{1, StatePaused, "a", 50, 100}}, 0.5, false, 0},
        // Scanning, its total not known yet; a copied count past a shrunk total counts as whole.
        {{{1, StateScanning, "a", 0, 0}, {2, StateError, "b", 300, 200}}, 1.0, true, 2},
    };
    for (const auto& row : rows) {
        const LauncherState launcher = TaskFeedback::Launcher(row.Tasks);
        EXPECT_DOUBLE_EQ(launcher.Progress, row.Progress);
        EXPECT_EQ(launcher.ProgressVisible, row.Visible);
        EXPECT_EQ(launcher.Active, row.Active);
    }
}

}  // namespace
}  // namespace tarn
