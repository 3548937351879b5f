#include "windows/SpeedGraph.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

namespace tarn {
namespace {

// Two lines of axis text (the time labels below their ticks, the caption at the bottom) share
// the time-axis strip.
constexpr int MaxAxisLineHeight = (TSpeedGraph::TimeAxisHeight - TSpeedGraph::TickLength) / 2;
constexpr int MinAxisPixelSize = 6;
// The least room between two texts of an axis.
constexpr int TextGap = 4;

// Text placed by its top-left corner, as the axis layout measures it.
void DrawTextAt(QPainter& painter, const QRect& box, const QString& text)
{
    painter.drawText(box.left(), box.top() + painter.fontMetrics().ascent(), text);
}

QRect TextBox(const QFontMetrics& metrics, int left, int top, const QString& text)
{
    return {left, top, metrics.horizontalAdvance(text), metrics.height()};
}

}  // namespace

TSpeedGraph::TSpeedGraph(SpeedGraphModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TSpeedGraph::AddValue(int32_t speed)
{
    if (model_.AddValue(speed)) update(SpeedAxisRect());
    update(PlotRect());
}

void TSpeedGraph::SetColWidth(int pixels)
{
    model_.SetColWidth(pixels);
    update();
}

void TSpeedGraph::SetDataFreq(int milliseconds)
{
    model_.SetDataFreq(milliseconds);
    update();
}

void TSpeedGraph::SetColColor(const QColor& color)
{
    colColor_ = color;
    update();
}

void TSpeedGraph::SetBackgroundColor(const QColor& color)
{
    backgroundColor_ = color;
    update();
}

void TSpeedGraph::SetSeconds(const QString& text)
{
    seconds_ = text;
    update();
}

void TSpeedGraph::SetMBps(const QString& text)
{
    mbps_ = text;
    update();
}

void TSpeedGraph::SetKBps(const QString& text)
{
    kbps_ = text;
    update();
}

void TSpeedGraph::SetBps(const QString& text)
{
    bps_ = text;
    update();
}

QRect TSpeedGraph::PlotRect() const
{
    return QRect(QPoint(Margin, Margin), QPoint(width() - SpeedAxisWidth - 1, height() - TimeAxisHeight - 1));
}

QRect TSpeedGraph::TimeAxisRect() const
{
    return QRect(QPoint(Margin, height() - TimeAxisHeight), QPoint(width() - SpeedAxisWidth - 1, height() - 1));
}

QRect TSpeedGraph::SpeedAxisRect() const
{
    return QRect(QPoint(width() - SpeedAxisWidth, Margin), QPoint(width() - 1, height() - TimeAxisHeight - 1));
}

QFont TSpeedGraph::AxisFont() const
{
    QFont axisFont = font();
    for (int pixels = QFontInfo(axisFont).pixelSize();
         QFontMetrics(axisFont).height() > MaxAxisLineHeight && pixels > MinAxisPixelSize;) {
        axisFont.setPixelSize(--pixels);
    }
    return axisFont;
}

QSize TSpeedGraph::sizeHint() const { return {Margin + 300 + SpeedAxisWidth, Margin + 120 + TimeAxisHeight}; }

QSize TSpeedGraph::minimumSizeHint() const
{
    const int labelColumns = SpeedGraphModel::TimeLabelColumns * model_.ColWidth();
    return {Margin + labelColumns + SpeedAxisWidth, Margin + 2 * SpeedGraphModel::SpeedLabelSpacing + TimeAxisHeight};
}

void TSpeedGraph::paintEvent(QPaintEvent*)
{
    // Below a plot one pixel high nothing is drawn, not even the axes.
    if (PlotRect().height() < 1) return;
    QPainter painter(this);
    painter.setFont(AxisFont());
    painter.setPen(palette().color(QPalette::WindowText));
    DrawTimeAxis(painter);
    DrawSpeedAxis(painter);
    DrawPlot(painter);
}

// Ticks every 25 columns from the plot's last pixel leftwards, each with the age in seconds of
// the sample above it; the caption centred at the bottom. A label that would run into the
// caption, into the label to its right or out of the control is left out.
void TSpeedGraph::DrawTimeAxis(QPainter& painter) const
{
    const QRect axis = TimeAxisRect();
    const QFontMetrics metrics = painter.fontMetrics();
    const QRect caption =
        TextBox(metrics, axis.width() / 2 - metrics.horizontalAdvance(seconds_) / 2,
                height() - metrics.height(), seconds_);
    QRect previous;
    for (const AxisLabel& label : model_.TimeLabels(axis.width(), locale())) {
        const int x = axis.left() + label.Offset;
        painter.drawLine(x, axis.top(), x, axis.top() + TickLength - 1);
        const QString text = QString::fromStdString(label.Text);
        const QRect box = TextBox(metrics, x - metrics.horizontalAdvance(text) / 2, axis.top() + TickLength, text);
        const QRect room = box.adjusted(-TextGap, 0, TextGap, 0);
        if (box.left() < 0 || (!seconds_.isEmpty() && room.intersects(caption)) || room.intersects(previous)) continue;
        DrawTextAt(painter, box, text);
        previous = box;
    }
    DrawTextAt(painter, caption, seconds_);
}

// Ticks every 20 pixels from the plot's top, the top one standing for the full plot height,
// and the unit caption at half height against the right edge. A label that would run into the
// caption is left out.
void TSpeedGraph::DrawSpeedAxis(QPainter& painter) const
{
    const QRect axis = SpeedAxisRect();
    const QFontMetrics metrics = painter.fontMetrics();
    const SpeedScale scale = model_.Scale(axis.height());
    const QString& unit = scale.Unit == SpeedUnit::MBps ? mbps_ : scale.Unit == SpeedUnit::KBps ? kbps_ : bps_;
    const QRect caption = TextBox(metrics, width() - metrics.horizontalAdvance(unit),
                                  axis.top() + axis.height() / 2, unit);
    for (const AxisLabel& label : model_.SpeedLabels(axis.height(), locale())) {
        const int y = axis.top() + label.Offset;
        painter.drawLine(axis.left(), y, axis.left() + TickLength - 1, y);
        const QString text = QString::fromStdString(label.Text);
        const QRect box = TextBox(metrics, axis.left() + TickLength, y - metrics.height() / 2, text);
        if (!unit.isEmpty() && box.adjusted(0, 0, TextGap, 0).intersects(caption)) continue;
        DrawTextAt(painter, box, text);
    }
    DrawTextAt(painter, caption, unit);
}

// Column c from the right shows the sample c steps older than the newest: its bar from the
// bottom, and the space above it, so each paint covers the whole plot.
void TSpeedGraph::DrawPlot(QPainter& painter) const
{
    const QRect plot = PlotRect();
    if (plot.width() < 1) return;
    painter.setClipRect(plot);
    const int columnWidth = model_.ColWidth();
    const int columns = model_.ColumnCount(plot.width());
    for (int column = 0; column < columns; ++column) {
        const int left = plot.right() + 1 - (column + 1) * columnWidth;
        const int bar = model_.BarHeight(model_.Sample(column), plot.height());
        painter.fillRect(left, plot.bottom() + 1 - bar, columnWidth, bar, colColor_);
        painter.fillRect(left, plot.top(), columnWidth, plot.height() - bar, backgroundColor_);
    }
}

}  // namespace tarn
