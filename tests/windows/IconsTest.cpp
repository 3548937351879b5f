#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSet>
#include <QSvgRenderer>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "windows/Icons.h"

namespace tarn {
namespace {

QString IconFile(const char* name) { return QStringLiteral(":/icons/%1.svg").arg(QString::fromUtf8(name)); }

QImage Render(const QIcon& icon, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    icon.paint(&painter, image.rect());
    painter.end();
    return image;
}

// Every icon the windows use is there and draws something, at the small and the large size.
TEST(IconsTest, EveryIconIsBuiltInAndDrawsAtEverySize)
{
    for (const char* name : IconNames()) {
        const QIcon icon = TarnIcon(name);
        for (const int size : {16, 32, 64}) {
            const QImage image = Render(icon, size);
            int drawn = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) drawn += qAlpha(image.pixel(x, y)) > 0;
            EXPECT_GT(drawn, size * size / 20) << name << " at " << size;
        }
    }
}

// Every icon is drawn on the one 32-unit grid of the set and fills its square around the middle:
// a wrong view box, a stray transform or a shape left in a corner or a strip shows here.
TEST(IconsTest, EveryIconIsOnTheCommonGridAndCentred)
{
    for (const char* name : IconNames()) {
        EXPECT_EQ(QSvgRenderer(IconFile(name)).viewBoxF(), QRectF(0, 0, 32, 32)) << name;
        const QImage image = Render(TarnIcon(name), 32);
        QRect ink;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                if (qAlpha(image.pixel(x, y)) > 64) ink |= QRect(x, y, 1, 1);
        EXPECT_GE(ink.width(), 14) << name;
        EXPECT_GE(ink.height(), 14) << name;
        const QPointF middle = QRectF(ink).center();
        EXPECT_LE(std::abs(middle.x() - 16), 3) << name;
        EXPECT_LE(std::abs(middle.y() - 16), 3) << name;
    }
}

// Qt draws SVG Tiny: shapes, paths and gradients. Filters, masks, clipping, text and style sheets
// would be dropped without a word and the icon drawn wrong, and a gradient named wrongly is
// painted in a fallback colour; so each file keeps to what is drawn and names only its own ids.
TEST(IconsTest, EveryIconUsesOnlyWhatQtDrawsAndItsOwnGradients)
{
    static const QSet<QString> Elements = {"svg", "defs", "g", "path", "rect", "circle", "ellipse", "line", "polyline",
                                           "polygon", "linearGradient", "radialGradient", "stop"};
    static const QSet<QString> Refused = {"style", "class", "filter", "mask", "clip-path"};
    static const QRegularExpression Reference(QStringLiteral("url\\(#([^)]*)\\)"));
    for (const char* name : IconNames()) {
        QFile file(IconFile(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        QXmlStreamReader xml(&file);
        QSet<QString> ids, used;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            const QString element = xml.name().toString();
            EXPECT_TRUE(Elements.contains(element)) << name << ": <" << element.toStdString() << ">";
            for (const QXmlStreamAttribute& attribute : xml.attributes()) {
                const QString key = attribute.name().toString();
                EXPECT_FALSE(Refused.contains(key)) << name << ": " << key.toStdString();
                if (key == QLatin1String("id")) ids.insert(attribute.value().toString());
                for (const QRegularExpressionMatch& match : Reference.globalMatch(attribute.value()))
                    used.insert(match.captured(1));
            }
        }
        EXPECT_FALSE(xml.hasError()) << name << ": " << xml.errorString().toStdString();
        for (const QString& id : used) EXPECT_TRUE(ids.contains(id)) << name << ": url(#" << id.toStdString() << ")";
    }
}

// The task list and the log list show these at 16 pixels; each must be told apart from the
// others without its colour, in grey on a light and on a dark list. A state number out of range
// shows the error.
TEST(IconsTest, StateAndLogIconsDifferInGreyAtSixteenPixels)
{
    std::vector<std::pair<QString, QIcon>> icons;
    for (uint8_t state = 0; state < 6; ++state)
        icons.emplace_back(QStringLiteral("state %1").arg(state), StateIcon(state));
    for (const char* name : {"log-info", "log-error"}) icons.emplace_back(name, TarnIcon(name));
    for (const QColor background : {QColor(255, 255, 255), QColor(40, 40, 40)}) {
        std::vector<QImage> grey;
        for (const auto& [name, icon] : icons) {
            QImage image(16, 16, QImage::Format_ARGB32);
            image.fill(background);
            QPainter painter(&image);
            icon.paint(&painter, image.rect());
            painter.end();
            grey.push_back(image.convertToFormat(QImage::Format_Grayscale8));
        }
        for (size_t i = 0; i < icons.size(); ++i)
            for (size_t j = i + 1; j < icons.size(); ++j) {
                int differ = 0;
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x)
                        differ += std::abs(qGray(grey[i].pixel(x, y)) - qGray(grey[j].pixel(x, y))) > 64;
                EXPECT_GE(differ, 20) << icons[i].first.toStdString() << " and " << icons[j].first.toStdString()
                                      << " on " << background.name().toStdString() << ": " << differ;
            }
    }
    for (const uint8_t state : {6, 255}) EXPECT_EQ(Render(StateIcon(state), 16), Render(TarnIcon("state-error"), 16));
}

}  // namespace
}  // namespace tarn
