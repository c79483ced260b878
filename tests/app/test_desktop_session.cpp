// What the desktop learns of a run through the real form, against a private bus
// with python-dbusmock's logind and notification daemon: the sleep inhibitor
// while a run is active, the launcher's progress, and the notification at the
// end when the window is not active.
#include "tests/app/FormFixture.h"
#include "tests/support/EventPump.h"
#include "tests/support/MockBus.h"

#include <algorithm>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QTest>

namespace {

const QString kLogind = "org.freedesktop.login1";
const QString kNotifications = "org.freedesktop.Notifications";

// Records the launcher entry's Update signals: progress, or -1 once it is
// hidden again.
class LauncherWatcher : public QObject
{
    Q_OBJECT
public:
    QList<double> m_progress;
    QStringList m_uris;
public slots:
    void Update(const QString& uri, const QVariantMap& properties)
    {
        m_uris << uri;
        m_progress << (properties.value("progress-visible").toBool()
                           ? properties.value("progress").toDouble()
                           : -1.0);
    }
};

class DesktopSession : public FormFixture
{
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        ASSERT_EQ(m_bus.Start(), QString());
        ASSERT_TRUE(m_bus.IsOurs());
        ASSERT_EQ(m_bus.StartTemplate("logind", kLogind), QString());
        ASSERT_EQ(m_bus.StartTemplate("notification_daemon", kNotifications), QString());
        SetRegString(RegValue::MovieDir, m_home.FilePath("out"));
    }

    // The locks the mock logind holds: what, who, why, mode.
    QStringList Inhibitors()
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kLogind, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "ListInhibitors");
        const QDBusMessage reply = m_bus.Observer().call(call);
        QStringList locks;
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {"no answer"};
        const QDBusArgument list = reply.arguments().front().value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QString what, who, why, mode;
            uint uid = 0, pid = 0;
            list.beginStructure();
            list >> what >> who >> why >> mode >> uid >> pid;
            list.endStructure();
            locks << QStringList{what, who, why, mode}.join('|');
        }
        list.endArray();
        return locks;
    }

    int InhibitCalls()
    {
        int calls = 0;
        for (const auto& call : m_bus.Calls(kLogind, "/org/freedesktop/login1"))
            calls += call.first == "Inhibit" ? 1 : 0;
        return calls;
    }

    QList<QVariantList> Notifications()
    {
        QList<QVariantList> sent;
        for (const auto& call : m_bus.Calls(kNotifications, "/org/freedesktop/Notifications")) {
            if (call.first == "Notify")
                sent << call.second;
        }
        return sent;
    }

    bool WaitEnded()
    {
        return PumpUntil([&] { return !m_form->m_run.IsRunning(); });
    }

    MockBus m_bus;
};

const QString kLock = "sleep:idle|Clipvane|Encoding movies|block";

TEST_F(DesktopSession, TheMachineIsKeptAwakeWhileARunIsActiveHoweverItEnds)
{
    enum class End
    {
        Finished,
        Stopped,
        NotStarted
    };
    for (const End end : {End::Finished, End::Stopped, End::NotStarted}) {
        SCOPED_TRACE(int(end));
        Click(CClipvaneView::IdRemoveAll);
        const int callsBefore = InhibitCalls();
        AddThroughDialog({File(QStringLiteral("movie %1.mpg").arg(int(end)),
                               "onterm 2\nprogress 0 50 10\nsleep 1500\n" +
                                   FakeEncoder::WriteWholeMovie().toUtf8())});
        if (end == End::NotStarted)
            m_form->m_run.SetEncoderPath(m_home.FilePath("no encoder"));
        else
            m_form->m_run.SetEncoderPath(m_encoder.Path());
        Click(CClipvaneView::IdMake);
        if (end != End::NotStarted) {
            ASSERT_TRUE(PumpUntil([&] { return m_form->m_desktop.HoldsInhibitor(); }));
            EXPECT_EQ(Inhibitors(), QStringList{kLock});
        }
        if (end == End::Stopped)
            Click(CClipvaneView::IdStop);
        ASSERT_TRUE(WaitEnded());
        EXPECT_FALSE(m_form->m_desktop.HoldsInhibitor());
        // Also a lock that logind grants only after the run's end is let go.
        EXPECT_EQ(InhibitCalls(), callsBefore + 1);
        EXPECT_TRUE(PumpUntil([&] { return Inhibitors().isEmpty(); }));
    }
}

TEST_F(DesktopSession, TheLauncherShowsTheRunsProgressUntilItsEnd)
{
    LauncherWatcher watcher;
    ASSERT_TRUE(m_bus.Observer().connect({}, {}, "com.canonical.Unity.LauncherEntry", "Update",
                                         &watcher, SLOT(Update(QString, QVariantMap))));
    AddThroughDialog({File("movie.mpg", "progress 0 50 10\nsleep 2500\n" +
                                            FakeEncoder::WriteWholeMovie().toUtf8())});
    Click(CClipvaneView::IdMake);
    ASSERT_TRUE(WaitEnded());
    ASSERT_TRUE(PumpUntil([&] { return watcher.m_progress.size() >= 4; }));
    PumpFor(100);
    const QList<double>& progress = watcher.m_progress;
    EXPECT_EQ(progress.front(), 0.0);
    // Partway at a tick of the run's timer.
    EXPECT_TRUE(
        std::any_of(progress.begin(), progress.end(), [](double p) { return p > 0 && p < 1; }));
    EXPECT_EQ(progress[progress.size() - 2], 1.0);
    EXPECT_EQ(progress.back(), -1.0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end() - 1));
    EXPECT_EQ(watcher.m_uris, QStringList(progress.size(), "application://clipvane.desktop"));
}

TEST_F(DesktopSession, AFinishedRunIsNotifiedWhenTheWindowIsNotActive)
{
    QWidget other;
    const struct
    {
        const char* name;
        bool windowActive;
        bool failure;
        const char* body; // null: no notification
    } cases[] = {
        {"active", true, true, nullptr},
        {"inactive, all finished", false, false, ""},
        {"inactive, one failed", false, true, "1 of 2 files failed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Click(CClipvaneView::IdRemoveAll);
        const QByteArray whole = FakeEncoder::WriteWholeMovie().toUtf8();
        AddThroughDialog(
            {File("good.mpg", whole), File("bad.mpg", c.failure ? "exit 1\n" : whole)});
        QWidget* active = c.windowActive ? static_cast<QWidget*>(m_form.get()) : &other;
        active->show();
        active->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(active));
        const int before = int(Notifications().size());
        Click(CClipvaneView::IdMake);
        ASSERT_TRUE(WaitEnded());
        PumpFor(200);
        const QList<QVariantList> sent = Notifications().mid(before);
        if (!c.body) {
            EXPECT_TRUE(sent.isEmpty());
            continue;
        }
        ASSERT_EQ(sent.size(), 1);
        EXPECT_EQ(sent[0].mid(0, 5),
                  (QVariantList{"Clipvane", 0u, "clipvane", "Encoding Finished !!", c.body}));
    }
}

} // namespace

#include "test_desktop_session.moc"
