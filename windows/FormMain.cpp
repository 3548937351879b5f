#include "windows/FormMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

#include "core/FormCaptions.h"
#include "core/Globals.h"
#include "core/RegistryLayout.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "engine/GlobalUtils.h"
#include "tasks/PowerControl.h"
#include "tasks/QueueScheduler.h"
#include "tasks/TaskCommands.h"
#include "tasks/TaskList.h"
#include "tasks/ViewTexts.h"
#include "windows/DroppedSources.h"
#include "windows/FileOrFolderDialog.h"
#include "windows/FormAbout.h"
#include "windows/FormDelTask.h"
#include "windows/FormDstFileExists.h"
#include "windows/FormNewTask.h"
#include "windows/FormQuickInfo.h"
#include "windows/FormSchedule.h"
#include "windows/FormSettings.h"
#include "windows/FormShutDown.h"
#include "windows/Icons.h"
#include "windows/LogListModel.h"
#include "windows/QtTranslation.h"
#include "windows/SpeedGraph.h"
#include "windows/TaskTableModel.h"
#include "windows/TranslateForm.h"

namespace tarn {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

constexpr int ToolBarIconSide = 24;
constexpr int LogIconColumnWidth = 26;
constexpr int LogTimeColumnWidth = 111;
constexpr int LogMessageColumnWidth = 1024;
// FitColumn's room beside a text.
constexpr int FitPadding = 12;
// A batch of log records larger than this (a restored log) fits its columns to its last rows.
constexpr int FitRowsPerBatch = 64;

enum TaskColumn { ColSource = 1, ColDestination = 2 };

const char* const ColumnKeys[TaskListColumnCount] = {
    "lvTaskList.State",   "lvTaskList.Src",     "lvTaskList.Dst",     "lvTaskList.File",
    "lvTaskList.Files",   "lvTaskList.Size",    "lvTaskList.Copied",  "lvTaskList.Percent",
    "lvTaskList.Elapsed", "lvTaskList.Remaining", "lvTaskList.Speed",
};

// The English caption of an action, from the captions the language files translate.
QString EnglishCaption(const char* action)
{
    const std::string key = std::string(action) + ".Caption";
    for (const CaptionText& caption : FormMainCaptions.Properties)
        if (key == caption.Key) return QString::fromUtf8(caption.Text);
    return QString::fromUtf8(action);
}

// Widens a column to its caption in the header's font, never narrows it.
void FitHeader(QTreeView& view, int column)
{
    const QString caption = view.model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    const int wanted = view.header()->fontMetrics().horizontalAdvance(caption) + 2 * FitPadding;
    if (view.columnWidth(column) < wanted) view.setColumnWidth(column, wanted);
}

// Widens a column to a text, never narrows it.
void FitColumn(QTreeView& view, int column, const QString& text)
{
    const int wanted = view.fontMetrics().horizontalAdvance(text) + FitPadding;
    if (view.columnWidth(column) < wanted) view.setColumnWidth(column, wanted);
}

}  // namespace

TfrmMain::TfrmMain(RegistryLocation registry, std::unique_ptr<PowerControl> power)
    : settings_(std::make_unique<TSettingsStorage>(std::move(registry))),
      power_(power ? std::move(power) : std::make_unique<LogindPowerControl>())
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(ProgramName));
    setWindowIcon(TarnIcon("tarnwell"));
    setAcceptDrops(true);

    msgs_.LoadCatalogue(*settings_);
    tasks_ = std::make_unique<TaskList>(*settings_, msgs_, *this);
    scheduler_ = std::make_unique<QueueScheduler>(*tasks_, *settings_, msgs_, *this, *power_);
    commands_ = std::make_unique<TaskCommands>(*tasks_, *scheduler_, *settings_, msgs_, *this);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateViews();
    CreateStatusBar();
    CreateTrayIcon();

    quickInfo_ = std::make_unique<TfrmQuickInfo>(*settings_);
    quickInfo_->SetContextMenu(trayMenu_);
    connect(quickInfo_.get(), &TfrmQuickInfo::ToggleApplicationRequested, this, &TfrmMain::ToggleApplication);
    connect(quickInfo_.get(), &TfrmQuickInfo::ActivateMainWindowRequested, this, &TfrmMain::BringToFront);
    // Queued: the dialogs open after the drop has ended, not inside it.
    connect(
        quickInfo_.get(), &TfrmQuickInfo::AddTasksRequested, this,
        [this](const QString& sources) {
            std::vector<std::string> paths;
            SplitQuotedPaths(sources.toStdString(), paths);
            AddTasksByDialog(paths);
        },
        Qt::QueuedConnection);
    connect(
        quickInfo_.get(), &TfrmQuickInfo::DropRefused, this, [this](const QString& reasons) { ShowError(reasons.toStdString()); },
        Qt::QueuedConnection);

    commands_->LoadQueueModes();
    SyncQueueChecks();
    Translate();
    ReadPlacement();
    if (settings_->EnableQuickInfo()) quickInfo_->show();

    tasks_->LoadTaskList();

    tmTaskGrid_ = new QTimer(this);
    tmTaskGrid_->setInterval(TickInterval);
    connect(tmTaskGrid_, &QTimer::timeout, this, &TfrmMain::tmTaskGridTimer);
    tmTaskGridTimer();
    tmTaskGrid_->start();
    connect(qApp, &QCoreApplication::aboutToQuit, this, &TfrmMain::FormClose);
}

TfrmMain::~TfrmMain() { FormClose(); }

// ---- Building the window ----

