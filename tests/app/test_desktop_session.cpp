// What the desktop learns of a run through the real form, against a private bus
// with python-dbusmock's logind and notification daemon: the sleep inhibitor
// and the launcher's progress while a run is active, and the notification at
// the end when the window is not active.
#include "tests/app/FormFixture.h"
#include "tests/support/EventPump.h"
#include "tests/support/MockBus.h"

#include <algorithm>

#include <QDBusArgument>
#include <QTest>

namespace {

const QString kLogind = "org.freedesktop.login1";
const QString kLogindPath = "/org/freedesktop/login1";
const QString kNotifications = "org.freedesktop.Notifications";

// The launcher entry's Update signals: the progress, or -1 when hidden.
class LauncherWatcher : public QObject
{
    Q_OBJECT
public:
    QList<double> m_progress;
public slots:
    void Update(const QString& uri, const QVariantMap& properties)
    {
        const bool shown = properties.value("progress-visible").toBool();
        m_progress << (uri == "application://clipvane.desktop" && shown
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
        ASSERT_EQ(m_bus.StartTemplate("logind", kLogind), QString());
        ASSERT_EQ(m_bus.StartTemplate("notification_daemon", kNotifications), QString());
        SetRegString("MovieDir", m_home.FilePath("out"));
    }

    // How many locks the mock logind holds: it drops one when its descriptor
    // is closed.
    int Inhibitors()
    {
        const QDBusMessage reply = m_bus.Call(kLogind, kLogindPath, "ListInhibitors", {},
                                              "org.freedesktop.login1.Manager");
        const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
        int locks = 0;
        list.beginArray();
        for (; !list.atEnd(); ++locks)
            list.asVariant();
        list.endArray();
        return locks;
    }

    // The arguments of each call of a mock's method.
    QList<QVariantList> CallsOf(const QString& service, const QString& path, const QString& method)
    {
        QList<QVariantList> calls;
        for (const auto& call : m_bus.Calls(service, path)) {
            if (call.first == method)
                calls << call.second;
        }
        return calls;
    }

    bool RunEnded()
    {
        return PumpUntil([&] { return !m_form->m_run.IsRunning(); });
    }

    MockBus m_bus;
};

TEST_F(DesktopSession, WhileARunIsActiveTheMachineStaysAwakeAndTheLauncherShowsItsProgress)
{
    LauncherWatcher launcher;
    ASSERT_TRUE(m_bus.Observer().connect({}, {}, "com.canonical.Unity.LauncherEntry", "Update",
                                         &launcher, SLOT(Update(QString, QVariantMap))));
    enum End
    {
        Finished,
        Stopped,
        NotStarted
    };
    for (const End end : {Finished, Stopped, NotStarted}) {
        SCOPED_TRACE(end);
        Click(CClipvaneView::IdRemoveAll);
        launcher.m_progress.clear();
        AddThroughDialog({File(QStringLiteral("movie %1.mpg").arg(end),
                               "onterm 2\nprogress 0 50 10\nsleep 2500\n" +
                                   FakeEncoder::WriteWholeMovie().toUtf8())});
        m_form->m_tools[EncodeProfile::Backend::Mencoder].strPath =
            end == NotStarted ? "/nowhere/mencoder" : m_encoder.Path();
        Click(CClipvaneView::IdMake);
        if (end != NotStarted) {
            ASSERT_TRUE(PumpUntil([&] { return m_form->m_desktop.HoldsInhibitor(); }));
            EXPECT_EQ(Inhibitors(), 1);
        }
        if (end == Stopped)
            Click(CClipvaneView::IdStop);
        ASSERT_TRUE(RunEnded());
        EXPECT_FALSE(m_form->m_desktop.HoldsInhibitor());
        const QList<QVariantList> inhibits = CallsOf(kLogind, kLogindPath, "Inhibit");
        ASSERT_EQ(inhibits.size(), end + 1);
        EXPECT_EQ(inhibits.back(),
                  (QVariantList{"sleep:idle", "Clipvane", "Encoding movies", "block"}));
        // Also a lock granted only after the run's end is let go at once.
        EXPECT_TRUE(PumpUntil([&] { return Inhibitors() == 0; }));

        ASSERT_TRUE(PumpUntil([&] { return launcher.m_progress.contains(-1.0); }));
        const QList<double>& progress = launcher.m_progress;
        EXPECT_EQ(progress.front(), 0.0);
        EXPECT_EQ(progress.back(), -1.0);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end() - 1));
        if (end == Finished) {
            // Partway at a tick of the run's timer, then whole.
            EXPECT_TRUE(std::any_of(progress.begin(), progress.end(),
                                    [](double p) { return p > 0 && p < 1; }));
            EXPECT_EQ(progress[progress.size() - 2], 1.0);
        }
    }
}

TEST_F(DesktopSession, AFinishedRunIsNotifiedWhenTheWindowIsNotActive)
{
    QWidget other;
    const struct
    {
        bool windowActive;
        bool failure;
        const char* body; // null: no notification
    } cases[] = {{true, true, nullptr}, {false, false, ""}, {false, true, "1 of 2 files failed."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body ? c.body : "active");
        Click(CClipvaneView::IdRemoveAll);
        const QByteArray whole = FakeEncoder::WriteWholeMovie().toUtf8();
        AddThroughDialog(
            {File("good.mpg", whole), File("bad.mpg", c.failure ? "exit 1\n" : whole)});
        QWidget* active = c.windowActive ? static_cast<QWidget*>(m_form.get()) : &other;
        active->show();
        active->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(active));
        const auto before = CallsOf(kNotifications, "/org/freedesktop/Notifications", "Notify");
        Click(CClipvaneView::IdMake);
        ASSERT_TRUE(RunEnded());
        PumpFor(200);
        const auto sent =
            CallsOf(kNotifications, "/org/freedesktop/Notifications", "Notify").mid(before.size());
        ASSERT_EQ(sent.size(), c.body ? 1 : 0);
        if (c.body) {
            EXPECT_EQ(sent[0].mid(0, 5),
                      (QVariantList{"Clipvane", 0u, "clipvane", "Encoding Finished !!", c.body}));
        }
    }
}

} // namespace

#include "test_desktop_session.moc"
