#include "controls/ResourceImages.h"
#include "controls/SkinButtonCQ.h"
#include "tests/controls/ControlsTestSupport.h"

#include <gtest/gtest.h>
#include <vector>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

namespace {

// Five different pictures, so that every look is told apart.
constexpr quint16 Normal = 148;
constexpr quint16 Down = 146;
constexpr quint16 Over = 147;
constexpr quint16 Disabled = 155;
constexpr quint16 Focus = 165;
constexpr quint16 Missing = 999;

enum class Act
{
    Move,
    MoveOff,
    Press,
    Release,
    ReleaseOff,
    DoubleClick,
    Leave,
    Disable,
    Focus
};

struct Sequence
{
    const char* name;
    std::vector<Act> acts;
    quint16 shown;
    int clicks;
};

class SkinButtonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_window.resize(200, 100);
        m_other = new QWidget(&m_window);
        m_other->setGeometry(150, 0, 50, 100);
        m_other->setFocusPolicy(Qt::StrongFocus);
        ShowAndWait(&m_window);
        Replace(CSkinButtonCQ::Push);
    }

    // A new button of the kind in place of the last one, the mouse away from
    // it and the focus elsewhere.
    void Replace(CSkinButtonCQ::Kind kind)
    {
        delete m_button;
        QTest::mouseMove(m_window.windowHandle(), QPoint(120, 90));
        m_button = new CSkinButtonCQ(&m_window, kind);
        m_button->setGeometry(10, 10, 66, 62);
        m_button->SetSkin(Normal, Down, Over, Disabled, Focus);
        m_button->show();
        m_other->setFocus();
        QCoreApplication::processEvents();
    }

    // Runs the acts and lets the mouse button go at the end if they left it held.
    void Run(const std::vector<Act>& acts)
    {
        int held = 0;
        for (Act act : acts) {
            Do(act);
            held += act == Act::Press ? 1 : act == Act::Release || act == Act::ReleaseOff ? -1 : 0;
        }
        m_leftHeld = held > 0;
    }
    void LetGo()
    {
        if (m_leftHeld)
            Do(Act::ReleaseOff);
        m_leftHeld = false;
    }

    void Do(Act act)
    {
        const QPoint inside(30, 30);
        const QPoint outside(120, 30); // on the window, beside the button
        switch (act) {
        case Act::Move:
            // Never twice to the same point: Qt drops a move that goes nowhere.
            m_wiggle = 1 - m_wiggle;
            m_inside = m_button->mapTo(&m_window, inside + QPoint(m_wiggle, 0));
            QTest::mouseMove(m_window.windowHandle(), m_inside);
            break;
        case Act::MoveOff:
            QTest::mouseMove(m_window.windowHandle(), outside);
            break;
        case Act::Press:
            QTest::mousePress(m_window.windowHandle(), Qt::LeftButton, {}, m_inside);
            break;
        case Act::Release:
            QTest::mouseRelease(m_window.windowHandle(), Qt::LeftButton, {}, m_inside);
            break;
        case Act::ReleaseOff:
            QTest::mouseRelease(m_window.windowHandle(), Qt::LeftButton, {}, outside);
            break;
        case Act::DoubleClick:
            QTest::mouseDClick(m_window.windowHandle(), Qt::LeftButton, {}, m_inside);
            break;
        case Act::Leave:
            QTest::mouseMove(m_window.windowHandle(), QPoint(120, 90));
            break;
        case Act::Disable:
            m_button->setEnabled(false);
            break;
        case Act::Focus:
            m_button->setFocus();
            break;
        }
        QCoreApplication::processEvents();
    }

    // Which of the five pictures the button shows, by its pixels.
    quint16 Shown()
    {
        const QImage face = Render(m_button);
        for (quint16 id : {Normal, Down, Over, Disabled, Focus})
            if (SameArea(face,
                         LoadResourceBitmap(id).toImage().convertToFormat(QImage::Format_RGB32),
                         face.rect()))
                return id;
        return 0;
    }

    QWidget m_window;
    QWidget* m_other = nullptr;
    CSkinButtonCQ* m_button = nullptr;
    bool m_leftHeld = false;
    int m_wiggle = 0;
    QPoint m_inside{40, 40}; // where the cursor was last over the button
};

