#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include <cstdint>

#include "tasks/SpeedGraphModel.h"

namespace tarn {

// One task's recent speeds as a bar chart scrolling from right to left: a column per sample,
// the newest at the right edge of the plot, a time axis below it and a speed axis at its right.
// The samples live in a SpeedGraphModel that the graph is given and does not own (the task
// list keeps one per task), so a graph shown again draws its whole history at once.
//
// The plot keeps fixed margins: 5 pixels at the left and top, a 30-pixel time-axis strip at
// the bottom and a 65-pixel speed-axis strip at the right. The bars and the space above them
// take ColColor and BackgroundColor; the axes are drawn in the palette's text colour on the
// parent's background, in the widget's font made small enough for the strips.
class TSpeedGraph : public QWidget {
    Q_OBJECT

public:
    static constexpr int Margin = 5;
    static constexpr int TimeAxisHeight = 30;
    static constexpr int SpeedAxisWidth = 65;
    static constexpr int TickLength = 3;

    explicit TSpeedGraph(SpeedGraphModel& model, QWidget* parent = nullptr);

    // Stores a speed in bytes per second and repaints the plot, and the speed axis when the
    // scale grew. Callers that feed the model directly call update() afterwards.
    void AddValue(int32_t speed);
    const SpeedGraphModel& Model() const { return model_; }

    int ColWidth() const { return model_.ColWidth(); }
    void SetColWidth(int pixels);
    int DataFreq() const { return model_.DataFreq(); }
    void SetDataFreq(int milliseconds);
    QColor ColColor() const { return colColor_; }
    void SetColColor(const QColor& color);
    QColor BackgroundColor() const { return backgroundColor_; }
    void SetBackgroundColor(const QColor& color);
    // The captions of the time axis and of the three speed units.
    QString Seconds() const { return seconds_; }
    void SetSeconds(const QString& text);
    QString MBps() const { return mbps_; }
    void SetMBps(const QString& text);
    QString KBps() const { return kbps_; }
    void SetKBps(const QString& text);
    QString Bps() const { return bps_; }
    void SetBps(const QString& text);

    // The areas for the current size; empty or inverted when the control is too small.
    QRect PlotRect() const;
    QRect TimeAxisRect() const;
    QRect SpeedAxisRect() const;
    // The font of the axis texts: the widget's own, made smaller when two lines of it and a
    // tick would not fit in the time-axis strip.
    QFont AxisFont() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void DrawTimeAxis(QPainter& painter) const;
    void DrawSpeedAxis(QPainter& painter) const;
    void DrawPlot(QPainter& painter) const;

    SpeedGraphModel& model_;
    QColor colColor_{0x00, 0x80, 0x00};
    QColor backgroundColor_{Qt::black};
    QString seconds_;
    QString mbps_;
    QString kbps_;
    QString bps_;
};

}  // namespace tarn