QAction* TfrmMain::AddAction(const char* name, const char* icon, const QKeySequence& shortcut,
                             void (TfrmMain::*slot)())
{
    auto* action = new QAction(this);
    action->setObjectName(QString::fromLatin1(name));
    if (icon != nullptr) action->setIcon(TarnIcon(icon));
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, slot);
    addAction(action);
    return action;
}

void TfrmMain::CreateActions()
{
    AddAction("actNewTask", "new-task", QKeySequence::New, &TfrmMain::actNewTaskExecute);
    // Enter and Space act on the selected tasks wherever the focus is in the window.
    QAction* start = AddAction("actStart", "start", QKeySequence(Qt::Key_Return), &TfrmMain::actStartExecute);
    start->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    AddAction("actStartAll", "start-all", {}, &TfrmMain::actStartAllExecute);
    AddAction("actPause", "pause", QKeySequence(Qt::Key_Space), &TfrmMain::actPauseExecute);
    AddAction("actPauseAll", "pause-all", {}, &TfrmMain::actPauseAllExecute);
    AddAction("actRestart", "restart", {}, &TfrmMain::actRestartExecute);
    AddAction("actRestartAll", "restart-all", {}, &TfrmMain::actRestartAllExecute);
    AddAction("actDelete", "delete", QKeySequence::Delete, &TfrmMain::actDeleteExecute);
    AddAction("actDeleteAll", "delete-all", {}, &TfrmMain::actDeleteAllExecute);
    AddAction("actSchedule", "schedule", {}, &TfrmMain::actScheduleExecute);
    AddAction("actScheduleAll", "schedule-all", {}, &TfrmMain::actScheduleAllExecute);
    AddAction("actSkipFile", "skip-file", {}, &TfrmMain::actSkipFileExecute);
    AddAction("actChangeSource", "change-source", {}, &TfrmMain::actChangeSourceExecute);
    AddAction("actDeleteFinished", "delete-finished", {}, &TfrmMain::actDeleteFinishedExecute);
    AddAction("actMoveUp", "move-up", {}, &TfrmMain::actMoveUpExecute);
    AddAction("actMoveDown", "move-down", {}, &TfrmMain::actMoveDownExecute);
    AddAction("actOpenSrc", "open-src", {}, &TfrmMain::actOpenSrcExecute);
    AddAction("actOpenDst", "open-dst", {}, &TfrmMain::actOpenDstExecute);
    AddAction("actGlobalQueue", "global-queue", {}, &TfrmMain::actGlobalQueueExecute)->setCheckable(true);
    AddAction("actSourceQueue", "source-queue", {}, &TfrmMain::actSourceQueueExecute)->setCheckable(true);
    AddAction("actShutDown", "shut-down", {}, &TfrmMain::actShutDownExecute)->setCheckable(true);
    AddAction("actSettings", "settings", {}, &TfrmMain::actSettingsExecute);
    AddAction("actRestDefSettings", "restore-defaults", {}, &TfrmMain::actRestDefSettingsExecute);
    AddAction("actHelpTopics", "help", QKeySequence::HelpContents, &TfrmMain::actHelpTopicsExecute);
    AddAction("actAbout", "about", {}, &TfrmMain::actAboutExecute);
    AddAction("actExit", "exit", QKeySequence(Qt::ALT | Qt::Key_F4), &TfrmMain::actExitExecute);
}

