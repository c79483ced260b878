// End to end: the real main window, a generated movie added through Add Movies,
// Make clicked, the real encoder of the stored preset (mencoder for the old
// handhelds' preset, ffmpeg for a phone's), and a valid output file at the end.
#include "app/ClipvaneApp.h"
#include "app/ClipvaneView.h"
#include "controls/TextProgressCtrl.h"
#include "engine/EncodeSetting.h"
#include "engine/Presets.h"
#include "engine/StoredSettings.h"
#include "jobs/MediaProbe.h"
#include "shell/SettingsStore.h"
#include "tests/app/FormFixture.h"
#include "tests/engine/test_run_support.h"
#include "tests/engine/test_runner_support.h"
#include "tests/support/EventPump.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

class ClipvaneEncode : public ::testing::TestWithParam<const char*>
{
};

TEST_P(ClipvaneEncode, AMovieAddedAndMadeIsEncodedByTheRealEncoderOfThePreset)
{
    ASSERT_TRUE(MediaFactory::HaveFfmpeg());
    ScopedTempHome home;
    const QString preset = QString::fromLatin1(GetParam());
    SetRegDWORD("Option", 0);
    SetRegString("Preset", preset);
    // A 4:3 movie: the old handhelds' frame is 320x240; a phone's fits within
    // 1280x720 and is never enlarged.
    const bool phone = preset != QLatin1String(Presets::PocketPcNormalName);
    FakeEncoder names;
    ASSERT_TRUE(home.IsValid() && names.IsValid());
    const QString movie = home.FilePath(QStringLiteral("Movies/sample clip.mpg"));
    QDir().mkpath(QFileInfo(movie).absolutePath());
    MovieSpec spec;
    spec.width = 640;
    spec.height = 480;
    spec.seconds = 3;
    ASSERT_TRUE(MediaFactory::GenerateMovie(movie, spec));

    CClipvaneApp app({[](const QString&, const QString&) { return false; },
                      [](const QString&) { return false; }});
    ASSERT_TRUE(app.InitInstance());
    CClipvaneView* form = app.View();
    // The real encoder under a name of this process's own, so that the run's
    // sweep can touch no other encoder on the machine.
    const QString encoder = names.RealEncoderLink();
    form->m_tools[EncodeProfile::Backend::Mencoder] = {encoder, QFileInfo(encoder).fileName()};
    form->m_run.SetEncoderImageName(QFileInfo(encoder).fileName());
    QStringList messages, folders;
    form->m_hooks.messageBox = [&](const QString& text, MessageIcon) { messages << text; };
    form->m_hooks.askYesNo = [&](const QString& text, MessageIcon) {
        messages << text;
        return false;
    };
    form->m_hooks.openFileNames = [&](QWidget*, const QString&, const QString&, const QString&) {
        return QStringList{movie};
    };
    form->m_hooks.openFolder = [&](const QString& folder) { folders << folder; };

    const auto click = [form](int id) {
        QWidget* button = form->Control(id);
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    };
    click(CClipvaneView::IdAddMovies);
    ASSERT_TRUE(PumpUntil([&] { return form->JobCount() == 1 && !form->IsAddingMovies(); }));
    click(CClipvaneView::IdMake);
    ASSERT_TRUE(form->m_run.IsRunning());
    ASSERT_TRUE(PumpUntil([&] { return !form->m_run.IsRunning(); }, 120000));

    EXPECT_EQ(form->m_jobList.GetRowStatus(0), JobState::Finished);
    EXPECT_EQ(form->m_progressTotal->GetPos(), 100);
    EXPECT_EQ(messages, QStringList({"Encoding Finished !!"}));
    const QString movieDir = home.Path() + QStringLiteral("/home/Documents/Tolva/Encoded Movies");
    EXPECT_EQ(folders, QStringList({movieDir}));

    const QString output = movieDir + (phone ? QStringLiteral("/[Tolva]sample clip.mp4")
                                             : QStringLiteral("/[Tolva]sample clip.avi"));
    ASSERT_TRUE(QFileInfo(output).isFile());
    StreamFile encoded;
    ProbeMovieFile(output, encoded);
    EXPECT_EQ(encoded.nWidth, phone ? 640 : 320);
    EXPECT_EQ(encoded.nHeight, phone ? 480 : 240);
    EXPECT_NEAR(encoded.nDuration, 3, 1);
}

