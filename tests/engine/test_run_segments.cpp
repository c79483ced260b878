// Long movies in the run with the real ffmpeg, cut into segments of a second
// (the plan's limits) in movies of a few: the joined output against the whole
// encode picture by picture, segments side by side in free slots, a run killed
// with SIGKILL and started again, and a piece damaged before the join.
#include "engine/CommandLine.h"
#include "engine/EncodingRun.h"
#include "engine/Presets.h"
#include "jobs/MediaProbe.h"
#include "test_run_support.h"
#include "test_runner_support.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MovieInspector.h"
#include "tests/support/TestEnvironment.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

extern char** environ;

namespace {

using namespace MovieInspector;

const SegmentLimits Tiny{1.0, 2.0};

std::vector<int> Numbers(const QString& path)
{
    std::vector<int> numbers;
    for (const Luma& luma : DecodeAllLuma(path))
        numbers.push_back(FrameNumber(luma));
    return numbers;
}

// The files of the work folders, by name.
QStringList WorkFiles(const ScopedTempHome& home, const QString& pattern)
{
    QStringList names;
    QDirIterator it(home.StateDir() + "/Tolva/Clipvane/segments", {pattern}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names << QFileInfo(it.next()).fileName();
    return names;
}

class SegmentRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!MediaFactory::HaveFfmpeg())
            GTEST_SKIP() << "ffmpeg is missing";
        ASSERT_TRUE(m_home.IsValid() && m_links.IsValid());
        m_ffmpeg = m_links.RealEncoderLink(QStringLiteral("s"), QStringLiteral("ffmpeg"));
        m_run = std::make_unique<CEncodingRun>();
        m_form.Listen(*m_run);
        QObject::connect(m_run.get(), &CEncodingRun::RunEnded, [this] { ++m_ended; });
    }
    void TearDown() override { m_run.reset(); }

    // A numbered 320x240 movie of that kind with a key frame every 12 pictures.
    QString Movie(const char* kind, double seconds = 4)
    {
        MovieSpec spec;
        spec.width = 320;
        spec.height = 240;
        spec.seconds = seconds;
        spec.numbered = true;
        spec.outputArgs = InputKindArgs(kind) + QStringList{"-g", "12"};
        const QString path = m_home.FilePath(QString::fromLatin1(kind));
        QString error;
        EXPECT_TRUE(MediaFactory::GenerateMovie(path, spec, &error)) << error.toStdString();
        return path;
    }
    // Runs the movie alone into folder with "Phone and Tablet" (by ffmpeg, or
    // the program given).
    bool Run(const QString& movie, const QString& folder, int parallel, const SegmentLimits& limits,
             QString ffmpeg = QString())
    {
        if (ffmpeg.isEmpty())
            ffmpeg = m_ffmpeg;
        m_form.m_jobs.clear();
        m_form.AddJob(movie, ProbeFileSize(movie));
        ProbeMovieFile(movie, m_form.m_jobs.back());
        RunPlan plan = TestPlan(folder, {}, QStringLiteral("Phone and Tablet"), parallel);
        plan.tools[EncodeProfile::Backend::Ffmpeg] = {ffmpeg, QFileInfo(ffmpeg).fileName()};
        plan.segmentLimits = limits;
        const int ended = m_ended;
        return m_form.Start(*m_run, plan) && PumpUntil([&] { return m_ended > ended; }, 120000);
    }
    static QString Output(const QString& folder, const QString& movie)
    {
        return folder + '/' + QFileInfo(movie).completeBaseName() + ".mp4";
    }

    ScopedTempHome m_home;
    FakeEncoder m_links;
    FakeForm m_form;
    QString m_ffmpeg;
    std::unique_ptr<CEncodingRun> m_run;
    int m_ended = 0;
};