void TfrmMain::CreateMenus()
{
    const auto act = [this](const char* name) { return findChild<QAction*>(QString::fromLatin1(name)); };
    const auto addMenu = [this](const char* name) {
        QMenu* menu = menuBar()->addMenu(QString());
        menu->menuAction()->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    QMenu* file = addMenu("actFile");
    file->addAction(act("actNewTask"));
    file->addSeparator();
    file->addAction(act("actExit"));

    QMenu* actionsMenu = addMenu("actActions");
    for (const char* name : {"actStart", "actPause", "actRestart", "actDelete", "actSchedule"}) actionsMenu->addAction(act(name));
    actionsMenu->addSeparator();
    for (const char* name : {"actStartAll", "actPauseAll", "actRestartAll", "actDeleteAll", "actScheduleAll"})
        actionsMenu->addAction(act(name));
    actionsMenu->addSeparator();
    actionsMenu->addAction(act("actSkipFile"));
    actionsMenu->addAction(act("actChangeSource"));
    actionsMenu->addSeparator();
    actionsMenu->addAction(act("actOpenSrc"));
    actionsMenu->addAction(act("actOpenDst"));
    actionsMenu->addSeparator();
    actionsMenu->addAction(act("actDeleteFinished"));

    QMenu* tools = addMenu("actTools");
    tools->addAction(act("actGlobalQueue"));
    tools->addAction(act("actSourceQueue"));
    tools->addSeparator();
    tools->addAction(act("actShutDown"));
    tools->addSeparator();
    tools->addAction(act("actSettings"));
    tools->addAction(act("actRestDefSettings"));

    QMenu* help = addMenu("actHelp");
    help->addAction(act("actHelpTopics"));
    help->addAction(act("actAbout"));

    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName(QStringLiteral("pmTray"));
    trayMenu_->addAction(act("actNewTask"));
    trayMenu_->addSeparator();
    trayMenu_->addAction(act("actStartAll"));
    trayMenu_->addAction(act("actPauseAll"));
    trayMenu_->addSeparator();
    trayMenu_->addAction(act("actGlobalQueue"));
    trayMenu_->addAction(act("actSourceQueue"));
    trayMenu_->addSeparator();
    trayMenu_->addAction(act("actShutDown"));
    trayMenu_->addSeparator();
    trayMenu_->addAction(act("actSettings"));
    trayMenu_->addAction(act("actAbout"));
    trayMenu_->addSeparator();
    trayMenu_->addAction(act("actExit"));
}

void TfrmMain::CreateToolBar()
{
    QToolBar* toolBar = addToolBar(QString());
    toolBar->setObjectName(QStringLiteral("tbMain"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setIconSize(QSize(ToolBarIconSide, ToolBarIconSide));
    toolBar->toggleViewAction()->setEnabled(false);
    const std::vector<std::vector<const char*>> groups = {
        {"actNewTask"},
        {"actStart", "actPause", "actRestart"},
        {"actDelete", "actDeleteFinished"},
        {"actMoveUp", "actMoveDown"},
        {"actSkipFile", "actChangeSource"},
        {"actGlobalQueue", "actSourceQueue"},
        {"actSchedule", "actShutDown"},
        {"actSettings", "actHelpTopics"},
    };
    for (size_t g = 0; g < groups.size(); ++g) {
        if (g > 0) toolBar->addSeparator();
        for (const char* name : groups[g]) toolBar->addAction(findChild<QAction*>(QString::fromLatin1(name)));
    }
}

QTreeView* TfrmMain::CreateLogView(LogListModel& model)
{
    auto* view = new QTreeView;
    view->setModel(&model);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->header()->setStretchLastSection(false);
    view->header()->setSectionsClickable(false);
    view->setColumnWidth(LogListModel::ColIcon, LogIconColumnWidth);
    view->setColumnWidth(LogListModel::ColTime, LogTimeColumnWidth);
    view->setColumnWidth(LogListModel::ColMessage, LogMessageColumnWidth);
    FitHeader(*view, LogListModel::ColTime);
    // The list follows its newest record while the user is at its end. The range moves later
    // than the records come (a hidden list's when it shows, and a horizontal scroll bar that a
    // wider message brings shortens the page), so the end is held at every change of the range
    // rather than looked at when records come.
    QScrollBar* bar = view->verticalScrollBar();
    auto following = std::make_shared<bool>(true);
    connect(bar, &QScrollBar::valueChanged, view, [bar, following](int value) { *following = value == bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, view, [bar, following](int, int maximum) {
        if (*following) bar->setValue(maximum);
    });
    return view;
}

TSpeedGraph* TfrmMain::CreateSpeedGraph(SpeedGraphModel& model)
{
    auto* graph = new TSpeedGraph(model);
    graph->SetDataFreq(TickInterval);
    TranslateGraph(*graph);
    return graph;
}

void TfrmMain::CreateViews()
{
    taskModel_ = new TaskTableModel(this);
    lvTaskList_ = new QTableView;
    lvTaskList_->setObjectName(QStringLiteral("lvTaskList"));
    lvTaskList_->setModel(taskModel_);
    lvTaskList_->setShowGrid(true);
    lvTaskList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvTaskList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvTaskList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvTaskList_->setWordWrap(false);
    lvTaskList_->setTextElideMode(Qt::ElideMiddle);
    lvTaskList_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    lvTaskList_->verticalHeader()->hide();
    lvTaskList_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lvTaskList_->verticalHeader()->setDefaultSectionSize(lvTaskList_->fontMetrics().height() + 6);
    lvTaskList_->horizontalHeader()->setSectionsClickable(false);
    lvTaskList_->horizontalHeader()->setHighlightSections(false);
    lvTaskList_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lvTaskList_->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (const char* name : {"actStart", "actPause", "actRestart", "actDelete", "actSchedule", "actSkipFile",
                             "actChangeSource", "actOpenSrc", "actOpenDst"})
        lvTaskList_->addAction(findChild<QAction*>(QString::fromLatin1(name)));
    // A click (or a keyboard move) runs the tick, so the views follow the selection at once.
    connect(lvTaskList_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TfrmMain::RunTickSoon);

    auto* speedPage = new QWidget;
    speedPage->setObjectName(QStringLiteral("tsSpeed"));
    speedStack_ = new QStackedWidget;
    speedStack_->setObjectName(QStringLiteral("pnSpeedGraphs"));
    speedStack_->addWidget(CreateSpeedGraph(overallGraphModel_));
    trbSpeedLimit_ = new QSlider(Qt::Vertical);
    trbSpeedLimit_->setObjectName(QStringLiteral("trbSpeedLimit"));
    trbSpeedLimit_->setTickPosition(QSlider::TicksBothSides);
    // The position is Max − limit: the top end is the fastest.
    trbSpeedLimit_->setInvertedAppearance(true);
    trbSpeedLimit_->setInvertedControls(true);
    connect(trbSpeedLimit_, &QSlider::valueChanged, this, &TfrmMain::trbSpeedLimitChange);
    lblSpeedValue_ = new QLabel;
    lblSpeedValue_->setObjectName(QStringLiteral("lblSpeedValue"));
    lblSpeedValue_->setAlignment(Qt::AlignCenter);
    auto* speedPanel = new QWidget;
    speedPanel->setMinimumWidth(SpeedPanelWidth);
    auto* panelLayout = new QVBoxLayout(speedPanel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(trbSpeedLimit_, 1, Qt::AlignHCenter);
    panelLayout->addWidget(lblSpeedValue_);
    auto* speedLayout = new QHBoxLayout(speedPage);
    speedLayout->setContentsMargins(0, 0, 0, 0);
    speedLayout->addWidget(speedStack_, 1);
    speedLayout->addWidget(speedPanel);

    auto* logPage = new QWidget;
    logPage->setObjectName(QStringLiteral("tsLog"));
    logStack_ = new QStackedWidget;
    logStack_->setObjectName(QStringLiteral("pnLogLists"));
    overallLogModel_ = new LogListModel(msgs_, [](int, TMsg&) { return false; }, this);
    logStack_->addWidget(CreateLogView(*overallLogModel_));
    auto* logLayout = new QVBoxLayout(logPage);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->addWidget(logStack_);

    pcInfo_ = new QTabWidget;
    pcInfo_->setObjectName(QStringLiteral("pcInfo"));
    pcInfo_->addTab(speedPage, QString());
    pcInfo_->addTab(logPage, QString());

    lvTaskList_->setMinimumHeight(MinimumPaneHeight);
    pcInfo_->setMinimumHeight(MinimumPaneHeight);
    splitter_ = new QSplitter(Qt::Vertical);
    splitter_->setObjectName(QStringLiteral("Splitter1"));
    splitter_->setChildrenCollapsible(false);
    splitter_->setHandleWidth(3);
    splitter_->addWidget(lvTaskList_);
    splitter_->addWidget(pcInfo_);
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);
}

void TfrmMain::CreateStatusBar()
{
    statusBar()->setSizeGripEnabled(true);
    for (int panel = 0; panel < 6; ++panel) {
        auto* label = new QLabel;
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(panel));
        // A window narrower than the panels clips them rather than laying them over each other,
        // which a minimum width would: the layout cannot make a widget narrower than that.
        label->setMinimumWidth(1);
        statusBar()->addWidget(label);
        statusPanels_.push_back(label);
    }
}

void TfrmMain::CreateTrayIcon()
{
    trayIcon_ = new QSystemTrayIcon(TarnIcon("tarnwell"), this);
    trayIcon_->setToolTip(QString::fromLatin1(ProgramName));
    trayIcon_->setContextMenu(trayMenu_);
    // A left click toggles the program. A double click delivers one click before it, so it
    // toggles once as well.
    connect(trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) ToggleApplication();
    });
    desktopFeedback_ = std::make_unique<DesktopFeedback>([this](const QString& title, const QString& text) {
        if (trayIcon_->isVisible()) trayIcon_->showMessage(title, text, trayIcon_->icon());
    });
}

void TfrmMain::TranslateGraph(TSpeedGraph& graph) const
{
    graph.SetSeconds(Text(msgs_.GetMsg("Sec")));
    graph.SetBps(Text(msgs_.GetMsg("Bps")));
    graph.SetKBps(Text(msgs_.GetMsg("KBps")));
    graph.SetMBps(Text(msgs_.GetMsg("MBps")));
    graph.update();
}

void TfrmMain::Translate()
{
    // Qt's own texts (key names in the menus, the pickers) first, so the menus measure them.
    InstallQtTranslation(*settings_);
    // English first, then the language file over it; a hint left empty shows the caption.
    for (QAction* action : findChildren<QAction*>()) {
        const QString name = action->objectName();
        if (!name.startsWith(QLatin1String("act"))) continue;
        action->setText(EnglishCaption(name.toLatin1().constData()));
        action->setToolTip(QString());
    }
    pcInfo_->setTabText(0, EnglishCaption("tsSpeed"));
    pcInfo_->setTabText(1, EnglishCaption("tsLog"));
    trbSpeedLimit_->setToolTip(QStringLiteral("Speed throttle"));
    const FormTranslation translation = TranslateForm(*this, FormMainCaptions, *settings_);

    QStringList captions;
    for (const char* key : ColumnKeys) captions << Text(translation.Text(key));
    taskModel_->SetCaptions(captions);

    TranslateGraph(*static_cast<TSpeedGraph*>(speedStack_->widget(0)));
    for (const TaskViews& views : taskViews_) {
        TranslateGraph(*views.Graph);
        views.LogModel->Retranslate();
        FitHeader(*views.LogView, LogListModel::ColTime);
    }
    overallLogModel_->Retranslate();
    FitHeader(*static_cast<QTreeView*>(logStack_->widget(0)), LogListModel::ColTime);
    trayIcon_->setToolTip(QString::fromLatin1(ProgramName));
}

// ---- Placement ----

int TfrmMain::TypicalCellWidth(int column, const QFontMetrics& metrics) const
{
    const auto textWidth = [&](const std::string& text) { return metrics.horizontalAdvance(Text(text)) + FitPadding; };
    switch (column) {
    case 0: {
        int widest = 0;
        for (int state = StateScanning; state <= StateFinished; ++state) {
            std::string name;
            msgs_.GetStateName(state, name);
            widest = std::max(widest, textWidth(" " + name));
        }
        return widest + lvTaskList_->style()->pixelMetric(QStyle::PM_SmallIconSize) + FitPadding;
    }
    case 4:
        return textWidth("88888");
    case 5:
    case 6:
        return textWidth("88888.88");
    case 7:
        return textWidth("100");
    case 8:
    case 9:
        return textWidth("88:88:88");
    case 10:
        return textWidth("8888.88 " + msgs_.GetMsg("KBps"));
    default:
        return 0;
    }
}

void TfrmMain::ReadPlacement()
{
    const auto key = settings_->OpenKey(regkey::FormMain);
    std::array<int32_t, TaskListColumnCount> widths = DefaultColWidths;
    const bool storedWidths = ReadRegBinary(*key, regvalue::ColWidth, widths.data(), sizeof(widths));
    QHeaderView& header = *lvTaskList_->horizontalHeader();
    for (int c = 0; c < TaskListColumnCount; ++c) {
        int width = widths[static_cast<size_t>(c)];
        // The built-in widths are at least as wide as the caption and a typical cell in the
        // user's font and language: the state with its icon, a large count, a speed.
        if (!storedWidths) {
            const QFontMetrics& metrics = header.fontMetrics();
            width = std::max(width, metrics.horizontalAdvance(taskModel_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString()) +
                                        2 * FitPadding);
            width = std::max(width, TypicalCellWidth(c, lvTaskList_->fontMetrics()));
        }
        header.resizeSection(c, std::max(width, 8));
    }

    // At first the window shows every column, as far as the screen allows.
    int columnsWidth = 2 * lvTaskList_->frameWidth() + lvTaskList_->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < TaskListColumnCount; ++c) columnsWidth += header.sectionSize(c);
    const int screenWidth = screen() != nullptr ? screen()->availableGeometry().width() * 9 / 10 : columnsWidth;
    const QSize hint = sizeHint();
    const int width = ReadRegInteger(*key, regvalue::Width,
                                     std::max({DesignWidth, hint.width(), std::min(columnsWidth, screenWidth)}));
    const int height = ReadRegInteger(*key, regvalue::Height, std::max(DesignHeight, hint.height()));
    resize(std::max(width, minimumSizeHint().width()), std::max(height, minimumSizeHint().height()));
    if (key->contains(QString::fromLatin1(regvalue::Left)) && key->contains(QString::fromLatin1(regvalue::Top)))
        PlaceOnScreen(QPoint(ReadRegInteger(*key, regvalue::Left, 0), ReadRegInteger(*key, regvalue::Top, 0)));

    pcInfo_->setCurrentIndex(std::clamp(ReadRegInteger(*key, regvalue::ActivePageIndex, DefaultActivePageIndex), 0, 1));
    const int listHeight = std::max(ReadRegInteger(*key, regvalue::TaskListHeight, DesignTaskListHeight), MinimumPaneHeight);
    splitter_->setSizes({listHeight, std::max(height - listHeight, MinimumPaneHeight)});
}

