#include "windows/FormQuickInfo.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleHints>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/Registry.h"
#include "core/RegistryLayout.h"
#include "core/SettingsStorage.h"
#include "core/Units.h"
#include "engine/GlobalUtils.h"
#include "windows/DroppedSources.h"
#include "windows/Icons.h"

namespace tarn {
namespace {

constexpr int MinRowPixelSize = 6;
// Corners grip along this much of each edge.
constexpr int CornerGrip = 3 * TfrmQuickInfo::FrameWidth;

Qt::CursorShape CursorFor(Qt::Edges edges)
{
    if (edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge)) return Qt::SizeFDiagCursor;
    if (edges == (Qt::TopEdge | Qt::RightEdge) || edges == (Qt::BottomEdge | Qt::LeftEdge)) return Qt::SizeBDiagCursor;
    if (edges & (Qt::LeftEdge | Qt::RightEdge)) return Qt::SizeHorCursor;
    return Qt::SizeVerCursor;
}

// Text placed by its top-left corner, as the row layout measures it.
void DrawTextAt(QPainter& painter, int left, int top, const QString& text)
{
    painter.drawText(left, top + painter.fontMetrics().ascent(), text);
}

}  // namespace

TfrmQuickInfo::TfrmQuickInfo(const TSettingsStorage& settings)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), settings_(settings)
{
    setWindowTitle(QStringLiteral("Quick Info window"));
    setWindowOpacity(Opacity / 255.0);
    setAcceptDrops(true);
    setMouseTracking(true);
    setContentsMargins(FrameWidth, FrameWidth, FrameWidth, FrameWidth);
    setMinimumSize(MinimumSide, MinimumSide);

    const auto key = settings_.OpenKey(regkey::QuickInfo);
    move(ReadRegInteger(*key, regvalue::Left, DefaultQuickInfoLeft),
         ReadRegInteger(*key, regvalue::Top, DefaultQuickInfoTop));
    resize(ReadRegInteger(*key, regvalue::Width, DesignWidth), ReadRegInteger(*key, regvalue::Height, DesignHeight));
    storedSize_ = size();

    // A plain click is known to be one only when no second click followed in time: the first
    // click of a double click must not show the main window that the double click then hides.
    clickTimer_ = new QTimer(this);
    clickTimer_->setSingleShot(true);
    clickTimer_->setInterval(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    connect(clickTimer_, &QTimer::timeout, this, &TfrmQuickInfo::ActivateMainWindowRequested);
}

TfrmQuickInfo::~TfrmQuickInfo()
{
    StorePosition();
    StoreSize();
}

void TfrmQuickInfo::SetRows(const std::vector<QuickInfoRow>& rows)
{
    rows_ = rows;
    update();
}

void TfrmQuickInfo::SetContextMenu(QMenu* menu) { contextMenu_ = menu; }

QPoint TfrmQuickInfo::SnapToWorkArea(const QRect& window, const QRect& workArea)
{
    QPoint place = window.topLeft();
    if (std::abs(window.left() - workArea.left()) <= SnapDistance) {
        place.setX(workArea.left());
    } else if (std::abs(window.right() - workArea.right()) <= SnapDistance) {
        place.setX(workArea.right() - window.width() + 1);
    }
    if (std::abs(window.top() - workArea.top()) <= SnapDistance) {
        place.setY(workArea.top());
    } else if (std::abs(window.bottom() - workArea.bottom()) <= SnapDistance) {
        place.setY(workArea.bottom() - window.height() + 1);
    }
    return place;
}

QFont TfrmQuickInfo::RowFont() const
{
    QFont rowFont = font();
    rowFont.setBold(true);
    int pixels = QFontInfo(rowFont).pixelSize();
    rowFont.setPixelSize(pixels);
    // The source line has the row below the bar, gap included, to itself.
    while (QFontMetrics(rowFont).height() > RowHeight - BarHeight && pixels > MinRowPixelSize) {
        rowFont.setPixelSize(--pixels);
    }
    return rowFont;
}

int TfrmQuickInfo::RowAt(const QPoint& position) const
{
    const int y = position.y() - contentsRect().top();
    if (y < 0) return -1;
    const int row = y / RowHeight;
    return row < static_cast<int>(rows_.size()) ? row : -1;
}

Qt::Edges TfrmQuickInfo::EdgesAt(const QPoint& position) const
{
    const bool left = position.x() < FrameWidth;
    const bool right = position.x() >= width() - FrameWidth;
    const bool top = position.y() < FrameWidth;
    const bool bottom = position.y() >= height() - FrameWidth;
    Qt::Edges edges;
    if (left || ((top || bottom) && position.x() < CornerGrip)) edges |= Qt::LeftEdge;
    if (right || ((top || bottom) && position.x() >= width() - CornerGrip)) edges |= Qt::RightEdge;
    if (top || ((left || right) && position.y() < CornerGrip)) edges |= Qt::TopEdge;
    if (bottom || ((left || right) && position.y() >= height() - CornerGrip)) edges |= Qt::BottomEdge;
    return edges;
}

bool TfrmQuickInfo::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    // The tip belongs to one row and goes when the cursor leaves it, so that moving to the
    // next row shows that row's source.
    const auto* help = static_cast<QHelpEvent*>(event);
    const int row = RowAt(help->pos());
    if (row < 0 || rows_[static_cast<size_t>(row)].Text.empty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const QRect rowArea(contentsRect().left(), contentsRect().top() + row * RowHeight, contentsRect().width(), RowHeight);
    QToolTip::showText(help->globalPos(), QString::fromStdString(rows_[static_cast<size_t>(row)].Text), this, rowArea);
    return true;
}

void TfrmQuickInfo::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), SkyBlue);
    PaintFrame(painter);
    const QRect client = contentsRect();
    painter.setClipRect(client);
    painter.translate(client.topLeft());
    painter.setFont(RowFont());
    // Rows past the bottom are cut off by the window: it never grows by itself.
    for (size_t i = 0; i < rows_.size() && static_cast<int>(i) * RowHeight < client.height(); ++i) {
        PaintRow(painter, rows_[i], static_cast<int>(i) * RowHeight, client.size());
    }
}

