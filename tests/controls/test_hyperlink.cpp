#include "controls/CQHyperLink.h"
#include "tests/controls/ControlsTestSupport.h"

#include <gtest/gtest.h>
#include <vector>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTest>

namespace {

// Stands in for the desktop: records what would be opened and answers with
// the given result. Never opens anything.
class FakeOpener
{
public:
    explicit FakeOpener(bool succeeds)
    {
        CCQHyperLink::SetOpenerForTesting([this, succeeds](const QString& url) {
            opened.push_back(url);
            return succeeds;
        });
    }
    ~FakeOpener() { CCQHyperLink::SetOpenerForTesting({}); }

    std::vector<QString> opened;
};

// Counts the presses that reach it, i.e. those the link left to its parent.
class Parent : public QWidget
{
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

TEST(CQHyperLink, OnlyTheTextCountsForTheCursorAndTheClick)
{
    Parent window;
    window.resize(320, 60);
    auto* link = new CCQHyperLink(QStringLiteral("www.tolva.example"), &window);
    link->setGeometry(10, 10, 300, 20);
    ShowAndWait(&window);
    const int textWidth = QFontMetrics(link->font()).horizontalAdvance(link->Text());
    ASSERT_LT(textWidth, 200);

    struct Case
    {
        Qt::Alignment alignment;
        int x;
        bool onText;
    };
    const int centredLeft = (300 - textWidth) / 2;
    const Case cases[] = {
        {Qt::AlignLeft, 0, true},
        {Qt::AlignLeft, textWidth - 1, true},
        {Qt::AlignLeft, textWidth, false},
        {Qt::AlignRight, 300 - textWidth, true},
        {Qt::AlignRight, 299 - textWidth, false},
        {Qt::AlignHCenter, centredLeft, true},
        {Qt::AlignHCenter, centredLeft - 1, false},
    };
    for (const Case& c : cases) {
        link->SetAlignment(c.alignment);
        QTest::mouseMove(window.windowHandle(), link->mapTo(&window, QPoint(c.x, 10)));
        QCoreApplication::processEvents();
        EXPECT_EQ(link->IsOnText(QPoint(c.x, 10)), c.onText) << c.x;
        EXPECT_EQ(link->cursor().shape(), c.onText ? Qt::PointingHandCursor : Qt::ArrowCursor)
            << int(c.alignment) << " at " << c.x;
        EXPECT_EQ(link->IsHovering(), c.onText) << c.x;
    }

    // A click beside the text goes to the parent and opens nothing.
    FakeOpener opener(true);
    link->SetAlignment(Qt::AlignLeft);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                      link->mapTo(&window, QPoint(textWidth + 5, 10)));
    EXPECT_EQ(window.presses, 1);
    EXPECT_TRUE(opener.opened.empty());
    EXPECT_FALSE(link->GetVisited());
}

TEST(CQHyperLink, AClickOpensTheTargetAndOnlySuccessMarksItVisited)
{
    for (bool succeeds : {false, true}) {
        Parent window;
        auto* link = new CCQHyperLink(QStringLiteral("Tolva on the web"), &window);
        link->setGeometry(0, 0, 200, 20);
        link->SetURL(QStringLiteral("http://www.tolva.example/"));
        ShowAndWait(&window);
        FakeOpener opener(succeeds);
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(5, 10));
        EXPECT_EQ(opener.opened, std::vector<QString>{QStringLiteral("http://www.tolva.example/")});
        EXPECT_EQ(link->GetVisited(), succeeds);
        EXPECT_EQ(window.presses, 0);
    }
}

TEST(CQHyperLink, SetUpTakesTheTextAsTargetAndTheTargetAsTooltip)
{
    struct Case
    {
        const char* before; // target set before the link is shown (nullptr: none)
        const char* after;  // target set after it is shown (nullptr: none)
        const char* target;
    };
    const Case cases[] = {
        {nullptr, nullptr, "mailto:support@tolva.example"},
        {"http://www.tolva.example/", nullptr, "http://www.tolva.example/"},
        {"http://www.tolva.example/", "http://www.tolva.example/sw.html",
         "http://www.tolva.example/sw.html"},
    };
    for (const Case& c : cases) {
        QWidget window;
        auto* link = new CCQHyperLink(QStringLiteral("mailto:support@tolva.example"), &window);
        if (c.before)
            link->SetURL(QString::fromUtf8(c.before));
        ShowAndWait(&window);
        if (c.after)
            link->SetURL(QString::fromUtf8(c.after));
        EXPECT_EQ(link->GetURL(), QString::fromUtf8(c.target));
        EXPECT_EQ(link->toolTip(), QString::fromUtf8(c.target));
    }
}

TEST(CQHyperLink, OpensWithoutEverBeingShown)
{
    FakeOpener opener(true);
    CCQHyperLink link;
    EXPECT_TRUE(link.GotoURL(QStringLiteral("http://www.tolva.example/")));
    link.SetURL(QStringLiteral("http://www.tolva.example/sw.html"));
    EXPECT_TRUE(link.GotoURL());
    EXPECT_EQ(opener.opened,
              (std::vector<QString>{QStringLiteral("http://www.tolva.example/"),
                                    QStringLiteral("http://www.tolva.example/sw.html")}));
}

} // namespace