void TfrmMain::PlaceOnScreen(QPoint frameCorner)
{
    // A placement stored under another screen layout or scale may lie off every screen now: the
    // window goes onto the screen nearest its stored corner, shrunk to fit and whole.
    QScreen* target = QGuiApplication::screenAt(frameCorner);
    if (target == nullptr) target = QGuiApplication::primaryScreen();
    if (target == nullptr) {
        move(frameCorner);
        return;
    }
    const QRect area = target->availableGeometry();
    // The frame is not known before the window is shown: a title bar's height is kept free.
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const QSize room(area.width(), area.height() - titleBar);
    resize(size().boundedTo(room).expandedTo(minimumSizeHint()));
    const int left = std::clamp(frameCorner.x(), area.left(), std::max(area.left(), area.right() + 1 - width()));
    const int top = std::clamp(frameCorner.y(), area.top(), std::max(area.top(), area.bottom() + 1 - titleBar - height()));
    move(left, top);
}

void TfrmMain::WritePlacement()
{
    const auto key = settings_->OpenKey(regkey::FormMain);
    std::array<int32_t, TaskListColumnCount> widths{};
    for (int c = 0; c < TaskListColumnCount; ++c)
        widths[static_cast<size_t>(c)] = lvTaskList_->horizontalHeader()->sectionSize(c);
    WriteRegBinary(*key, regvalue::ColWidth, widths.data(), sizeof(widths));
    const QRect bounds = normalGeometry().isValid() ? normalGeometry() : geometry();
    // Left and Top are the frame's corner, as move() takes it; the sizes are the inside's.
    const QPoint frameCorner = bounds.topLeft() - (geometry().topLeft() - frameGeometry().topLeft());
    WriteRegInteger(*key, regvalue::Left, frameCorner.x());
    WriteRegInteger(*key, regvalue::Top, frameCorner.y());
    WriteRegInteger(*key, regvalue::Height, bounds.height());
    WriteRegInteger(*key, regvalue::Width, bounds.width());
    const QueueModes& modes = scheduler_->Modes();
    WriteRegBool(*key, regvalue::GlobalQueueEnabled, modes.GlobalQueue);
    WriteRegBool(*key, regvalue::SourceQueueEnabled, modes.SourceQueue);
    WriteRegBool(*key, regvalue::ShutDownEnabled, modes.ShutDownWhenDone);
    WriteRegInteger(*key, regvalue::ActivePageIndex, pcInfo_->currentIndex());
    WriteRegInteger(*key, regvalue::TaskListHeight, lvTaskList_->height());
    FlushRegistryKey(*key);
}

