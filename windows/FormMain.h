#pragma once

#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

#include "core/MessageList.h"
#include "core/Registry.h"
#include "tasks/CommandHost.h"
#include "tasks/DesktopFeedback.h"
#include "tasks/PowerControl.h"
#include "tasks/SchedulerHost.h"
#include "tasks/SpeedGraphModel.h"
#include "tasks/TaskListViews.h"
#include "tasks/ViewRefresh.h"

class QAction;
class QFontMetrics;
class QLabel;
class QMenu;
class QSlider;
class QSplitter;
class QStackedWidget;
class QSystemTrayIcon;
class QTabWidget;
class QTableView;
class QTimer;
class QTreeView;

namespace tarn {

class LogListModel;
class QueueScheduler;
class TaskCommands;
class TaskList;
class TaskTableModel;
class TfrmQuickInfo;
class TSettingsStorage;
class TSpeedGraph;

// The program's main window: the task list, the speed graphs and logs of the tasks, the
// speed-limit control, the status bar, the menus, the toolbar and the notification-area icon.
// It is a view: the task list, the scheduler tick and the commands are the classes it owns,
// and each tick's ViewRefresh says what to draw. It answers their questions with the dialogs.
//
// Closing keeps every task: TaskList is saved, the workers stop and their restore files stay
// for the next start. With MinimizeInsteadClose the close button hides the window instead;
// Exit, a termination signal and the end of the desktop session close it for good.
class TfrmMain : public QMainWindow, public TaskListViews, public CommandHost, public SchedulerHost {
    Q_OBJECT

public:
    static constexpr int DesignWidth = 684;
    static constexpr int DesignHeight = 374;
    static constexpr int DesignTaskListHeight = 129;
    static constexpr int MinimumPaneHeight = 70;
    static constexpr int SpeedPanelWidth = 80;
    static constexpr int StatusPanelWidth = 100;
    static constexpr int TickInterval = 1000;  // milliseconds

    // `registry`: the settings files (tests give their own). `power` powers the computer off
    // when all is done; the system's logind when not given.
    explicit TfrmMain(RegistryLocation registry = {}, std::unique_ptr<PowerControl> power = {});
    ~TfrmMain() override;

    // One scheduler tick and the refresh of every view. Ticks do not nest: one asked for while
    // another shows a dialog is left out.
    void tmTaskGridTimer();
    // Closes the program regardless of MinimizeInsteadClose.
    void Exit();
    // The closing sequence, once: tasks stopped and kept, the window's values and the settings
    // stored. Runs on close, on Exit and when the application quits.
    void FormClose();
    bool IsClosed() const { return closed_; }

    // New tasks through the new-task dialog, its source filled in (dropped files).
    void AddTasksByDialog(const std::vector<std::string>& sources);
    // One task per source into `destination`, started at once.
    void AddTasksDirect(const std::vector<std::string>& sources, const std::string& destination);
    // Shows the program from the notification area or hides it there.
    void ToggleApplication();
    void BringToFront();

    TaskList& Tasks() const { return *tasks_; }
    QueueScheduler& Scheduler() const { return *scheduler_; }
    TSettingsStorage& Settings() const { return *settings_; }
    const TMsgList& Msgs() const { return msgs_; }
    QTableView& TaskListView() const { return *lvTaskList_; }
    TaskTableModel& TaskModel() const { return *taskModel_; }
    LogListModel& LogModel(int task) const;
    // The rows selected in the task list, ascending.
    std::vector<int> SelectedRows() const;
    void SelectRows(const std::vector<int>& rows);

    // Questions of the commands and of the tick.
    bool Confirm(const std::string& msgId) override;
    std::optional<bool> AskDeleteTask() override;
    std::optional<double> AskScheduleTime(double proposed) override;
    std::optional<std::string> AskNewSource(uint8_t sourceKind) override;
    std::optional<NewTaskAnswer> AskNewTask(bool startAllowed, const std::string& sourceText) override;
    bool EditSettings(int taskCount) override;
    void LanguageChanged() override;
    void QuickInfoChanged(bool enabled) override;
    void AskAboutExistingFile(TDownloadThread& task) override;
    bool ConfirmShutDown() override;
    void ShowError(const std::string& text) override;
    void Notify(const FeedbackEvent& event) override;
    void ShowLauncher(const LauncherState& state) override;

