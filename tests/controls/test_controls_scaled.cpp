#include "controls/GlimmerloomFrame.h"
#include "controls/ResourceImages.h"
#include "controls/SkinButtonCQ.h"
#include "tests/controls/ControlsTestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

namespace {

// Set before main() creates the application: the whole program runs at 200%.
const bool scaled = ::setenv("QT_SCALE_FACTOR", "2", 1) == 0;

TEST(ScaledControls, EveryPictureExistsAtBothScales)
{
    ASSERT_TRUE(scaled);
    ASSERT_EQ(qGuiApp->devicePixelRatio(), 2.0);
    for (int id : ResourceImageIds()) {
        const QImage normal(ResourceImagePath(id, 1));
        const QImage large(ResourceImagePath(id, 2));
        ASSERT_FALSE(normal.isNull()) << id;
        EXPECT_EQ(large.size(), normal.size() * 2) << id;
        const QPixmap loaded = LoadResourceBitmap(id);
        EXPECT_EQ(loaded.devicePixelRatio(), 2.0) << id;
        EXPECT_EQ(loaded.deviceIndependentSize().toSize(), normal.size()) << id;
    }
    EXPECT_TRUE(LoadResourceBitmap(134).isNull());
    for (int size : ApplicationIconSizes())
        EXPECT_EQ(QImage(ApplicationIconPath(size)).size(), QSize(size, size)) << size;
}

TEST(ScaledControls, KeepTheirLogicalLayoutAndDrawTheLargePictures)
{
    CGlimmerloomFrame frame;
    auto* client = new QWidget;
    frame.SetClientWidget(client);
    auto* button = new CSkinButtonCQ(client);
    button->setGeometry(10, 10, 66, 62);
    button->SetSkin(148, 146, 147, 146, 148);
    frame.resize(700, 550);
    ShowAndWait(&frame);
    EXPECT_EQ(frame.ClientRect(), QRect(3, 39, 693, 507));
    EXPECT_EQ(frame.CaptionButtonAt(QPoint(700 - 17, 21)), CGlimmerloomFrame::CloseButton);

    const QImage face = Render(button);
    EXPECT_EQ(face.size(), QSize(132, 124));
    EXPECT_TRUE(SameArea(face,
                         QImage(ResourceImagePath(148, 2)).convertToFormat(QImage::Format_RGB32),
                         QRect(0, 0, 132, 120)));
    const QImage window = Render(&frame);
    EXPECT_EQ(window.size(), QSize(1400, 1100));
    // The caption picture around the emblem, above the client area.
    EXPECT_TRUE(SameArea(window.copy(2, 2, 1582, 76),
                         QImage(ResourceImagePath(130, 2)).convertToFormat(QImage::Format_RGB32),
                         QRect(400, 0, 200, 76)));
}

} // namespace