INSTANTIATE_TEST_SUITE_P(Presets, ClipvaneEncode,
                         ::testing::Values(Presets::PocketPcNormalName, "Phone and Tablet"));

class ClipvaneResume : public FormFixture
{
protected:
    // The form with "Phone and Tablet" through ffmpeg, cutting a few seconds
    // into segments of one.
    void MakeSegmentingForm()
    {
        MakeForm();
        const QString ffmpeg = m_encoder.RealEncoderLink("f", "ffmpeg");
        m_form->m_tools[EncodeProfile::Backend::Ffmpeg] = {ffmpeg, QFileInfo(ffmpeg).fileName()};
        m_form->m_segmentLimits = SegmentLimits{1.0, 2.0};
    }
    int KeptSegments() const
    {
        int kept = 0;
        for (QDirIterator it(m_home.StateDir(), {"video-*.json"}, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++kept;
        return kept;
    }
};

TEST_F(ClipvaneResume, AKeptRowWithFinishedSegmentsSaysWhereItResumes)
{
    ASSERT_TRUE(MediaFactory::HaveFfmpeg());
    SetRegDWORD("Option", 0);
    SetRegString("Preset", "Phone and Tablet");
    SetRegString("MovieDir", m_home.FilePath("out"));
    MovieSpec spec;
    spec.width = 320;
    spec.height = 240;
    spec.seconds = 6;
    spec.outputArgs = InputKindArgs("h264.mp4") + QStringList{"-g", "12"};
    // Stopped by the user, or brought back "Ready" after a crash.
    for (const JobState kept : {JobState::Stopped, JobState::Ready}) {
        SCOPED_TRACE(JobStatus::Text(kept).toStdString());
        const QString movie = m_home.FilePath(JobStatus::Text(kept) + " movie 100%.mp4");
        ASSERT_TRUE(MediaFactory::GenerateMovie(movie, spec));
        MakeSegmentingForm();
        m_form->m_jobList.RemoveAllMovies();
        AddThroughDialog({movie});
        const int before = KeptSegments();
        Click(CClipvaneView::IdMake);
        ASSERT_TRUE(PumpUntil([&] { return KeptSegments() >= before + 2; }, 60000));
        Click(CClipvaneView::IdStop);
        ASSERT_TRUE(PumpUntil([&] { return !m_form->m_run.IsRunning(); }));
        ASSERT_EQ(Status(0), "Stopped");
        m_form->m_jobList.SetRowStatus(0, kept);

        // Clipvane starts again with the list it kept.
        MakeSegmentingForm();
        ASSERT_EQ(Status(0), JobStatus::Text(kept));
        m_form->FindKeptResumes();
        const QRegularExpression resumes("^Resumes at ([0-9]+) %$");
        ASSERT_TRUE(PumpUntil([&] { return resumes.match(Status(0)).hasMatch(); }));
        const int percent = resumes.match(Status(0)).captured(1).toInt();
        EXPECT_GT(percent, 0);
        EXPECT_LT(percent, 100);
        // The kept list still stores the status itself.
        EXPECT_EQ(m_form->m_jobList.GetRowStatus(0), kept);

        // Make continues where the row said.
        Click(CClipvaneView::IdMake);
        ASSERT_TRUE(PumpUntil([&] { return !m_form->m_run.IsRunning(); }, 60000));
        EXPECT_EQ(Status(0), "Finished");
        EXPECT_TRUE(LatestRunLog(m_home).contains(QRegularExpression(
            QStringLiteral("Reused [0-9]+ of [0-9]+ segments \\(%1 %\\)").arg(percent))))
            << LatestRunLog(m_home).toStdString();
    }
}
