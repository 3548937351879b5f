#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <vector>

#include "tasks/ViewRefresh.h"

class QTimer;

class QMenu;

namespace tarn {

class TSettingsStorage;

// The small semi-transparent window that stays on top of the others and shows one row per
// task: its state icon, a progress bar with the percentage, the speed and the source. It has
// no title bar and no taskbar entry; it is moved by dragging it anywhere, resized by its
// border, and keeps its place in the registry key "QuickInfo". A double click toggles the main
// window, a plain click brings it to the front, and dropped files become new tasks: the window
// only asks, through its signals, and the main window acts.
//
// A row is 18 pixels high: the icon at the left, the 8-pixel bar beside it with the speed in a
// 54-pixel column at its right, and the source below the bar.
class TfrmQuickInfo : public QWidget {
    Q_OBJECT

public:
    static constexpr int IconWidth = 16;
    static constexpr int BarHeight = 8;
    static constexpr int SpeedWidth = 54;
    static constexpr int Gap = 2;
    static constexpr int RowHeight = IconWidth + Gap;
    // The border and its sizing frame around the rows.
    static constexpr int FrameWidth = 4;
    static constexpr int DesignWidth = 137;
    static constexpr int DesignHeight = 67;
    static constexpr int MinimumSide = 30;
    // The window snaps to a work-area edge it comes this close to.
    static constexpr int SnapDistance = 3;
    static constexpr int Opacity = 170;  // of 255

    static constexpr QColor SkyBlue{0xA6, 0xCA, 0xF0};
    static constexpr QColor Green{0x00, 0x80, 0x00};
    static constexpr QColor Lime{0x00, 0xFF, 0x00};

    // Placed and sized from the registry (16, 16 and the design size when nothing is stored,
    // a stored position used as it is); shown by the caller. `settings` gives the settings
    // file and must outlive the window.
    explicit TfrmQuickInfo(const TSettingsStorage& settings);
    // Stores the window's position and size.
    ~TfrmQuickInfo() override;

    // The rows to paint, one per task in task-list order; repaints.
    void SetRows(const std::vector<QuickInfoRow>& rows);
    // The main window's notification-area menu, shown on a right click; not owned.
    void SetContextMenu(QMenu* menu);

    // The window's place when it is at `window`, pulled onto every edge of `workArea` that is
    // at most SnapDistance away.
    static QPoint SnapToWorkArea(const QRect& window, const QRect& workArea);
    // The font of the rows: the widget's own, bold, small enough for the line below the bar.
    QFont RowFont() const;

signals:
    void ToggleApplicationRequested();
    void ActivateMainWindowRequested();
    // Dropped files, as one source list: a single path as it is, several each in quotes.
    void AddTasksRequested(const QString& sources);
    // Dropped addresses that have no path here, one line each with its reason.
    void DropRefused(const QString& reasons);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The row under a point of the widget, or -1.
    int RowAt(const QPoint& position) const;
    // The border edges a point of the widget lies on, corners widened for an easier grip.
    Qt::Edges EdgesAt(const QPoint& position) const;
    void PaintFrame(QPainter& painter) const;
    void PaintRow(QPainter& painter, const QuickInfoRow& row, int y, const QSize& clientSize) const;
    void StorePosition() const;
    void StoreSize() const;

    const TSettingsStorage& settings_;
    std::vector<QuickInfoRow> rows_;
    QMenu* contextMenu_ = nullptr;
    bool dragging_ = false;
    bool doubleClickSeen_ = false;
    QTimer* clickTimer_ = nullptr;
    QPoint cursorAtPress_;
    QPoint positionAtPress_;
    // A resize by the border that the window system does not run itself.
    Qt::Edges resizing_;
    QRect geometryAtPress_;
    // The size last read or stored: showing the window resizes it without a change to store.
    QSize storedSize_;
};

}  // namespace tarn