// ---- The tick ----

void TfrmMain::RunTickSoon()
{
    if (tickQueued_ || closed_) return;
    tickQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        tickQueued_ = false;
        tmTaskGridTimer();
    });
}

void TfrmMain::tmTaskGridTimer()
{
    if (ticking_ || closed_) return;
    ticking_ = true;
    // The timer waits while the tick's questions are on the screen.
    const bool timerRan = tmTaskGrid_ != nullptr && tmTaskGrid_->isActive();
    if (timerRan) tmTaskGrid_->stop();
    ViewRefresh view = scheduler_->Tick(SelectedRows());
    if (!closed_) {
        ApplyRefresh(view);
        if (timerRan) tmTaskGrid_->start();
    }
    ticking_ = false;
}

void TfrmMain::ApplyRefresh(ViewRefresh& view)
{
    taskModel_->Update(view.Rows);
    if (quickInfo_) quickInfo_->SetRows(view.QuickInfo);
    for (size_t i = 0; i < view.LogRecordCounts.size() && i < taskViews_.size(); ++i)
        ShowLogRecords(taskViews_[i], view.LogRecordCounts[i]);

    overallGraphModel_.AddValue(view.TotalSpeed);
    // The current row's views, or the overall ones when nothing is selected.
    const int current = view.CurrentRow >= 0 && view.CurrentRow < static_cast<int>(taskViews_.size()) ? view.CurrentRow : -1;
    speedStack_->setCurrentIndex(current + 1);
    logStack_->setCurrentIndex(current + 1);
    speedStack_->currentWidget()->update();

    {
        // Following the current row changes no task's limit.
        const QSignalBlocker blocker(trbSpeedLimit_);
        trbSpeedLimit_->setEnabled(view.TrackBarEnabled);
        if (view.TrackBarEnabled) {
            trbSpeedLimit_->setRange(0, view.TrackBarMax);
            trbSpeedLimit_->setTickInterval(std::max(view.TrackBarMax / 10, 1));
            trbSpeedLimit_->setPageStep(std::max(view.TrackBarMax / 10, 1));
            trbSpeedLimit_->setSingleStep(std::max(view.TrackBarMax / 100, 1));
            trbSpeedLimit_->setValue(view.TrackBarPosition);
        }
    }
    lblSpeedValue_->setEnabled(view.TrackBarEnabled);
    lblSpeedValue_->setText(Text(view.SpeedLabel));

    for (size_t panel = 0; panel < statusPanels_.size(); ++panel) {
        QLabel& label = *statusPanels_[panel];
        label.setText(Text(view.StatusTexts[panel]));
        // Where there is room a panel is at least its designed width, and a longer text (German,
        // a large font) still keeps apart from the next.
        const int gap = label.fontMetrics().averageCharWidth() * 2;
        label.setContentsMargins(0, 0, std::max(gap, StatusPanelWidth - label.fontMetrics().horizontalAdvance(label.text())), 0);
    }
    ApplyCommandStates(view.Commands);
}

