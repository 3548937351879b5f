#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "dialogs/Icons.h"

namespace tarn {
namespace {

// Every icon the windows use is there and draws something, at the small and the large size.
TEST(IconsTest, EveryIconIsBuiltInAndDrawsAtEverySize)
{
    for (const char* name : IconNames()) {
        const QIcon icon = TarnIcon(name);
        for (const int size : {16, 32, 64}) {
            QImage image(size, size, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            icon.paint(&painter, image.rect());
            painter.end();
            int drawn = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) drawn += qAlpha(image.pixel(x, y)) > 0;
            EXPECT_GT(drawn, size * size / 20) << name << " at " << size;
        }
    }
}

}  // namespace
}  // namespace tarn
