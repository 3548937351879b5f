#pragma once

#include <QLocale>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarn {

enum class SpeedUnit { Bps, KBps, MBps };

// The speed axis: the value of its top label, which stands for the full plot height, its unit,
// and how much less each label 20 pixels lower stands for.
struct SpeedScale {
    double Top = 0;
    SpeedUnit Unit = SpeedUnit::Bps;
    double Step = 0;
};

// A label of an axis: where it stands, in pixels from the plot's top (speed axis) or left
// (time axis) edge, and its text.
struct AxisLabel {
    int Offset = 0;
    std::string Text;
};

// What the speed graph shows, without the drawing: the recent speeds of one task in a ring,
// the largest speed seen, and the geometry of the bars and the axis labels.
//
// The plot is drawn from its right edge leftwards, one column of ColWidth pixels per sample:
// column 0 (right edge) shows the newest sample, column c the one c samples older. A plot
// wider than the ring repeats the newest samples at its left, since the walk wraps.
class SpeedGraphModel {
public:
    static constexpr int SlotCount = 1025;
    static constexpr int TimeLabelColumns = 25;   // a time label every 25 columns
    static constexpr int SpeedLabelSpacing = 20;  // a speed label every 20 pixels

    // Stores one speed in bytes per second over the oldest slot. Returns whether the maximum
    // grew, that is whether the speed axis needs a new scale drawn on a cleared strip.
    bool AddValue(int32_t speed);
    // The sample `age` steps before the newest (0 = newest); slots never written hold 0.
    int32_t Sample(int age) const;
    // The largest sample ever added, at least 1 and never lower than before.
    int64_t Maximum() const { return maximum_; }

    // The height of the bar of `sample` in a plot `plotHeight` pixels high: its share of the
    // maximum, rounded half up. A negative speed draws no bar.
    int BarHeight(int32_t sample, int plotHeight) const;
    // How many columns a plot `plotWidth` pixels wide shows: the leftmost may be cut off.
    int ColumnCount(int plotWidth) const;

    SpeedScale Scale(int plotHeight) const;
    // The speed labels of a plot `plotHeight` pixels high, top down, every 20 pixels while above
    // the bottom: "1.00", with the locale's decimal separator.
    std::vector<AxisLabel> SpeedLabels(int plotHeight, const QLocale& locale = QLocale()) const;
    // The time labels of a plot `plotWidth` pixels wide, right to left from its last pixel, one
    // every 25 columns: the age in seconds of the sample above, shortest form ("25", "12.5").
    std::vector<AxisLabel> TimeLabels(int plotWidth, const QLocale& locale = QLocale()) const;

    int ColWidth() const { return colWidth_; }
    // Widths below 1 pixel are taken as 1: the column walk must move.
    void SetColWidth(int pixels);
    // Milliseconds between two samples; used only for the time labels.
    int DataFreq() const { return dataFreq_; }
    void SetDataFreq(int milliseconds) { dataFreq_ = milliseconds; }

private:
    std::array<int32_t, SlotCount> samples_{};
    int current_ = 0;
    int64_t maximum_ = 1;
    int colWidth_ = 3;
    int dataFreq_ = 200;
};

}  // namespace tarn