void TfrmMain::ShowLogRecords(TaskViews& views, int count)
{
    LogListModel& model = *views.LogModel;
    const int first = model.rowCount();
    if (count <= first) return;
    model.ShowRows(count);
    for (int row = std::max(first, count - FitRowsPerBatch); row < count; ++row) {
        FitColumn(*views.LogView, LogListModel::ColTime, model.index(row, LogListModel::ColTime).data().toString());
        FitColumn(*views.LogView, LogListModel::ColMessage, model.index(row, LogListModel::ColMessage).data().toString());
    }
}

void TfrmMain::ApplyCommandStates(const CommandStates& states)
{
    const auto enable = [this](std::initializer_list<const char*> names, bool enabled) {
        for (const char* name : names) findChild<QAction*>(QString::fromLatin1(name))->setEnabled(enabled);
    };
    enable({"actStart", "actPause"}, states.Start);
    enable({"actStartAll", "actPauseAll", "actRestartAll", "actDeleteAll", "actScheduleAll"}, states.AllTasks);
    enable({"actRestart", "actDelete", "actSchedule", "actSkipFile", "actMoveUp", "actMoveDown", "actOpenSrc",
            "actOpenDst"},
           states.Selected);
    enable({"actChangeSource"}, states.ChangeSource);
}

void TfrmMain::SyncQueueChecks()
{
    const QueueModes& modes = scheduler_->Modes();
    findChild<QAction*>(QStringLiteral("actGlobalQueue"))->setChecked(modes.GlobalQueue);
    findChild<QAction*>(QStringLiteral("actSourceQueue"))->setChecked(modes.SourceQueue);
    findChild<QAction*>(QStringLiteral("actShutDown"))->setChecked(modes.ShutDownWhenDone);
}

void TfrmMain::trbSpeedLimitChange(int position)
{
    const int32_t limit = trbSpeedLimit_->maximum() - position;
    for (const int row : SelectedRows())
        if (row < tasks_->Count()) tasks_->Task(row).SetSpeedLimit(limit);
    lblSpeedValue_->setText(Text(SpeedLimitLabel(limit, msgs_)));
}

std::vector<int> TfrmMain::SelectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : lvTaskList_->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TfrmMain::SelectRows(const std::vector<int>& rows)
{
    QItemSelection selection;
    for (const int row : rows)
        if (row >= 0 && row < taskModel_->rowCount())
            selection.select(taskModel_->index(row, 0), taskModel_->index(row, TaskListColumnCount - 1));
    lvTaskList_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.empty()) lvTaskList_->selectionModel()->setCurrentIndex(taskModel_->index(rows.front(), 0), QItemSelectionModel::NoUpdate);
}

LogListModel& TfrmMain::LogModel(int task) const { return *taskViews_[static_cast<size_t>(task)].LogModel; }

// ---- Companion views of the tasks ----

void TfrmMain::InsertViews(int index)
{
    TaskViews views;
    const TDownloadThread& task = tasks_->Task(index);
    views.LogModel = new LogListModel(msgs_, [&task](int row, TMsg& record) { return task.GetLogRecord(row, record); }, this);
    views.LogView = CreateLogView(*views.LogModel);
    views.Graph = CreateSpeedGraph(tasks_->Graph(index));
    logStack_->insertWidget(index + 1, views.LogView);
    speedStack_->insertWidget(index + 1, views.Graph);
    taskViews_.insert(taskViews_.begin() + index, views);
    taskModel_->InsertTaskRow(index);
}

