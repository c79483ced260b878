// The start-up on the offscreen platform: the update check before any window,
// the first-run setup, a second start, the main window's size, place and
// title, the stored settings in the encoding record, and closing the window
// (or Ctrl+Q) during a run.
#include "app/ClipvaneApp.h"
#include "app/ClipvaneView.h"
#include "app/MainFrame.h"
#include "controls/StaticCQ.h"
#include "engine/EncodeSetting.h"
#include "engine/RunPlan.h"
#include "engine/StoredSettings.h"
#include "shell/SettingsStore.h"
#include "tests/engine/test_runner_support.h"
#include "tests/shell/LocalHttpServer.h"
#include "tests/support/EventPump.h"
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
#include <QTest>

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

    const std::map<QString, QString> expected = {
        {"Started", "Yes"},       {"Major Version", "1"},        {"Minior Version", "0"},
        {"Build Version", "314"}, {"MovieDir", movieDir},        {"Prefix", "[Tolva]"},
        {"Option", "0"},          {"Preset", "Phone and Tablet"}};
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
    SetRegString("MovieDir", QStringLiteral("/my/own folder"));
    SetRegString("Prefix", QString());
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

TEST_F(ClipvaneApp, TheStoredSettingsAreEncodedFromTheStartAsTheSummaryShowsThem)
{
    // The encoder names of the summary and what each makes of the video.
    const std::map<QString, QString> codecs = {{"MPEG-4(OpenDivx)", "vcodec=mpeg4 "},
                                               {"MS MPEGv2", "vcodec=msmpeg4 "},
                                               {"WMV7", "vcodec=wmv1 "},
                                               {"WMV8", "vcodec=wmv2 "}};
    struct Case
    {
        const char* name;
        std::vector<std::pair<const char*, DWORD>> stored;
        bool shutdown;
        // Instead of the picture size 640x352.
        const char* width = "640";
        const char* height = "352";
    };
    std::vector<Case> cases = {{"preset", {{"Option", 0}}, false},
                               {"shut-down on", {{"Shutdown", 1}}, true},
                               // Encoded at the default size (320x240), and left as stored.
                               {"damaged sizes", {{"Option", 1}}, false, "0", "99999"}};
    for (DWORD encoder = 0; encoder < 4; ++encoder)
        cases.push_back(
            {"user define",
             {{"Option", 1}, {"Encoder", encoder}, {"Bit", 4}, {"Fps", encoder % 3}, {"UseSub", 0}},
             false});
    StreamFile job;
    job.strFilePath = QStringLiteral("/m/a.mpg");
    job.strFileName = QStringLiteral("a.mpg");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTempHome home;
        // A returning user's store: the first-run setup is done.
        SetRegString("Started", QStringLiteral("Yes"));
        SetRegString("Width", QString::fromLatin1(c.width));
        SetRegString("Height", QString::fromLatin1(c.height));
        for (const auto& [value, number] : c.stored)
            SetRegDWORD(value, number);
        const QString conf = home.ConfigDir() + QStringLiteral("/Tolva/Clipvane.conf");
        const QByteArray stored = MediaFactory::ReadFile(conf);
        CClipvaneApp app(Hooks(false));
        ASSERT_TRUE(Start(app));
        const auto label = [&](int id) {
            return qobject_cast<CStaticCQ*>(app.View()->Control(id))->Text();
        };
        const RunPlan plan = RunPlan::FromSettings(StoredSettings::Load(), false);
        const EncodeSetting record = EncodeSetting::FromProfile(plan.profile, plan.bBurnSubtitle);
        const QString arguments =
            record.BuildCommandLine({}, QStringLiteral("/o/a.avi"), false, job);
        if (QLatin1String(c.width) == QLatin1String("0")) {
            EXPECT_EQ(label(CClipvaneView::IdPictureSize), QStringLiteral("320x240"));
        }
        const QStringList size = label(CClipvaneView::IdPictureSize).split('x');
        ASSERT_EQ(size.size(), 2);
        const QStringList shown = {
            codecs.at(label(CClipvaneView::IdEncoder)),
            "vbitrate=" + label(CClipvaneView::IdVideoBitRate) + " ",
            QStringLiteral(" -ofps %1 ")
                .arg(label(CClipvaneView::IdFrameRate).toDouble(), 0, 'f', 3),
            QStringLiteral("expand=%1:%2:").arg(size[0], size[1])};
        for (const QString& part : shown)
            EXPECT_TRUE(arguments.contains(part))
                << part.toStdString() << " in " << arguments.toStdString();
        EXPECT_EQ(record.m_bBurnSubtitle, GetRegText("UseSub") != "0");
        EXPECT_EQ(plan.bShutdown, c.shutdown);
        // Nothing was written to get there.
        EXPECT_EQ(MediaFactory::ReadFile(conf), stored);
    }
}

