#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/RegistryLayout.h"
#include "engine/TaskTypes.h"

namespace tarn {

// Icons of the log lists, after the six state icons.
constexpr int LogIconInformation = 6;
constexpr int LogIconOther = 7;

// One row of the task list: the state icon and the texts of the eleven columns.
struct TaskRow {
    int Icon = 0;
    std::array<std::string, TaskListColumnCount> Cells;
};

// One row of the quick-info window.
struct QuickInfoRow {
    float Progress = 0;  // 0 to 1
    float Speed = 0;     // in `Unit`
    std::string Unit;
    std::string Text;
    int ImageIndex = 0;
};

// Commands the tick enables or disables; every other command stays enabled.
struct CommandStates {
    bool Start = false;     // also Pause
    bool AllTasks = false;  // Start All, Pause All, Restart All, Delete All, Schedule All
    bool Selected = false;  // Restart, Delete, Schedule, Skip File, Move Up/Down, Open folders
    bool ChangeSource = false;
};

// Everything the views show after one tick, computed without widgets.
struct ViewRefresh {
    std::vector<TaskRow> Rows;
    std::vector<QuickInfoRow> QuickInfo;
    // Per task: the records its log holds, which its log list reads from the task when it
    // draws them.
    std::vector<int> LogRecordCounts;
    std::array<std::string, 6> StatusTexts;
    // The speeds of all tasks together, for the overall speed graph shown while no row is
    // selected; bytes per second.
    int32_t TotalSpeed = 0;
    int CurrentRow = -1;  // the first selected row; -1 when none
    // The speed-limit track bar for the current row: Max is the task's speed scale and the
    // position Max − limit, so that the top end is the fastest.
    bool TrackBarEnabled = false;
    int32_t TrackBarMax = 0;
    int32_t TrackBarPosition = 0;
    std::string SpeedLabel;
    bool OverallViewsVisible = true;
    CommandStates Commands;
};

}  // namespace tarn
