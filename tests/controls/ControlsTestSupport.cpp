#include "ControlsTestSupport.h"

#include "controls/AppFonts.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

namespace {

// Text is measured and drawn in the program's own Tahoma in every test.
class FontsEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { RegisterApplicationFonts(); }
};

const auto* const fontsEnvironment = ::testing::AddGlobalTestEnvironment(new FontsEnvironment);

} // namespace

void ShowAndWait(QWidget* window)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
}

QImage Render(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRect FindPixels(const QImage& image, const QRect& area, const std::function<bool(QRgb)>& test)
{
    QRect found;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (test(image.pixel(x, y)))
                found |= QRect(x, y, 1, 1);
    return found;
}

bool Near(QRgb pixel, const QColor& colour, int tolerance)
{
    return std::abs(qRed(pixel) - colour.red()) <= tolerance &&
           std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

bool SameArea(const QImage& image, const QImage& picture, const QRect& area)
{
    const QRect common = area.intersected(image.rect()).intersected(picture.rect());
    for (int y = common.top(); y <= common.bottom(); ++y)
        for (int x = common.left(); x <= common.right(); ++x)
            if ((image.pixel(x, y) & 0xffffff) != (picture.pixel(x, y) & 0xffffff))
                return false;
    return !common.isEmpty();
}