// A thin dark border and a raised sizing frame inside it, in shades of the window's colour.
void TfrmQuickInfo::PaintFrame(QPainter& painter) const
{
    const QRect outer = rect().adjusted(0, 0, -1, -1);
    painter.setPen(SkyBlue.darker(220));
    painter.drawRect(outer);
    const QRect raised = outer.adjusted(1, 1, -1, -1);
    painter.setPen(SkyBlue.lighter(125));
    painter.drawLine(raised.topLeft(), raised.topRight());
    painter.drawLine(raised.topLeft(), raised.bottomLeft());
    painter.setPen(SkyBlue.darker(135));
    painter.drawLine(raised.bottomLeft(), raised.bottomRight());
    painter.drawLine(raised.topRight(), raised.bottomRight());
}

void TfrmQuickInfo::PaintRow(QPainter& painter, const QuickInfoRow& row, int y, const QSize& clientSize) const
{
    StateIcon(static_cast<uint8_t>(std::clamp(row.ImageIndex, 0, 255)))
        .paint(&painter, QRect(0, y + 1, IconWidth, IconWidth));

    const QRect client(QPoint(0, 0), clientSize);
    const int clientWidth = clientSize.width();
    const int barWidth = clientWidth - IconWidth - SpeedWidth;
    const float progress = std::clamp(row.Progress, 0.0f, 1.0f);
    // Narrower than 70 pixels the window has no room for a bar; the speed and source remain.
    if (barWidth > 1) {
        const QRect bar(IconWidth, y, barWidth, BarHeight);
        painter.setPen(Green);
        painter.setBrush(SkyBlue);
        painter.drawRect(bar.adjusted(0, 0, -1, -1));
        const int filled = static_cast<int>(std::floor(static_cast<float>(barWidth) * progress));
        if (filled > 0) {
            painter.setBrush(Lime);
            painter.drawRect(QRect(IconWidth, y, filled, BarHeight).adjusted(0, 0, -1, -1));
        }
        painter.setPen(Qt::black);
        const QString percent = QString::number(static_cast<int>(std::floor(progress * 100.0f))) + u'%';
        painter.setClipRect(bar.intersected(client));
        DrawTextAt(painter, IconWidth + (barWidth - painter.fontMetrics().horizontalAdvance(percent)) / 2, y - 1, percent);
    }
    painter.setPen(Qt::black);

    const int speedLeft = clientWidth - SpeedWidth + Gap;
    const QString speed = QString::fromStdString(FormatFixed(row.Speed, 1)).rightJustified(4) +
                          QString::fromStdString(row.Unit);
    painter.setClipRect(QRect(speedLeft, y, SpeedWidth - Gap, BarHeight).intersected(client));
    DrawTextAt(painter, speedLeft, y, speed);

    // The source line takes the gap under it too, so that descenders are not cut.
    painter.setClipRect(QRect(IconWidth, y + BarHeight, clientWidth - Gap - IconWidth, RowHeight - BarHeight)
                            .intersected(client));
    DrawTextAt(painter, IconWidth, y + BarHeight, QString::fromStdString(row.Text));
    painter.setClipRect(client);
}