TEST_F(SegmentRunTest, ASegmentedJobIsTheWholeEncodeAndSpreadsOverFreeSlots)
{
    struct Case
    {
        const char* kind;
        int parallel;
    };
    const Case cases[] = {{"h264.mp4", 1}, {"stream h264.ts", 2}, {"matroska h264.mkv", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " on " + std::to_string(c.parallel) + " slots");
        const QString movie = Movie(c.kind);
        const QString whole = m_home.FilePath("whole");
        ASSERT_TRUE(Run(movie, whole, 1, {}));
        const QString cut = m_home.FilePath(QStringLiteral("cut %1").arg(c.parallel));
        // How many pieces run beside the job's own slot, looked at often.
        int besides = 0;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout,
                         [&] { besides = std::max(besides, m_run->PieceRuns()); });
        look.start(2);
        m_form.m_rowProgress.clear();
        m_form.m_progress.clear();
        ASSERT_TRUE(Run(movie, cut, c.parallel, Tiny));
        look.stop();
        EXPECT_EQ(m_form.Statuses(), QStringList{"Finished"}) << m_form.m_reasons[0].toStdString();

        const std::vector<int> wholeNumbers = Numbers(Output(whole, movie));
        ASSERT_EQ(wholeNumbers.size(), 100u);
        EXPECT_EQ(Numbers(Output(cut, movie)), wholeNumbers);
        const QString log = LatestRunLog(m_home);
        EXPECT_TRUE(log.contains("Segments: 4 segments of about 1 s")) << log.toStdString();
        EXPECT_TRUE(log.contains("Reused 0 of 4 segments (0 %)")) << log.toStdString();
        EXPECT_EQ(besides > 0, c.parallel > 1);
        // The row's bar and the total only move on.
        std::vector<int> bar = m_form.m_rowProgress[0];
        bar.erase(std::remove(bar.begin(), bar.end(), -1), bar.end());
        EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end()));
        EXPECT_TRUE(std::is_sorted(
            m_form.m_progress.begin(), m_form.m_progress.end(),
            [](const auto& a, const auto& b) { return a.totalPercent < b.totalPercent; }));
        // A finished job's work folder is gone.
        EXPECT_EQ(WorkFiles(m_home, "*"), QStringList());
    }
}

TEST_F(SegmentRunTest, ARunKilledAtOrInsideASegmentContinuesFromItsFinishedSegments)
{
    struct Case
    {
        const char* when;
        // The pattern of a work file whose appearance is the moment to kill.
        QString appears;
    };
    const Case cases[] = {{"at a segment boundary", "video-0002.json"},
                          {"in the middle of a segment", "video-0003.*part"}};
    const QString movie = Movie("h264.mp4", 6);
    const QString whole = m_home.FilePath("whole");
    ASSERT_TRUE(Run(movie, whole, 1, {}));
    const std::vector<int> wholeNumbers = Numbers(Output(whole, movie));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        const QString folder = m_home.FilePath(QStringLiteral("out %1").arg(c.when));
        // posix_spawn, as MediaFactory::Run: ThreadSanitizer loses track of
        // this thread after a QProcess start.
        NativeArgv argv(
            {TestEnvironment::BinDir() + "/clipvane_segment_run_child", m_ffmpeg, movie, folder});
        pid_t child = -1;
        ASSERT_EQ(::posix_spawn(&child, argv.Program().constData(), nullptr, nullptr, argv.Data(),
                                environ),
                  0);
        const bool appeared =
            PumpUntil([&] { return !WorkFiles(m_home, c.appears).isEmpty(); }, 60000);
        ::kill(child, SIGKILL);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        ASSERT_TRUE(appeared);
        const qsizetype kept = WorkFiles(m_home, "video-*.json").size();
        ASSERT_GE(kept, 1);

        ASSERT_TRUE(Run(movie, folder, 1, Tiny));
        EXPECT_EQ(m_form.Statuses(), QStringList{"Finished"}) << m_form.m_reasons[0].toStdString();
        const QString log = LatestRunLog(m_home);
        EXPECT_TRUE(log.contains(QStringLiteral("Reused %1 of 7 segments").arg(kept)))
            << log.toStdString();
        EXPECT_EQ(Numbers(Output(folder, movie)), wholeNumbers);
        EXPECT_EQ(WorkFiles(m_home, "*"), QStringList());
    }
}

