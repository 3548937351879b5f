#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "windows/SpeedGraph.h"

namespace tarn {
namespace {

// Nothing the graph draws has this colour: what keeps it was left alone.
const QColor Untouched(255, 0, 255);
const QColor AxisInk(20, 40, 120);
const QColor Bars(0x00, 0x80, 0x00);

class SpeedGraphTest : public ::testing::Test {
protected:
    SpeedGraphTest() : graph(model)
    {
        QPalette colours = graph.palette();
        colours.setColor(QPalette::WindowText, AxisInk);
        graph.setPalette(colours);
        graph.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        graph.SetSeconds(QStringLiteral("Seconds"));
        graph.SetMBps(QStringLiteral("Mb/s"));
        graph.SetKBps(QStringLiteral("Kb/s"));
        graph.SetBps(QStringLiteral("B/s"));
    }

    QImage Render(int width, int height)
    {
        graph.resize(width, height);
        QImage image(width, height, QImage::Format_ARGB32);
        image.fill(Untouched);
        graph.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    }

    // The axis text `text` stands with its top-left corner at `topLeft`, alone in its box: the
    // box looks as the text drawn there by itself in the axis font and colour would.
    bool ShowsText(const QImage& rendering, QPoint topLeft, const QString& text) const
    {
        QImage expected(rendering.size(), QImage::Format_ARGB32);
        expected.fill(Untouched);
        QPainter painter(&expected);
        painter.setFont(graph.AxisFont());
        painter.setPen(AxisInk);
        painter.drawText(topLeft.x(), topLeft.y() + painter.fontMetrics().ascent(), text);
        painter.end();
        const QRect box = QRect(topLeft, TextSize(text)).intersected(rendering.rect());
        return rendering.copy(box) == expected.copy(box);
    }

    QSize TextSize(const QString& text) const
    {
        const QFontMetrics metrics(graph.AxisFont());
        return {metrics.horizontalAdvance(text), metrics.height()};
    }

    // Where the speed axis puts the label of the tick `offset` pixels below the plot's top,
    // and its unit caption.
    QPoint SpeedLabelAt(int width, int offset) const
    {
        return {width - TSpeedGraph::SpeedAxisWidth + TSpeedGraph::TickLength,
                TSpeedGraph::Margin + offset - TextSize(QStringLiteral("0")).height() / 2};
    }
    QPoint UnitCaptionAt(int width, int height, const QString& unit) const
    {
        const int plotHeight = height - TSpeedGraph::TimeAxisHeight - TSpeedGraph::Margin;
        return {width - TextSize(unit).width(), TSpeedGraph::Margin + plotHeight / 2};
    }

    // The colour of each pixel of column x of the plot, top down.
    static std::vector<QColor> PlotColumn(const QImage& image, int x)
    {
        std::vector<QColor> column;
        for (int y = TSpeedGraph::Margin; y < image.height() - TSpeedGraph::TimeAxisHeight; ++y)
            column.push_back(image.pixelColor(x, y));
        return column;
    }
    static int BarHeightAt(const QImage& image, int x)
    {
        const std::vector<QColor> column = PlotColumn(image, x);
        const auto firstBar = std::find(column.begin(), column.end(), Bars);
        EXPECT_TRUE(std::all_of(column.begin(), firstBar, [](const QColor& c) { return c == Qt::black; })) << x;
        EXPECT_TRUE(std::all_of(firstBar, column.end(), [](const QColor& c) { return c == Bars; })) << x;
        return static_cast<int>(column.end() - firstBar);
    }