TEST_F(ClipvaneApp, ClosingDuringARunAsksAndYesStopsLikeStopAndOtherEncodersLiveOn)
{
    ForeignEncoder foreign;
    ASSERT_TRUE(foreign.IsValid()) << "mencoder could not be started";
    FakeEncoder fake;
    ASSERT_TRUE(fake.IsValid());
    {
        CClipvaneApp app(Hooks(false));
        // The real sweep, for the encoder's real name: only strays of a gone
        // Clipvane may end.
        ASSERT_TRUE(app.InitInstance());
        // The fake stands for mencoder: the handhelds' preset.
        SetRegString("Preset", QStringLiteral("Pocket PC Normal"));
        CClipvaneView* view = app.View();
        CMainFrame* frame = app.MainFrame();
        view->m_tools[EncodeProfile::Backend::Mencoder] = {fake.Path(), fake.ImageName()};
        QStringList questions;
        // No to the first question, Yes to the others.
        view->m_hooks.askYesNo = [&](const QString& text, MessageIcon) {
            questions << text;
            return questions.size() > 1;
        };
        view->m_hooks.messageBox = [&](const QString& text, MessageIcon) { questions << text; };
        const QString out = m_home.FilePath("out");
        SetRegString("MovieDir", out);
        const QString pidFile = m_home.FilePath("encoder.pid");
        const QString movie = m_home.FilePath("film.mpg");
        ASSERT_TRUE(MediaFactory::WriteFile(
            movie, ("pidfile " + pidFile + "\nonterm 2\ntouchout half\nprogress 0 10 2\nhang\n")
                       .toUtf8()));
        view->AddMovieFiles({movie});
        ASSERT_TRUE(PumpUntil([&] { return view->JobCount() == 1 && !view->IsAddingMovies(); }));
        view->StartEncoding();
        // Until the encoder has written into its hidden file: the Stop then
        // leaves an incomplete output to ask about.
        const QString part = QStringLiteral("%1/.[Tolva]film.avi.%2.part").arg(out).arg(getpid());
        ASSERT_TRUE(PumpUntil([&] { return QFileInfo(part).size() > 0; }));
        const pid_t encoder = MediaFactory::ReadFile(pidFile).toInt();

        const QPoint closeButton(frame->width() - 32 + 7, 6 + 7);
        const QString closeQuestion = "Encoding is in progress. Stop it and quit Clipvane?";
        // Ctrl+Q asks as the close button does.
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        QTest::keyClick(frame, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(questions, QStringList{closeQuestion});
        EXPECT_TRUE(frame->isVisible());
        EXPECT_TRUE(view->m_run.IsRunning());
        EXPECT_TRUE(ProcessProbe::ProcessExists(encoder));

        QTest::mouseClick(frame, Qt::LeftButton, {}, closeButton);
        EXPECT_EQ(questions, (QStringList{closeQuestion, closeQuestion,
                                          "Below file is incomplete encoding. Delete this "
                                          "file?\n" +
                                              out + "/[Tolva]film.avi"}));
        EXPECT_FALSE(frame->isVisible());
        EXPECT_FALSE(view->m_run.IsRunning());
        EXPECT_FALSE(ProcessProbe::ProcessExists(encoder));
        EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList());
        EXPECT_EQ(view->m_jobList.GetRowStatus(0), JobState::Stopped);
        EXPECT_TRUE(foreign.IsAlive());
    }
    // The window and its runner are gone now too, idle.
    EXPECT_TRUE(foreign.IsAlive());
}