    // The log list and speed graph of each task, kept at its index.
    void InsertViews(int index) override;
    void RemoveViews(int index) override;
    void MoveViews(int from, int to) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct TaskViews {
        LogListModel* LogModel = nullptr;
        QTreeView* LogView = nullptr;
        TSpeedGraph* Graph = nullptr;
    };

    void CreateActions();
    QAction* AddAction(const char* name, const char* icon, const QKeySequence& shortcut, void (TfrmMain::*slot)());
    void CreateMenus();
    void CreateToolBar();
    void CreateViews();
    void CreateStatusBar();
    void CreateTrayIcon();
    QTreeView* CreateLogView(LogListModel& model);
    TSpeedGraph* CreateSpeedGraph(SpeedGraphModel& model);
    void Translate();
    void TranslateGraph(TSpeedGraph& graph) const;
    // What a cell of a task-list column typically needs, for the first start's widths.
    int TypicalCellWidth(int column, const QFontMetrics& metrics) const;
    void ReadPlacement();
    void PlaceOnScreen(QPoint frameCorner);
    void WritePlacement();

    void ApplyRefresh(ViewRefresh& view);
    void ShowLogRecords(TaskViews& views, int count);
    void ApplyCommandStates(const CommandStates& states);
    void SyncQueueChecks();
    void HideToTray();
    void RunTickSoon();
    void trbSpeedLimitChange(int position);

    void actNewTaskExecute();
    void actStartExecute();
    void actStartAllExecute();
    void actPauseExecute();
    void actPauseAllExecute();
    void actRestartExecute();
    void actRestartAllExecute();
    void actDeleteExecute();
    void actDeleteAllExecute();
    void actScheduleExecute();
    void actScheduleAllExecute();
    void actSkipFileExecute();
    void actChangeSourceExecute();
    void actDeleteFinishedExecute();
    void actMoveUpExecute();
    void actMoveDownExecute();
    void actOpenSrcExecute();
    void actOpenDstExecute();
    void actGlobalQueueExecute();
    void actSourceQueueExecute();
    void actShutDownExecute();
    void actSettingsExecute();
    void actRestDefSettingsExecute();
    void actHelpTopicsExecute();
    void actAboutExecute();
    void actExitExecute();
    void OpenFolderOfCell(int column);
    bool ListInUse() const;

    std::unique_ptr<TSettingsStorage> settings_;
    TMsgList msgs_;
    std::unique_ptr<PowerControl> power_;
    std::unique_ptr<TaskList> tasks_;
    std::unique_ptr<QueueScheduler> scheduler_;
    std::unique_ptr<TaskCommands> commands_;

    TaskTableModel* taskModel_ = nullptr;
    QTableView* lvTaskList_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QTabWidget* pcInfo_ = nullptr;
    QStackedWidget* speedStack_ = nullptr;
    QStackedWidget* logStack_ = nullptr;
    QSlider* trbSpeedLimit_ = nullptr;
    QLabel* lblSpeedValue_ = nullptr;
    std::vector<QLabel*> statusPanels_;
    QMenu* trayMenu_ = nullptr;
    QSystemTrayIcon* trayIcon_ = nullptr;
    std::unique_ptr<DesktopFeedback> desktopFeedback_;
    QTimer* tmTaskGrid_ = nullptr;
    std::unique_ptr<TfrmQuickInfo> quickInfo_;

    SpeedGraphModel overallGraphModel_;
    LogListModel* overallLogModel_ = nullptr;
    std::vector<TaskViews> taskViews_;

    bool ticking_ = false;
    bool tickQueued_ = false;
    bool exiting_ = false;
    bool closed_ = false;
};

}  // namespace tarn