    SpeedGraphModel model;
    TSpeedGraph graph;
};

TEST_F(SpeedGraphTest, AFirstSampleOfNothingKeepsTheScaleAtOneByte)
{
    graph.AddValue(0);
    const QImage image = Render(300, 135);
    EXPECT_TRUE(ShowsText(image, SpeedLabelAt(300, 0), QStringLiteral("1.00")));
    EXPECT_TRUE(ShowsText(image, SpeedLabelAt(300, 20), QStringLiteral("0.80")));
    EXPECT_TRUE(ShowsText(image, UnitCaptionAt(300, 135, QStringLiteral("B/s")), QStringLiteral("B/s")));
    EXPECT_FALSE(ShowsText(image, SpeedLabelAt(300, 0), QStringLiteral("2.00")));
    EXPECT_EQ(BarHeightAt(image, 300 - TSpeedGraph::SpeedAxisWidth - 1), 0);
}

TEST_F(SpeedGraphTest, TheScaleFollowsTheLargestSampleAndNeverFallsBack)
{
    graph.AddValue(2097152);
    const QImage grown = Render(300, 135);
    EXPECT_TRUE(ShowsText(grown, SpeedLabelAt(300, 0), QStringLiteral("2.00")));
    EXPECT_TRUE(ShowsText(grown, SpeedLabelAt(300, 20), QStringLiteral("1.60")));
    EXPECT_TRUE(ShowsText(grown, UnitCaptionAt(300, 135, QStringLiteral("Mb/s")), QStringLiteral("Mb/s")));

    graph.AddValue(1000);
    graph.AddValue(0);
    const QImage later = Render(300, 135);
    const QRect strip = graph.SpeedAxisRect();
    EXPECT_EQ(later.copy(strip), grown.copy(strip));
}

// Where a label and the unit caption would overlap, as a long translated caption does, the
// caption stays readable.
TEST_F(SpeedGraphTest, ALabelInTheWayOfTheUnitCaptionIsLeftOut)
{
    const QString caption = QStringLiteral("KBytes/s");
    graph.SetKBps(caption);
    graph.AddValue(1048576);
    const QImage image = Render(300, 135);
    EXPECT_TRUE(ShowsText(image, SpeedLabelAt(300, 0), QStringLiteral("1024.00")));
    EXPECT_TRUE(ShowsText(image, SpeedLabelAt(300, 40), QStringLiteral("614.40")));
    EXPECT_TRUE(ShowsText(image, UnitCaptionAt(300, 135, caption), caption));
}

TEST_F(SpeedGraphTest, BarsStandForTheirShareOfTheMaximumNewestAtTheRight)
{
    for (const int32_t speed : {1000, 500, 333, 0, 1000}) graph.AddValue(speed);
    const QImage image = Render(300, 135);  // a plot 100 pixels high
    const int right = 300 - TSpeedGraph::SpeedAxisWidth;
    const std::pair<int, int> columns[] = {{0, 100}, {1, 0}, {2, 33}, {3, 50}, {4, 100}, {5, 0}, {70, 0}};
    for (const auto& [age, bar] : columns) {
        for (int pixel = 1; pixel <= graph.ColWidth(); ++pixel) {
            EXPECT_EQ(BarHeightAt(image, right - age * graph.ColWidth() - pixel), bar) << "age " << age;
        }
    }
    // The margin at the left of the plot stays the parent's.
    EXPECT_EQ(image.pixelColor(TSpeedGraph::Margin - 1, 50), Untouched);
    EXPECT_EQ(image.pixelColor(TSpeedGraph::Margin, 50), Qt::black);
}

TEST_F(SpeedGraphTest, TheSampleAfterAFullRingOverwritesTheOldest)
{
    graph.SetColWidth(1);
    const int width = SpeedGraphModel::SlotCount + TSpeedGraph::Margin + TSpeedGraph::SpeedAxisWidth;
    const int height = 10 + TSpeedGraph::Margin + TSpeedGraph::TimeAxisHeight;
    graph.AddValue(1000);
    for (int i = 1; i < SpeedGraphModel::SlotCount; ++i) graph.AddValue(500);
    QImage image = Render(width, height);
    EXPECT_EQ(BarHeightAt(image, TSpeedGraph::Margin), 10);  // the oldest, at the left edge
    EXPECT_EQ(BarHeightAt(image, TSpeedGraph::Margin + 1), 5);

    graph.AddValue(1000);
    image = Render(width, height);
    EXPECT_EQ(BarHeightAt(image, TSpeedGraph::Margin), 5);
    EXPECT_EQ(BarHeightAt(image, width - TSpeedGraph::SpeedAxisWidth - 1), 10);
}

TEST_F(SpeedGraphTest, TheTimeAxisGivesTheAgeOfTheSamplesAboveItsTicks)
{
    graph.SetDataFreq(1000);
    const QImage image = Render(300, 135);
    const int top = 135 - TSpeedGraph::TimeAxisHeight;
    const int right = 300 - TSpeedGraph::SpeedAxisWidth - 1;
    const std::pair<int, QString> ticks[] = {{right, "0"}, {right - 75, "25"}, {right - 150, "50"}};
    for (const auto& [x, text] : ticks) {
        for (int y = top; y < top + TSpeedGraph::TickLength; ++y) EXPECT_EQ(image.pixelColor(x, y), AxisInk) << x;
        EXPECT_TRUE(ShowsText(image, {x - TextSize(text).width() / 2, top + TSpeedGraph::TickLength}, text)) << x;
    }
    const int axisWidth = right + 1 - TSpeedGraph::Margin;
    const QString seconds = QStringLiteral("Seconds");
    EXPECT_TRUE(ShowsText(image, {axisWidth / 2 - TextSize(seconds).width() / 2, 135 - TextSize(seconds).height()},
                          seconds));
}

TEST_F(SpeedGraphTest, AControlLowerThan36PixelsDrawsNothing)
{
    graph.AddValue(700);
    const QImage low = Render(200, 35);
    for (int y = 0; y < low.height(); ++y)
        for (int x = 0; x < low.width(); ++x) ASSERT_EQ(low.pixelColor(x, y), Untouched) << x << "," << y;

    const QImage lowest = Render(200, 36);
    EXPECT_EQ(lowest.pixelColor(200 - TSpeedGraph::SpeedAxisWidth - 1, TSpeedGraph::Margin), Bars);
}

}  // namespace
}  // namespace tarn