void TfrmMain::RemoveViews(int index)
{
    taskModel_->RemoveTaskRow(index);
    const TaskViews views = taskViews_[static_cast<size_t>(index)];
    taskViews_.erase(taskViews_.begin() + index);
    logStack_->removeWidget(views.LogView);
    speedStack_->removeWidget(views.Graph);
    delete views.LogView;
    delete views.LogModel;
    delete views.Graph;
}

void TfrmMain::MoveViews(int from, int to)
{
    const TaskViews views = taskViews_[static_cast<size_t>(from)];
    taskViews_.erase(taskViews_.begin() + from);
    taskViews_.insert(taskViews_.begin() + to, views);
    logStack_->removeWidget(views.LogView);
    logStack_->insertWidget(to + 1, views.LogView);
    speedStack_->removeWidget(views.Graph);
    speedStack_->insertWidget(to + 1, views.Graph);
    taskModel_->MoveTaskRow(from, to);
}

// ---- Questions ----

bool TfrmMain::Confirm(const std::string& msgId)
{
    const bool yesNo = msgId == "Msg013";
    const auto buttons = yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok | QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Question, Text(msgs_.GetMsg("Msg003")), Text(msgs_.GetMsg(msgId)), buttons, this);
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    const int answer = box.exec();
    return !closed_ && (answer == QMessageBox::Ok || answer == QMessageBox::Yes);
}

// Every question of a command is answered "cancel" when the program closed under it: the
// tasks the command was about are stopped and gone.
std::optional<bool> TfrmMain::AskDeleteTask()
{
    const auto answer = TfrmDelTask::Ask(this, *settings_);
    return closed_ ? std::nullopt : answer;
}

std::optional<double> TfrmMain::AskScheduleTime(double proposed)
{
    const auto answer = TfrmSchedule::Ask(this, *settings_, proposed);
    return closed_ ? std::nullopt : answer;
}

std::optional<std::string> TfrmMain::AskNewSource(uint8_t sourceKind)
{
    const QString caption = findChild<QAction*>(QStringLiteral("actChangeSource"))->text();
    QString chosen;
    switch (sourceKind) {
    case SourceUnresolved:
        chosen = TFileOrFolderDialog::Ask(this, caption);
        break;
    case SourceFolder:
        chosen = QFileDialog::getExistingDirectory(this, caption);
        break;
    case SourceFile:
        chosen = QFileDialog::getOpenFileName(this, caption);
        break;
    default:
        return std::nullopt;
    }
    if (chosen.isEmpty() || closed_) return std::nullopt;
    return chosen.toStdString();
}

std::optional<NewTaskAnswer> TfrmMain::AskNewTask(bool startAllowed, const std::string& sourceText)
{
    TfrmNewTask dialog(this, *settings_, startAllowed);
    const auto answer = dialog.Ask(sourceText);
    return closed_ ? std::nullopt : answer;
}

bool TfrmMain::EditSettings(int taskCount)
{
    TfrmSettings dialog(this, taskCount, *settings_);
    return dialog.exec() == QDialog::Accepted && !closed_;
}

void TfrmMain::LanguageChanged() { Translate(); }

void TfrmMain::QuickInfoChanged(bool enabled)
{
    if (quickInfo_) quickInfo_->setVisible(enabled);
}

void TfrmMain::AskAboutExistingFile(TDownloadThread& task)
{
    const uint8_t answer = TfrmDstFileExists::Ask(this, *settings_, msgs_, task);
    // A program closed under the question has already stopped and freed its tasks.
    if (answer != 0 && !closed_) task.Answer(answer);
}

bool TfrmMain::ConfirmShutDown()
{
    // The tick turned the mode off before asking: the items show it while the question is open.
    SyncQueueChecks();
    return TfrmShutDown::Confirm(this, *settings_);
}

void TfrmMain::ShowError(const std::string& text)
{
    QMessageBox::critical(isVisible() ? this : nullptr, Text(msgs_.GetMsg("Msg005")), Text(text));
}

void TfrmMain::Notify(const FeedbackEvent& event)
{
    if (!settings_->EnableNotifications()) return;
    std::string text;
    switch (event.What) {
    case FeedbackEvent::Kind::TaskFinished: text = msgs_.FormatMsg("Msg022", {event.Name}); break;
    case FeedbackEvent::Kind::TaskPausedForErrors: text = msgs_.FormatMsg("Msg023", {event.Name}); break;
    case FeedbackEvent::Kind::AllDone: text = msgs_.GetMsg("Msg024"); break;
    }
    desktopFeedback_->Notify(QString::fromLatin1(ProgramName), Text(text));
}

void TfrmMain::ShowLauncher(const LauncherState& state)
{
    // Turned off, the icon is cleared once and left alone.
    desktopFeedback_->ShowLauncher(settings_->EnableLauncherProgress() ? state : LauncherState{});
}

// ---- Commands ----

void TfrmMain::actNewTaskExecute()
{
    commands_->NewTask();
    RunTickSoon();
}

void TfrmMain::actStartExecute() { commands_->Start(SelectedRows()); }
void TfrmMain::actStartAllExecute() { commands_->StartAll(); }
void TfrmMain::actPauseExecute() { commands_->Pause(SelectedRows()); }
void TfrmMain::actPauseAllExecute() { commands_->PauseAll(); }
void TfrmMain::actRestartExecute() { commands_->Restart(SelectedRows()); }
void TfrmMain::actRestartAllExecute() { commands_->RestartAll(); }

void TfrmMain::actDeleteExecute()
{
    if (ListInUse()) return;
    // The rows that take the deleted ones' places are not chosen by the user.
    if (commands_->Delete(SelectedRows())) lvTaskList_->clearSelection();
    RunTickSoon();
}

