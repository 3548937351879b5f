#include "tasks/SpeedGraphModel.h"

#include <algorithm>

namespace tarn {
namespace {

constexpr double OneKilobyte = 1024.0;
constexpr double OneMegabyte = 1048576.0;

// Thousandths of a second to the shortest decimal form. Integers keep the value exact, so a
// step of 333 ms reads 8.325 and not 8.3249999999.
std::string FormatThousandths(int64_t thousandths, const QLocale& locale)
{
    const bool negative = thousandths < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(thousandths) : static_cast<uint64_t>(thousandths);
    std::string text = (negative ? "-" : "") + std::to_string(magnitude / 1000);
    std::string decimals = std::to_string(1000 + magnitude % 1000).substr(1);
    decimals.erase(decimals.find_last_not_of('0') + 1);
    if (decimals.empty()) return text;
    return text + locale.decimalPoint().toStdString() + decimals;
}

}  // namespace

bool SpeedGraphModel::AddValue(int32_t speed)
{
    current_ = current_ == SlotCount - 1 ? 0 : current_ + 1;
    samples_[static_cast<size_t>(current_)] = speed;
    if (speed <= maximum_) return false;
    maximum_ = speed;
    return true;
}

int32_t SpeedGraphModel::Sample(int age) const
{
    const int64_t slot = ((current_ - int64_t{age}) % SlotCount + SlotCount) % SlotCount;
    return samples_[static_cast<size_t>(slot)];
}

int SpeedGraphModel::BarHeight(int32_t sample, int plotHeight) const
{
    if (sample <= 0 || plotHeight <= 0) return 0;
    // round(sample / maximum * plotHeight) in integers: the product fits in 63 bits, and the
    // maximum is at least 1.
    return static_cast<int>((2 * int64_t{sample} * plotHeight + maximum_) / (2 * maximum_));
}

int SpeedGraphModel::ColumnCount(int plotWidth) const
{
    return plotWidth <= 0 ? 0 : static_cast<int>((int64_t{plotWidth} + colWidth_ - 1) / colWidth_);
}

SpeedScale SpeedGraphModel::Scale(int plotHeight) const
{
    SpeedScale scale;
    const auto maximum = static_cast<double>(maximum_);
    if (maximum > OneMegabyte) scale = {maximum / OneMegabyte, SpeedUnit::MBps};
    else if (maximum > OneKilobyte) scale = {maximum / OneKilobyte, SpeedUnit::KBps};
    else scale = {maximum, SpeedUnit::Bps};
    if (plotHeight > 0) scale.Step = SpeedLabelSpacing * scale.Top / plotHeight;
    return scale;
}

std::vector<AxisLabel> SpeedGraphModel::SpeedLabels(int plotHeight, const QLocale& locale) const
{
    std::vector<AxisLabel> labels;
    const SpeedScale scale = Scale(plotHeight);
    // Axis numbers carry no thousands separators: "1024.00", not "1,024.00".
    QLocale plain = locale;
    plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
    for (int k = 0; k * SpeedLabelSpacing < plotHeight; ++k) {
        // Each value from the top rather than by repeated subtraction, so no error piles up.
        const double value = scale.Top - k * scale.Step;
        labels.push_back({k * SpeedLabelSpacing, plain.toString(value, 'f', 2).toStdString()});
    }
    return labels;
}

std::vector<AxisLabel> SpeedGraphModel::TimeLabels(int plotWidth, const QLocale& locale) const
{
    std::vector<AxisLabel> labels;
    const int64_t spacing = int64_t{TimeLabelColumns} * colWidth_;
    for (int64_t k = 0, x = int64_t{plotWidth} - 1; x >= 0; ++k, x -= spacing) {
        labels.push_back({static_cast<int>(x), FormatThousandths(k * TimeLabelColumns * dataFreq_, locale)});
    }
    return labels;
}

void SpeedGraphModel::SetColWidth(int pixels)
{
    colWidth_ = std::max(1, pixels);
}

}  // namespace tarn
