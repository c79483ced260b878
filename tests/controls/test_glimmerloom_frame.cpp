#include "controls/GlimmerloomFrame.h"
#include "tests/controls/ControlsTestSupport.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QTest>

namespace {

using Button = CGlimmerloomFrame::CaptionButton;

class Frame : public CGlimmerloomFrame
{
public:
    int closes = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closes;
        CGlimmerloomFrame::closeEvent(event);
    }
};

class GlimmerloomFrameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_client = new QWidget;
        m_frame.SetClientWidget(m_client);
        m_frame.setWindowTitle(QStringLiteral("Tolva Clipvane"));
        m_frame.resize(700, 550);
        ShowAndWait(&m_frame);
    }

    void Click(const QPoint& press, const QPoint& release)
    {
        QTest::mousePress(m_frame.windowHandle(), Qt::LeftButton, {}, press);
        QTest::mouseMove(m_frame.windowHandle(), release);
        QTest::mouseRelease(m_frame.windowHandle(), Qt::LeftButton, {}, release);
        QCoreApplication::processEvents();
    }

    Frame m_frame;
    QWidget* m_client = nullptr;
};

TEST_F(GlimmerloomFrameTest, TheClientAreaIsInsetAndFollowsTheSize)
{
    EXPECT_EQ(m_frame.ClientRect(), QRect(3, 39, 693, 507));
    EXPECT_EQ(m_client->geometry(), QRect(3, 39, 693, 507));
    m_frame.resize(500, 300);
    EXPECT_EQ(m_client->geometry(), QRect(3, 39, 493, 257));
    // A resize renews the mask; a move keeps it.
    EXPECT_EQ(m_frame.mask(), QRegion(0, 0, 500, 300));
    m_frame.move(m_frame.pos() + QPoint(7, 5));
    EXPECT_EQ(m_frame.mask(), QRegion(0, 0, 500, 300));
}

TEST_F(GlimmerloomFrameTest, CaptionButtonsRespondOnTheirSquaresBothEndsIncluded)
{
    const int w = 700;
    struct Case
    {
        QPoint point;
        Button button;
    };
    const Case cases[] = {
        {{w - 65, 6}, Button::NoButton},        {{w - 64, 6}, Button::MinimiseButton},
        {{w - 49, 21}, Button::MinimiseButton}, {{w - 48, 6}, Button::MiddleButton},
        {{w - 33, 21}, Button::MiddleButton},   {{w - 32, 6}, Button::CloseButton},
        {{w - 17, 21}, Button::CloseButton},    {{w - 16, 6}, Button::NoButton},
        {{w - 32, 5}, Button::NoButton},        {{w - 32, 22}, Button::NoButton},
    };
    for (const Case& c : cases)
        EXPECT_EQ(m_frame.CaptionButtonAt(c.point), c.button) << c.point.x() << "," << c.point.y();
}

TEST_F(GlimmerloomFrameTest, OnlyAReleaseOverThePressedButtonActs)
{
    const QPoint minimise(700 - 64, 6);
    const QPoint middle(700 - 40, 12);
    const QPoint close(700 - 17, 21);
    const QPoint band(100, 20);
    struct Case
    {
        const char* name;
        QPoint press, release;
        bool closes, minimises;
    };
    const Case cases[] = {
        {"close dragged off to the middle button", close, middle, false, false},
        {"middle button dragged to close", middle, close, false, false},
        {"middle button", middle, middle, false, false},
        {"close dragged into the band", close, band, false, false},
        {"minimise", minimise, minimise, false, true},
        {"close", close, close, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QPoint where = m_frame.pos();
        Click(c.press, c.release);
        EXPECT_EQ(m_frame.PressedButton(), Button::NoButton);
        EXPECT_EQ(m_frame.closes, c.closes ? 1 : 0);
        EXPECT_EQ(m_frame.isMinimized(), c.minimises);
        EXPECT_EQ(m_frame.pos(), where);
        if (c.minimises) {
            m_frame.showNormal();
            QCoreApplication::processEvents();
        }
    }
    EXPECT_FALSE(m_frame.isVisible());
}

TEST_F(GlimmerloomFrameTest, DraggingTheCaptionBandMovesTheWindow)
{
    const QPoint start = m_frame.pos();
    QTest::mousePress(m_frame.windowHandle(), Qt::LeftButton, {}, QPoint(100, 20));
    QTest::mouseMove(m_frame.windowHandle(), QPoint(130, 45));
    // The window moved with the cursor: the cursor is over the pressed point again.
    QTest::mouseRelease(m_frame.windowHandle(), Qt::LeftButton, {}, QPoint(100, 20));
    EXPECT_EQ(m_frame.pos(), start + QPoint(30, 25));
}

TEST_F(GlimmerloomFrameTest, DrawsTheCaptionButtonsLooksAndAnElidedTitle)
{
    m_frame.setWindowTitle(QStringLiteral("A very long title ").repeated(10));
    const QPoint close(700 - 26, 12);
    QTest::mouseMove(m_frame.windowHandle(), close);
    QCoreApplication::processEvents();
    const QImage hover = Render(&m_frame);
    QTest::mousePress(m_frame.windowHandle(), Qt::LeftButton, {}, close);
    QCoreApplication::processEvents();
    const QImage pressed = Render(&m_frame);
    QTest::mouseRelease(m_frame.windowHandle(), Qt::LeftButton, {}, QPoint(300, 300));

    const QRect closeSquare(700 - 32, 6, 15, 15);
    const auto brightest = [&](const QImage& image, const QRect& area) {
        int most = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                most = std::max(most, qRed(image.pixel(x, y)));
        return most;
    };
    EXPECT_EQ(brightest(hover, closeSquare), 255);
    EXPECT_EQ(brightest(pressed, closeSquare), 140);
    EXPECT_EQ(brightest(hover, QRect(700 - 48, 6, 15, 15)), 179);
    // The title is white, and ends before x = w - 70.
    const QRect title = FindPixels(hover, QRect(0, 0, 700 - 64, 39),
                                   [](QRgb pixel) { return pixel == qRgb(255, 255, 255); });
    ASSERT_FALSE(title.isEmpty());
    EXPECT_GE(title.left(), 30);
    EXPECT_LT(title.right(), 700 - 70);
    EXPECT_GT(title.right(), 700 - 90);
    // The frame: black left edge, dark grey body, two black pixels at the right.
    EXPECT_EQ(hover.pixelColor(0, 300), QColor(Qt::black));
    EXPECT_EQ(hover.pixelColor(1, 300), QColor(74, 74, 74));
    EXPECT_EQ(hover.pixelColor(697, 300), QColor(74, 74, 74));
    EXPECT_EQ(hover.pixelColor(698, 300), QColor(Qt::black));
    EXPECT_EQ(hover.pixelColor(699, 300), QColor(Qt::black));
}

} // namespace