TEST_F(SkinButtonTest, EventSequencesShowTheLookThePartCallsFor)
{
    const Sequence sequences[] = {
        {"rest", {}, Normal, 0},
        {"hover", {Act::Move}, Over, 0},
        {"press", {Act::Move, Act::Press}, Down, 0},
        // The press gave the button the focus: its focus picture is its normal
        // look from then on (the form gives both looks the same picture).
        {"drag off", {Act::Move, Act::Press, Act::MoveOff}, Focus, 0},
        {"drag back", {Act::Move, Act::Press, Act::MoveOff, Act::Move}, Down, 0},
        // After a click the hover look waits for the next move.
        {"click", {Act::Move, Act::Press, Act::Release}, Focus, 1},
        {"click, move", {Act::Move, Act::Press, Act::Release, Act::Move}, Over, 1},
        {"released off", {Act::Move, Act::Press, Act::MoveOff, Act::ReleaseOff}, Focus, 0},
        {"leave", {Act::Move, Act::Leave}, Normal, 0},
        {"focus", {Act::Focus}, Focus, 0},
        {"double click counts twice", {Act::Move, Act::DoubleClick}, Focus, 2},
        {"disabled", {Act::Disable, Act::Move}, Disabled, 0},
        {"disabled, pressed", {Act::Disable, Act::Move, Act::Press}, Disabled, 0},
    };
    for (const Sequence& sequence : sequences) {
        SCOPED_TRACE(sequence.name);
        Replace(CSkinButtonCQ::Push);
        QSignalSpy clicked(m_button, &QAbstractButton::clicked);
        Run(sequence.acts);
        EXPECT_EQ(Shown(), sequence.shown);
        EXPECT_EQ(clicked.count(), sequence.clicks);
        LetGo();
    }
}

TEST_F(SkinButtonTest, MissingPicturesFallBack)
{
    // No hover picture: the normal one on hover. No pictures at all: a plain face.
    m_button->SetSkin(Normal, Down, Missing, Disabled, Missing);
    Do(Act::Move);
    EXPECT_EQ(Shown(), Normal);
    m_button->SetSkin(Missing, Missing, Missing, Missing, Missing);
    const QImage face = Render(m_button);
    const QColor button = m_button->palette().color(QPalette::Active, QPalette::Button);
    EXPECT_EQ(face.pixelColor(0, 0), button);
    EXPECT_EQ(face.pixelColor(65, 61), button);
}

TEST_F(SkinButtonTest, CheckKindsToggleOnClicksAndTheSpaceBar)
{
    struct Case
    {
        CSkinButtonCQ::Kind kind;
        std::vector<Act> acts;
        bool checked;
    };
    const Case cases[] = {
        {CSkinButtonCQ::Push, {Act::Press, Act::Release}, false},
        {CSkinButtonCQ::CheckBox, {Act::Press, Act::Release}, true},
        {CSkinButtonCQ::CheckBox, {Act::Press, Act::Release, Act::Press, Act::Release}, false},
        {CSkinButtonCQ::CheckBox, {Act::Press, Act::MoveOff, Act::ReleaseOff}, false},
        {CSkinButtonCQ::Radio, {Act::Press, Act::Release, Act::Press, Act::Release}, true},
    };
    for (const Case& c : cases) {
        Replace(c.kind);
        Run(c.acts);
        LetGo();
        EXPECT_EQ(m_button->GetCheck(), c.checked)
            << int(c.kind) << ", " << c.acts.size() << " acts";
        if (c.checked) {
            EXPECT_EQ(Shown(), Down);
        }
    }

    CSkinButtonCQ push(&m_window, CSkinButtonCQ::Push);
    push.SetCheck(true);
    EXPECT_FALSE(push.GetCheck());

    CSkinButtonCQ box(&m_window, CSkinButtonCQ::CheckBox);
    box.show();
    box.setFocus();
    for (bool expected : {true, false}) {
        QTest::keyClick(&box, Qt::Key_Space);
        EXPECT_EQ(box.GetCheck(), expected);
    }
}

TEST_F(SkinButtonTest, CheckingARadioButtonUnchecksTheOthersOfItsParentOnceEventsRun)
{
    QWidget group;
    QWidget elsewhere;
    std::vector<CSkinButtonCQ*> radios;
    for (int i = 0; i < 3; ++i)
        radios.push_back(new CSkinButtonCQ(&group, CSkinButtonCQ::Radio));
    auto* box = new CSkinButtonCQ(&group, CSkinButtonCQ::CheckBox);
    auto* stranger = new CSkinButtonCQ(&elsewhere, CSkinButtonCQ::Radio);
    box->SetCheck(true);
    stranger->SetCheck(true);
    radios[0]->SetCheck(true);
    QCoreApplication::processEvents();

    radios[2]->SetCheck(true);
    // Posted, not sent: the first one still looks checked until events run.
    EXPECT_TRUE(radios[0]->GetCheck());
    QCoreApplication::processEvents();
    EXPECT_FALSE(radios[0]->GetCheck());
    EXPECT_FALSE(radios[1]->GetCheck());
    EXPECT_TRUE(radios[2]->GetCheck());
    EXPECT_TRUE(box->GetCheck());
    EXPECT_TRUE(stranger->GetCheck());
}

} // namespace