TEST_F(SegmentRunTest, APieceDamagedAfterItWasKeptIsMadeAgainBeforeTheJoin)
{
    // A run stopped once two segments are kept; then a byte of one of them
    // changes: the size is its record's, so the next run keeps it until the
    // join's check finds it damaged and has it made again.
    const QString movie = Movie("h264.mp4");
    const QString folder = m_home.FilePath("out");
    m_form.m_jobs.clear();
    m_form.AddJob(movie, ProbeFileSize(movie));
    ProbeMovieFile(movie, m_form.m_jobs.back());
    RunPlan plan = TestPlan(folder, {}, QStringLiteral("Phone and Tablet"), 1);
    plan.tools[EncodeProfile::Backend::Ffmpeg] = {m_ffmpeg, QFileInfo(m_ffmpeg).fileName()};
    plan.segmentLimits = Tiny;
    ASSERT_TRUE(m_form.Start(*m_run, plan));
    ASSERT_TRUE(PumpUntil([&] { return WorkFiles(m_home, "video-*.json").size() >= 2; }, 60000));
    m_run->Stop();
    ASSERT_TRUE(PumpUntil([&] { return !m_run->IsRunning(); }));
    EXPECT_EQ(m_form.Statuses(), QStringList{"Stopped"});
    QDirIterator it(m_home.StateDir() + "/Tolva/Clipvane/segments", {"video-0001.mp4"}, QDir::Files,
                    QDirIterator::Subdirectories);
    ASSERT_TRUE(it.hasNext());
    QFile piece(it.next());
    ASSERT_TRUE(piece.open(QIODevice::ReadWrite));
    ASSERT_TRUE(piece.seek(piece.size() / 2));
    const char byte = piece.peek(1).at(0);
    piece.write(QByteArray(1, char(byte ^ 0x55)));
    piece.close();

    ASSERT_TRUE(Run(movie, folder, 1, Tiny));
    EXPECT_EQ(m_form.Statuses(), QStringList{"Finished"}) << m_form.m_reasons[0].toStdString();
    EXPECT_TRUE(LatestRunLog(m_home).contains(QRegularExpression("Reused [2-4] of 4 segments")));
    const std::vector<int> numbers = Numbers(Output(folder, movie));
    ASSERT_EQ(numbers.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(numbers[i], i);
}

TEST_F(SegmentRunTest, ASegmentThatFailsFailsItsJobWithItsReasonAndTheOthersAreKept)
{
    // ffmpeg, but for the third segment, which it refuses as a broken encoder
    // would.
    const QString refusing = m_links.FilePath("cvrefuse");
    ASSERT_TRUE(MediaFactory::WriteFile(
        refusing, QStringLiteral("#!/bin/sh\ncase \"$*\" in *video-0003.*part*)\n"
                                 "  echo 'Error while opening encoder' >&2; exit 1;;\nesac\n"
                                 "exec '%1' \"$@\"\n")
                      .arg(m_ffmpeg)
                      .toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(refusing, QFile::ReadOwner | QFile::ExeOwner));
    const QString movie = Movie("h264.mp4");
    for (const int parallel : {1, 2}) {
        SCOPED_TRACE(parallel);
        const QString folder = m_home.FilePath(QStringLiteral("out %1").arg(parallel));
        ASSERT_TRUE(Run(movie, folder, parallel, Tiny, refusing));
        EXPECT_EQ(m_form.Statuses(), QStringList{"Failed"});
        EXPECT_TRUE(
            m_form.m_reasons[0].startsWith("The encoder cannot make a movie with these settings."))
            << m_form.m_reasons[0].toStdString();
        EXPECT_EQ(m_run->PieceRuns(), 0);
        EXPECT_FALSE(QFileInfo::exists(Output(folder, movie)));
        // What was finished stays for the next run (each output has a work
        // folder of its own); nothing of the third.
        EXPECT_EQ(WorkFiles(m_home, "video-0001.json").size(), parallel);
        EXPECT_TRUE(WorkFiles(m_home, "video-0003.*").isEmpty());
    }
}

} // namespace