void TfrmMain::actDeleteAllExecute()
{
    if (ListInUse()) return;
    commands_->DeleteAll();
    RunTickSoon();
}

void TfrmMain::actScheduleExecute() { commands_->Schedule(SelectedRows()); }
void TfrmMain::actScheduleAllExecute() { commands_->ScheduleAll(); }
void TfrmMain::actSkipFileExecute() { commands_->SkipFile(SelectedRows()); }
void TfrmMain::actChangeSourceExecute() { commands_->ChangeSource(SelectedRows()); }

void TfrmMain::actDeleteFinishedExecute()
{
    if (ListInUse()) return;
    commands_->DeleteFinished();
    RunTickSoon();
}

void TfrmMain::actMoveUpExecute()
{
    if (ListInUse()) return;
    // The moved rows' cells are rewritten by the tick that the new selection runs.
    SelectRows(commands_->MoveUp(SelectedRows()));
}

void TfrmMain::actMoveDownExecute()
{
    if (ListInUse()) return;
    SelectRows(commands_->MoveDown(SelectedRows()));
}

bool TfrmMain::ListInUse() const
{
    // A tick's question names its task by position and holds the worker: while it is open (the
    // tray menu still works), the list keeps its tasks and their order.
    if (ticking_) QApplication::beep();
    return ticking_;
}

void TfrmMain::OpenFolderOfCell(int column)
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty() || rows.front() >= taskModel_->rowCount()) return;
    const QString path = Text(taskModel_->Row(rows.front()).Cells[static_cast<size_t>(column)]);
    if (path.isEmpty()) return;
    // A single file's folder is opened, not the file with its program.
    const QFileInfo info(path);
    QDesktopServices::openUrl(QUrl::fromLocalFile(info.isDir() ? path : info.absolutePath()));
}

void TfrmMain::actOpenSrcExecute() { OpenFolderOfCell(ColSource); }
void TfrmMain::actOpenDstExecute() { OpenFolderOfCell(ColDestination); }

void TfrmMain::actGlobalQueueExecute()
{
    commands_->ToggleGlobalQueue();
    SyncQueueChecks();
}

void TfrmMain::actSourceQueueExecute()
{
    commands_->ToggleSourceQueue();
    SyncQueueChecks();
}

void TfrmMain::actShutDownExecute()
{
    commands_->ToggleShutDown();
    SyncQueueChecks();
}

void TfrmMain::actSettingsExecute() { commands_->Settings(); }
void TfrmMain::actRestDefSettingsExecute() { commands_->RestoreDefaultSettings(); }

void TfrmMain::actHelpTopicsExecute()
{
    const std::string page = HelpFolder(settings_->RootDir(), settings_->Language()) + HelpTopicIntroduction;
    if (!FileExists(page)) {
        ShowError(msgs_.FormatMsg("Err008", {page}));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(Text(page)))) ShowError(msgs_.FormatMsg("Err012", {page}));
}

void TfrmMain::actAboutExecute()
{
    TfrmAbout about(this, *settings_);
    about.exec();
}

void TfrmMain::actExitExecute() { Exit(); }

// ---- Showing, hiding and closing ----

void TfrmMain::AddTasksByDialog(const std::vector<std::string>& sources)
{
    BringToFront();
    commands_->AddTasksByDialog(sources);
    RunTickSoon();
}

void TfrmMain::AddTasksDirect(const std::vector<std::string>& sources, const std::string& destination)
{
    commands_->AddTasksDirect(sources, destination);
    RunTickSoon();
}

void TfrmMain::BringToFront()
{
    if (isHidden() || isMinimized()) showNormal();
    trayIcon_->hide();
    raise();
    activateWindow();
}

void TfrmMain::ToggleApplication()
{
    if (isHidden() || isMinimized())
        BringToFront();
    else
        HideToTray();
}

void TfrmMain::HideToTray()
{
    // Without a notification area there is nowhere to come back from: the window is minimised.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (!isMinimized()) showMinimized();
        return;
    }
    trayIcon_->show();
    hide();
}

void TfrmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, this, &TfrmMain::HideToTray);
}

void TfrmMain::Exit()
{
    exiting_ = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    // Window managers take Alt+F4 for themselves and turn it into the close request of the
    // close button. Alt still held tells the key from the button: the key ends the program,
    // as File > Exit does.
    if (event->spontaneous() && (QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier)) exiting_ = true;
    if (!exiting_ && !closed_ && settings_->MinimizeInsteadClose()) {
        event->ignore();
        HideToTray();
        return;
    }
    FormClose();
    event->accept();
    QCoreApplication::quit();
}

void TfrmMain::FormClose()
{
    if (closed_) return;
    closed_ = true;
    if (tmTaskGrid_ != nullptr) tmTaskGrid_->stop();
    tasks_->Close();
    try {
        WritePlacement();
        settings_->SaveToRegistry();
    } catch (const RegistryError& error) {
        ShowError(error.what());
    }
    quickInfo_.reset();
    trayIcon_->hide();
}

// ---- Dropped files ----

void TfrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event)
{
    const DroppedSources sources = SourcesOfDrop(event->mimeData());
    if (sources.Paths.empty() && sources.Refused.empty()) return;
    event->acceptProposedAction();
    // The dialogs are modal: they open after the drop has ended, not inside it.
    QTimer::singleShot(0, this, [this, sources] {
        if (!sources.Refused.empty()) ShowError(sources.Refused);
        if (!sources.Paths.empty()) AddTasksByDialog(sources.Paths);
    });
}

}  // namespace tarn
