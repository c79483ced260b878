// The start-up on the offscreen platform: the update check before any window,
// the first-run setup, a second start, and the main window's size, place and
// title.
#include "jobs/ClipvaneView.h"
#include "shell/ClipvaneApp.h"
#include "shell/MainFrame.h"
#include "shell/SettingsStore.h"
#include "tests/shell/LocalHttpServer.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace {

class ClipvaneApp : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_home.IsValid()); }

    // Starts the program in this process, as main does; the update question is
    // answered with answer and recorded. On success the run's sweep is limited
    // to an encoder name of this process's own.
    bool Start(CClipvaneApp& app)
    {
        const bool started = app.InitInstance();
        if (started)
            app.View()->m_run.SetEncoderImageName(QStringLiteral("cvap%1").arg(::getpid()));
        return started;
    }

    CClipvaneApp::Hooks Hooks(bool answer)
    {
        return {[this, answer](const QString& text, const QString& caption) {
                    m_questions << caption + QLatin1Char('|') + text;
                    return answer;
                },
                [this](const QString& url) {
                    m_opened << url;
                    return true;
                }};
    }

    QString ConfFile() const { return m_home.ConfigDir() + QStringLiteral("/Tolva/Clipvane.conf"); }

    std::map<QString, QString> Stored() const
    {
        QSettings file(ConfFile(), QSettings::IniFormat);
        std::map<QString, QString> values;
        for (const QString& key : file.allKeys())
            values[key] = file.value(key).toString();
        return values;
    }

    static bool AnyMainFrame()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<CMainFrame*>(widget))
                return true;
        }
        return false;
    }

    ScopedTempHome m_home;
    QStringList m_questions;
    QStringList m_opened;
};

} // namespace

TEST_F(ClipvaneApp, FirstStartSetsUpAndShowsTheCentredWindow)
{
    const QString movieDir = m_home.Path() + QStringLiteral("/home/Documents/Tolva/Encoded Movies");
    CClipvaneApp app(Hooks(false));
    ASSERT_TRUE(Start(app));

    const std::map<QString, QString> expected = {{"Started", "Yes"},      {"Major Version", "1"},
                                                 {"Minior Version", "0"}, {"Build Version", "314"},
                                                 {"MovieDir", movieDir},  {"Prefix", "[Tolva]"},
                                                 {"Option", "0"}};
    EXPECT_EQ(Stored(), expected);
    EXPECT_TRUE(QFileInfo(movieDir).isDir());

    CMainFrame* frame = app.MainFrame();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Tolva Clipvane"));
    EXPECT_EQ(frame->geometry(),
              QRect((screen.width() - 700) / 2, (screen.height() - 550) / 2, 700, 550));
    EXPECT_EQ(frame->ClientWidget(), app.View());
    EXPECT_EQ(app.View()->geometry(), QRect(3, 39, 693, 507));
    // Neither sizing nor maximising changes it.
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
    frame->showMaximized();
    QApplication::processEvents();
    EXPECT_FALSE(frame->isMaximized());
    EXPECT_EQ(frame->size(), QSize(700, 550));
    // The closed update server asked nothing.
    EXPECT_TRUE(m_questions.isEmpty());
}

TEST_F(ClipvaneApp, ASecondStartWritesNothing)
{
    {
        CClipvaneApp first(Hooks(false));
        ASSERT_TRUE(Start(first));
    }
    SetRegString(RegValue::MovieDir, QStringLiteral("/my/own folder"));
    SetRegString(RegValue::Prefix, QString());
    const QByteArray before = MediaFactory::ReadFile(ConfFile());

    CClipvaneApp second(Hooks(false));
    ASSERT_TRUE(Start(second));
    EXPECT_EQ(MediaFactory::ReadFile(ConfFile()), before);
}

TEST_F(ClipvaneApp, TheUpdateQuestionComesBeforeAnyWindow)
{
    LocalHttpServer server;
    server.Server().Get("/v_encoder.html", [](const httplib::Request&, httplib::Response& reply) {
        reply.set_content("Clipvane\n100315\n", "text/plain");
    });
    ASSERT_TRUE(server.Start());
    ScopedEnv env;
    BypassProxies(env);
    env.Set("CLIPVANE_VERSION_URL", server.Url(QStringLiteral("/v_encoder.html")).toUtf8());
    env.Set("CLIPVANE_DOWNLOAD_URL", "http://127.0.0.1:1/sw.html");

    for (const bool update : {true, false}) {
        SCOPED_TRACE(update ? "yes" : "no");
        m_questions.clear();
        m_opened.clear();
        CClipvaneApp app(Hooks(update));
        EXPECT_EQ(Start(app), !update);
        EXPECT_EQ(m_questions, QStringList({"Tolva Clipvane|New version found!\nDo you wish to "
                                            "update at this time"}));
        EXPECT_EQ(m_opened, update ? QStringList({"http://127.0.0.1:1/sw.html"}) : QStringList());
        // Yes ends the program before anything was shown or set up.
        EXPECT_EQ(AnyMainFrame(), !update);
        EXPECT_EQ(QFileInfo::exists(ConfFile()), !update);
    }
}