void TfrmQuickInfo::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    if (const Qt::Edges edges = EdgesAt(event->position().toPoint())) {
        if (windowHandle() && windowHandle()->startSystemResize(edges)) return;
        resizing_ = edges;
        geometryAtPress_ = geometry();
        cursorAtPress_ = event->globalPosition().toPoint();
        return;
    }
    dragging_ = true;
    cursorAtPress_ = event->globalPosition().toPoint();
    positionAtPress_ = pos();
}

void TfrmQuickInfo::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    mousePressEvent(event);
    // Acted on at the release that follows, so the double click toggles once.
    if (dragging_) {
        clickTimer_->stop();
        doubleClickSeen_ = true;
    }
}

void TfrmQuickInfo::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint cursor = event->globalPosition().toPoint();
    if (dragging_) {
        // Following the cursor from where the drag began, not step by step, lets a window held
        // at an edge leave it once the cursor has moved past the snapping distance.
        const QRect free(positionAtPress_ + cursor - cursorAtPress_, size());
        const QScreen* area = screen();
        move(area ? SnapToWorkArea(free, area->availableGeometry()) : free.topLeft());
        return;
    }
    if (resizing_) {
        const QPoint moved = cursor - cursorAtPress_;
        QRect bounds = geometryAtPress_;
        if (resizing_ & Qt::LeftEdge) bounds.setLeft(std::min(bounds.left() + moved.x(), bounds.right() + 1 - MinimumSide));
        if (resizing_ & Qt::RightEdge) bounds.setRight(std::max(bounds.right() + moved.x(), bounds.left() + MinimumSide - 1));
        if (resizing_ & Qt::TopEdge) bounds.setTop(std::min(bounds.top() + moved.y(), bounds.bottom() + 1 - MinimumSide));
        if (resizing_ & Qt::BottomEdge) bounds.setBottom(std::max(bounds.bottom() + moved.y(), bounds.top() + MinimumSide - 1));
        setGeometry(bounds);
        return;
    }
    const QPoint position = event->position().toPoint();
    if (const Qt::Edges edges = EdgesAt(position)) {
        setCursor(CursorFor(edges));
    } else {
        unsetCursor();
    }
    const int row = RowAt(position);
    setToolTip(row < 0 ? QString() : QString::fromStdString(rows_[static_cast<size_t>(row)].Text));
}

void TfrmQuickInfo::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    resizing_ = {};
    const bool dragged = dragging_;
    dragging_ = false;
    if (doubleClickSeen_) {
        doubleClickSeen_ = false;
        emit ToggleApplicationRequested();
    } else if (dragged && pos() == positionAtPress_) {
        clickTimer_->start();
    } else if (dragged) {
        StorePosition();
    }
}

void TfrmQuickInfo::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (size() == storedSize_) return;
    storedSize_ = size();
    StoreSize();
}

void TfrmQuickInfo::contextMenuEvent(QContextMenuEvent* event)
{
    if (contextMenu_) contextMenu_->popup(event->globalPos());
}

void TfrmQuickInfo::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TfrmQuickInfo::dropEvent(QDropEvent* event)
{
    const DroppedSources sources = SourcesOfDrop(event->mimeData());
    if (sources.Paths.empty() && sources.Refused.empty()) return;
    event->acceptProposedAction();
    if (!sources.Refused.empty()) emit DropRefused(QString::fromStdString(sources.Refused));
    if (!sources.Paths.empty()) emit AddTasksRequested(QString::fromStdString(JoinQuotedPaths(sources.Paths)));
}

void TfrmQuickInfo::StorePosition() const
{
    const auto key = settings_.OpenKey(regkey::QuickInfo);
    WriteRegInteger(*key, regvalue::Left, x());
    WriteRegInteger(*key, regvalue::Top, y());
}

void TfrmQuickInfo::StoreSize() const
{
    const auto key = settings_.OpenKey(regkey::QuickInfo);
    WriteRegInteger(*key, regvalue::Width, width());
    WriteRegInteger(*key, regvalue::Height, height());
}

}  // namespace tarn
