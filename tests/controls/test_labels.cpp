#include "controls/AppFonts.h"
#include "controls/GradientStaticCQ.h"
#include "controls/StaticCQ.h"
#include "tests/controls/ControlsTestSupport.h"

#include <gtest/gtest.h>

namespace {

const QColor Start(237, 233, 235);
const QColor End(36, 36, 36);

TEST(GradientStaticCQ, ColumnsRunFromTheStartColourWithTruncatedSteps)
{
    struct Case
    {
        int column;
        int width;
        QColor expected;
    };
    const Case cases[] = {
        {0, 200, Start},
        // 237 + (100 * -201) / 200: -100.5 truncates to -100.
        {100, 200, QColor(137, 135, 136)},
        // One step short of the end colour.
        {199, 200, QColor(237 - 201 * 199 / 200, 233 - 197 * 199 / 200, 235 - 199 * 199 / 200)},
        {0, 1, Start},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CGradientStaticCQ::GradientColumn(Start, End, c.column, c.width), c.expected)
            << c.column << "/" << c.width;
}

TEST(GradientStaticCQ, PaintsTheGradientMadeAtItsFirstSizeWithTheTextInset)
{
    QWidget window;
    window.resize(240, 40);
    auto* heading = new CGradientStaticCQ(QStringLiteral("Progress"), &window);
    heading->setGeometry(0, 0, 200, 17);
    ShowAndWait(&window);
    const QImage image = Render(heading);
    EXPECT_EQ(image.pixelColor(100, 0), QColor(137, 135, 136));
    EXPECT_EQ(image.pixelColor(100, 16), QColor(137, 135, 136));
    EXPECT_EQ(image.pixelColor(199, 16), QColor(38, 37, 37));
    // The text, 5 pixels in from the left.
    const QRect dark = FindPixels(image, QRect(0, 0, 100, 17), [](QRgb pixel) {
        return qRed(pixel) < 120; // the gradient stays above 137 left of column 100
    });
    ASSERT_FALSE(dark.isEmpty());
    EXPECT_GE(dark.left(), 5);
    EXPECT_LE(dark.left(), 7);
    EXPECT_NEAR(dark.center().y(), 8, 2);

    // Made once: after growing, column 100 keeps its colour.
    heading->resize(400, 17);
    EXPECT_EQ(Render(heading).pixelColor(100, 0), QColor(137, 135, 136));
}

TEST(StaticCQ, PaintsItsOwnTextColoursAndOffsets)
{
    QWidget window;
    window.resize(200, 60);
    auto* label = new CStaticCQ(QStringLiteral("Elapsed Time : "), Qt::AlignLeft, true, &window);
    label->setGeometry(0, 0, 108, 18);
    const QFont font = CellHeightFont(QStringLiteral("Tahoma"), 13);
    label->SetLogFont(&font);
    label->SetOffsets(10, 2);
    label->SetTextColor(Qt::black);
    label->SetBkColor(QColor(167, 166, 170));
    ShowAndWait(&window);

    struct Case
    {
        QColor background;
        QColor text;
        QString shown;
    };
    const Case cases[] = {
        {QColor(167, 166, 170), Qt::black, QStringLiteral("Elapsed Time : ")},
        {QColor(36, 36, 36), Qt::white, QStringLiteral("00:01:12")},
    };
    for (const Case& c : cases) {
        label->SetBkColor(c.background);
        label->SetTextColor(c.text);
        label->SetText(c.shown);
        const QImage image = Render(label);
        EXPECT_EQ(image.pixelColor(0, 0), c.background);
        EXPECT_EQ(image.pixelColor(107, 17), c.background);
        const QRect glyphs = FindPixels(image, image.rect(),
                                        [&](QRgb pixel) { return pixel != c.background.rgb(); });
        ASSERT_FALSE(glyphs.isEmpty());
        EXPECT_GE(glyphs.left(), 10);
        EXPECT_LE(glyphs.left(), 12);
        // One line, centred in the rectangle below the y offset.
        EXPECT_NEAR(glyphs.center().y(), 2 + 16 / 2, 2);
        EXPECT_FALSE(FindPixels(image, image.rect(), [&](QRgb pixel) {
                         return Near(pixel, c.text);
                     }).isEmpty());
    }
    EXPECT_EQ(label->Text(), QStringLiteral("00:01:12"));
}

TEST(StaticCQ, WrapsAtWordsWithinItsRectangleReducedByTheOffset)
{
    QWidget window;
    auto* label = new CStaticCQ(QStringLiteral("one two three four five six seven eight nine ten"),
                                Qt::AlignLeft, false, &window);
    label->setGeometry(0, 0, 80, 30);
    label->SetOffsets(6, 0);
    label->SetTextColor(Qt::white);
    label->SetBkColor(Qt::black);
    ShowAndWait(&window);
    const QImage image = Render(label);
    const QRect glyphs =
        FindPixels(image, image.rect(), [](QRgb pixel) { return pixel != qRgb(0, 0, 0); });
    ASSERT_FALSE(glyphs.isEmpty());
    EXPECT_GE(glyphs.left(), 6);
    EXPECT_LE(glyphs.right(), 79);
    EXPECT_LE(glyphs.top(), 4);     // from the top
    EXPECT_GE(glyphs.bottom(), 20); // on more than one line
}

} // namespace
