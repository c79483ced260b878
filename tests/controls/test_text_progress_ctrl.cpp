#include "controls/TextProgressCtrl.h"
#include "tests/controls/ControlsTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPalette>

namespace {

// Pure colours, so that every pixel tells which pass drew it: the bar and the
// text over the empty part are red, the empty part and the text over the bar
// blue; antialiased edges are mixtures of the two.
const QColor Highlight(255, 0, 0);
const QColor Base(0, 0, 255);

bool Reddish(QRgb pixel)
{
    return qRed(pixel) > qBlue(pixel);
}
bool Bluish(QRgb pixel)
{
    return qBlue(pixel) > qRed(pixel);
}

// The extent of the text: its antialiased edges are neither pure colour.
QRect TextExtent(const QImage& image)
{
    return FindPixels(image, image.rect(),
                      [](QRgb pixel) { return pixel != Highlight.rgb() && pixel != Base.rgb(); });
}

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

class TextProgressCtrlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QPalette palette = m_window.palette();
        palette.setColor(QPalette::Highlight, Highlight);
        palette.setColor(QPalette::Base, Base);
        m_window.setPalette(palette);
        m_window.resize(260, 40);
        m_bar = new CTextProgressCtrl(&m_window);
        m_bar->setGeometry(10, 10, 200, 18);
        ShowAndWait(&m_window);
    }

    QWidget m_window;
    CTextProgressCtrl* m_bar = nullptr;
};

TEST_F(TextProgressCtrlTest, EmptyAndFullBarsDrawTheTextInTheOppositeColour)
{
    struct Case
    {
        int position;
        QColor fill;
        QColor text;
    };
    for (const Case& c : {Case{0, Base, Highlight}, Case{100, Highlight, Base}}) {
        m_bar->SetPos(c.position);
        const QImage image = Render(m_bar);
        for (const QPoint corner : {QPoint(0, 0), QPoint(199, 17)})
            EXPECT_EQ(image.pixelColor(corner), c.fill) << c.position;
        // The stems of the glyphs are drawn in the text colour.
        EXPECT_FALSE(
            FindPixels(image, image.rect(), [&](QRgb pixel) { return Near(pixel, c.text); })
                .isEmpty())
            << c.position;
        const QRect text = TextExtent(image);
        EXPECT_NEAR(text.center().x(), 100, 2) << c.position;
        EXPECT_NEAR(text.center().y(), 9, 2) << c.position;
    }
}

TEST_F(TextProgressCtrlTest, TheFillEdgeSplitsAGlyphBetweenTheTwoColours)
{
    // A single wide glyph centred on a bar half full: the edge at x = 100 runs
    // through its middle.
    m_bar->SetCaption(QStringLiteral("M"));
    m_bar->SetPos(50);
    const QImage image = Render(m_bar);
    const QRect left(0, 0, 100, 18);
    const QRect right(100, 0, 100, 18);
    EXPECT_EQ(image.pixelColor(99, 0), Highlight);
    EXPECT_EQ(image.pixelColor(100, 0), Base);
    const QRect glyphLeft = FindPixels(image, left, Bluish);
    const QRect glyphRight = FindPixels(image, right, Reddish);
    ASSERT_FALSE(glyphLeft.isEmpty());
    ASSERT_FALSE(glyphRight.isEmpty());
    EXPECT_EQ(glyphLeft.right(), 99);
    EXPECT_EQ(glyphRight.left(), 100);
    // The glyph's two halves are about equally wide.
    EXPECT_NEAR(glyphLeft.width(), glyphRight.width(), 2);
}

TEST_F(TextProgressCtrlTest, ACaptionReplacesThePercentageUntilItIsEmptiedAgain)
{
    m_bar->SetPos(37);
    const QImage percentage = Render(m_bar);
    m_bar->SetCaption(QStringLiteral("Finished, now converting the next movie"));
    EXPECT_EQ(m_bar->Caption(), QStringLiteral("Finished, now converting the next movie"));
    const QImage caption = Render(m_bar);
    // The fill still follows the position, the text is wider than "37%".
    EXPECT_EQ(caption.pixelColor(73, 0), Highlight);
    EXPECT_EQ(caption.pixelColor(74, 0), Base);
    EXPECT_GT(TextExtent(caption).width(), TextExtent(percentage).width() + 50);
    m_bar->SetCaption(QString());
    EXPECT_EQ(Render(m_bar), percentage);
}

TEST_F(TextProgressCtrlTest, RepaintsAtOnceOnlyWhenTheFillWidthChanges)
{
    // 50 pixels for a range of 100: two positions share each pixel.
    m_bar->resize(50, 18);
    m_bar->SetPos(0);
    QCoreApplication::processEvents();
    PaintCounter counter;
    m_bar->installEventFilter(&counter);
    struct Step
    {
        int position;
        bool resizeFirst;
        bool repaints;
    };
    const Step steps[] = {
        {10, false, true},  // 5 pixels
        {11, false, false}, // still 5 (5.5 truncated)
        {11, false, false}, // the same position again
        {12, false, true},  // 6
        {12, true, true},   // resized: repaints although the width is the same
        {13, false, false}, // 6 again
        {-4, false, true},  // below the range: -2 pixels, drawn as no fill
    };
    for (const Step& step : steps) {
        if (step.resizeFirst) {
            m_bar->resize(51, 18);
            m_bar->resize(50, 18);
        }
        const int before = counter.paints;
        // Counted without running the event loop: the repaint is synchronous.
        m_bar->SetPos(step.position);
        EXPECT_EQ(counter.paints - before, step.repaints ? 1 : 0) << step.position;
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(m_bar->SetPos(50), -4);
    EXPECT_EQ(m_bar->GetPos(), 50);
}

} // namespace
