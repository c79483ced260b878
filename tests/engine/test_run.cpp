#include "engine/EncodingRun.h"
#include "engine/MencoderEncode.h"
#include "engine/Presets.h"
#include "engine/PreviewPlayer.h"
#include "jobs/MediaProbe.h"
#include "jobs/SubtitleFile.h"
#include "subtitles/EncoderSubtitle.h"
#include "test_run_support.h"
#include "test_runner_support.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace {

// --- Pure pieces ---------------------------------------------------------------

TEST(RunParserTest, TakesTheNumberBetweenTheFirstParenthesisAndTheNextPercent)
{
    const auto parse = [](const char* text) { return CMencoderEncode::ParseProgressPercent(text); };
    EXPECT_EQ(parse("Pos:  27.4s    685f (12%)  0.00fps Trem:   0min   1mb  A-V:0.102 [171:71]\r"),
              12);
    EXPECT_EQ(parse("Pos:   0.4s     10f ( 7%)  0.00fps\r"), 7);
    EXPECT_EQ(parse("Pos: (100%)"), 100);
    EXPECT_EQ(parse("Pos: (12"), 0);         // "(" without "%": the taken text is empty
    EXPECT_EQ(parse("Pos: (abc%)"), 0);      // no digits
    EXPECT_EQ(parse("Pos: (-3%)"), -3);      // a sign is read like the platform does
    EXPECT_EQ(parse("Pos: (4x2%) (9%)"), 4); // digits up to the first non-digit
    EXPECT_EQ(parse("Pos: (99999999999%)"), INT_MAX);
    EXPECT_EQ(parse("Pos: 1 % (5%)"), 5); // a "%" before the "(" does not count
    EXPECT_FALSE(parse("Pos: no parenthesis 5%").has_value());
    EXPECT_FALSE(parse("A-V:0.1 Pos: (12%)").has_value());
    EXPECT_FALSE(parse("Skipping frame\nPos: (12%)").has_value());
    EXPECT_FALSE(parse(" Pos: (12%)").has_value());
    EXPECT_FALSE(parse("Pos").has_value());
    EXPECT_FALSE(parse("").has_value());
}

TEST(RunParserTest, IgnoredChunksKeepThePreviousPercent)
{
    CMencoderEncode job(Presets::PocketPcNormal(), {});
    job.ReadOutput("Pos: 1.0s 25f (33%) ");
    job.ReadOutput("Pos: 1.0s 25f");
    job.ReadOutput("Unable to start \"/x/mencoder\"\n");
    EXPECT_EQ(job.Percent(), 33);
    job.ReadOutput("Pos: 1.1s 26f (34");
    EXPECT_EQ(job.Percent(), 0);
}

// Each back end's program is linked into tools/ by the build (CLIPVANE_TOOLS),
// its package is among the run packages the Debian package depends on, and its
// row is the one the run finds for it.
TEST(BackendsTest, EveryBackEndIsLinkedInToolsAndPackaged)
{
    const QString deps =
        QString::fromUtf8(MediaFactory::ReadFile(CLIPVANE_SOURCE_DIR "/scripts/install-deps.sh"));
    const QRegularExpressionMatch run = QRegularExpression("\nRUN_PKGS=\"([^\"]*)\"").match(deps);
    ASSERT_TRUE(run.hasMatch());
    const QStringList packages = run.captured(1).split(' ');
    for (const BackendInfo& backend : Backends::All()) {
        SCOPED_TRACE(backend.program);
        EXPECT_TRUE(packages.contains(QLatin1String(backend.package)));
        EXPECT_TRUE(
            QFileInfo(TestEnvironment::BinDir() + "/tools/" + backend.program).isExecutable());
        EXPECT_EQ(&Backends::Of(backend.id), &backend);
    }
}

class RunPathTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.IsValid());
        m_plan.strOutputDir = "/out.dir";
        m_plan.strPrefix = "pp_";
    }
    // The outputs the plan names for these jobs.
    QStringList OutputPathsFor(const std::vector<StreamFile>& jobs)
    {
        m_plan.SetJobs(jobs);
        QStringList outputs;
        for (const RunPlan::Job& job : m_plan.jobs)
            outputs << job.strOutput;
        return outputs;
    }
    static StreamFile Job(const QString& path, bool subtitle = false)
    {
        StreamFile job;
        job.strFilePath = path;
        job.strFileName = QFileInfo(path).fileName();
        job.bHasSubtitle = subtitle;
        return job;
    }
    ScopedTempHome m_home;
    RunPlan m_plan;
};

TEST_F(RunPathTest, OutputIsFolderPrefixAndNameWithAvi)
{
    const auto output = [this](const char* path) { return OutputPathsFor({Job(path)}).value(0); };
    EXPECT_EQ(output("/in/My Movie.v2.mpg"), "/out.dir/pp_My Movie.v2.avi");
    // A name without extension gets ".avi" added; dots of the folder and prefix stay.
    EXPECT_EQ(output("/in/movie"), "/out.dir/pp_movie.avi");
    m_plan.strPrefix = "v.";
    EXPECT_EQ(output("/in/clip"), "/out.dir/v.clip.avi");
}

TEST_F(RunPathTest, JobsOfABatchNeverShareAnOutputAndLongNamesAreCutToFit)
{
    const QString x250(250, 'x');
    const QString e200(200, QChar(0xE9));                                      // 2 bytes each
    const QString smiles = QString::fromUtf8("\xF0\x9F\x98\x80").repeated(70); // 4 bytes
    const struct
    {
        const char* name;
        QStringList inputs;
        QStringList outputs; // file names in /out.dir
    } cases[] = {
        {"two", {"/in/a.mkv", "/in/a.mpg"}, {"pp_a.avi", "pp_a (2).avi"}},
        {"three, other folder, other case",
         {"/in/a.mpg", "/x/a.wmv", "/in/A.avi", "/in/b.mpg"},
         {"pp_a.avi", "pp_a (2).avi", "pp_A (3).avi", "pp_b.avi"}},
        {"254-byte names, twice",
         {"/in/" + x250 + ".mpg", "/in/" + x250 + ".wmv"},
         {"pp_" + QString(248, 'x') + ".avi", "pp_" + QString(244, 'x') + " (2).avi"}},
        {"cut between characters",
         {"/in/" + e200 + ".mpg", "/in/" + smiles + ".mpg"},
         {"pp_" + QString(124, QChar(0xE9)) + ".avi", "pp_" + smiles.left(124) + ".avi"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<StreamFile> jobs;
        for (const QString& input : c.inputs)
            jobs.push_back(Job(input));
        QStringList expected;
        for (const QString& output : c.outputs) {
            expected << "/out.dir/" + output;
            EXPECT_LE(QFile::encodeName(output).size(), 255);
        }
        EXPECT_EQ(OutputPathsFor(jobs), expected);
    }
    // Without a prefix, a movie that lies in the output folder is not its own output.
    m_plan.strPrefix.clear();
    EXPECT_EQ(OutputPathsFor({Job("/out.dir/c.avi"), Job("/in/c.mpg")}),
              (QStringList{"/out.dir/c (2).avi", "/out.dir/c (3).avi"}));
}

// A movie added through a folder goes to the same place in the output folder's
// tree; names are made unique within each folder, never across folders, and a
// relative folder cannot lead out of the output folder.
TEST_F(RunPathTest, MoviesAddedThroughAFolderKeepTheTree)
{
    const std::pair<const char*, const char*> jobs[] = {
        {"/in/Trip/Day 1/a.mov", "Trip/Day 1"},
        {"/in/Trip/Day 2/a.mov", "Trip/Day 2"},
        {"/in/Trip/Day 2/A.mp4", "Trip/Day 2"},
        {"/in/a.mpg", ""},
        {"/in/b/a.mkv", "../.."},
        {"/in/Trip/Day 1/b.mov", "./Trip//Day 1/"},
    };
    std::vector<StreamFile> batch;
    for (const auto& [path, folder] : jobs) {
        batch.push_back(Job(path));
        batch.back().strRelativeDir = folder;
    }
    EXPECT_EQ(OutputPathsFor(batch),
              QStringList({"/out.dir/Trip/Day 1/pp_a.avi", "/out.dir/Trip/Day 2/pp_a.avi",
                           "/out.dir/Trip/Day 2/pp_A (2).avi", "/out.dir/pp_a.avi",
                           "/out.dir/pp_a (2).avi", "/out.dir/Trip/Day 1/pp_b.avi"}));
}

TEST_F(RunPathTest, SubtitleIsTheOneTheJobListFinds)
{
    // A movie without extension in a dotted folder, and beside the folder a decoy
    // that only a cut at the folder's dot would find.
    const QString movie = m_home.FilePath("m.d/movie");
    ASSERT_TRUE(QDir().mkpath(m_home.FilePath("m.d")));
    ASSERT_TRUE(MediaFactory::WriteFile(movie + ".sub", "x"));
    ASSERT_TRUE(MediaFactory::WriteFile(m_home.FilePath("m.smi"), "x"));
    EXPECT_EQ(CEncode::SubtitlePathFor(Job(movie, true)), movie + ".sub");
    EXPECT_EQ(FindSubtitleFile(movie), movie + ".sub");
    EXPECT_EQ(CEncode::SubtitlePathFor(Job(movie, false)), QString());
}

// --- Runs with the fake encoder ---------------------------------------------------

const QStringList kEncodedThenFinished{"Encoding...", "Finished"};
const QStringList kFinishMessage{"Encoding Finished !!"};

class RunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.IsValid());
        ASSERT_TRUE(m_fake.IsValid());
        m_outDir = m_home.FilePath("out");
        // One encoder at a time; the tests of several say so.
        m_plan = TestPlan(m_outDir, {m_fake.Path(), m_fake.ImageName()});
        ASSERT_TRUE(QDir().mkpath(m_home.FilePath("in")));
        m_run = std::make_unique<CEncodingRun>();
        m_run->SetEncoderImageName(m_fake.ImageName());
        m_run->SetClock([this] { return m_now; });
        m_form.Listen(*m_run);
        QObject::connect(m_run.get(), &CEncodingRun::RunEnded, [this] { ++m_ended; });
    }

    void TearDown() override { m_run.reset(); }

    // Make: a run of the plan over the form's list.
    bool Start() { return m_form.Start(*m_run, m_plan); }
    void SetParallel(int encoders)
    {
        m_plan = TestPlan(m_outDir, {m_fake.Path(), m_fake.ImageName()}, QString(), encoders);
    }

    // A "movie" for the fake encoder: its script, padded to padTo bytes.
    QString Movie(const QString& name, QString script, int padTo = 0)
    {
        if (script.size() < padTo)
            script += '#' + QString(padTo - script.size() - 2, '#') + '\n';
        const QString path = m_home.FilePath("in/" + name);
        EXPECT_TRUE(MediaFactory::WriteFile(path, script.toUtf8()));
        return path;
    }

    // Writes the movie and adds it to the list with the recorded size.
    QString AddMovie(const QString& name, const QString& script, std::uint64_t size = 10,
                     int padTo = 0)
    {
        const QString path = Movie(name, script, padTo);
        m_form.AddJob(path, size);
        return path;
    }

    QString Output(const QString& baseName) const { return m_outDir + '/' + baseName + ".avi"; }
    // The hidden file the encoder writes for that output.
    QString Temp(const QString& baseName) const
    {
        return QStringLiteral("%1/.%2.avi.%3.part").arg(m_outDir, baseName).arg(::getpid());
    }

    bool WaitEnded(int count = 1)
    {
        return PumpUntil([&] { return m_ended >= count; });
    }

    bool WaitPercent(int percent, int job = 0)
    {
        return PumpUntil([&] { return m_run->Percent(job) == percent; });
    }

    // Stops a run that is still going, keeping its partial output.
    void StopKeepingOutput()
    {
        m_form.m_bDefaultAnswer = false;
        m_run->Stop();
    }

    ScopedTempHome m_home;
    FakeEncoder m_fake;
    FakeForm m_form;
    QString m_outDir;
    RunPlan m_plan;
    std::int64_t m_now = 1000;
    std::unique_ptr<CEncodingRun> m_run;
    int m_ended = 0;
};

TEST_F(RunTest, EmptyListStartsNothing)
{
    EXPECT_FALSE(m_run->Start(m_plan));
    m_plan.bSampling = true;
    EXPECT_FALSE(m_run->Start(m_plan));
    EXPECT_FALSE(m_run->IsRunning());
    EXPECT_FALSE(m_run->IsSampling()); // set only when a run really starts
    EXPECT_FALSE(m_run->HasRunTimer());
}

TEST_F(RunTest, ABatchRunsEveryJobInOrderAndEndsWithTheFinishMessage)
{
    AddMovie("a.mpg", "progress 0 100 0\nout done\\n\n" + FakeEncoder::WriteWholeMovie(), 10);
    AddMovie("b.wmv", "progress 50 60 0\n" + FakeEncoder::WriteWholeMovie(), 30);
    ASSERT_TRUE(Start());
    EXPECT_TRUE(m_run->IsRunning());
    EXPECT_TRUE(m_run->HasRunTimer());
    EXPECT_EQ(m_form.Status(0), "Encoding...");
    ASSERT_TRUE(WaitEnded());

    EXPECT_EQ(m_form.m_statusHistory[0], kEncodedThenFinished);
    EXPECT_EQ(m_form.m_statusHistory[1], kEncodedThenFinished);
    EXPECT_EQ(m_form.m_outputs, (std::map<int, QString>{{0, Output("a")}, {1, Output("b")}}));
    const QByteArray whole = MediaFactory::ReadFile(FakeEncoder::WholeMovie());
    EXPECT_EQ(MediaFactory::ReadFile(Output("a")), whole);
    EXPECT_EQ(MediaFactory::ReadFile(Output("b")), whole);
    EXPECT_EQ(m_form.m_messages, kFinishMessage);
    EXPECT_EQ(m_form.LastProgress().totalPercent, 100);
    EXPECT_FALSE(m_run->IsRunning());
    EXPECT_FALSE(m_run->HasRunTimer());
    EXPECT_EQ(m_run->DoneBytes(), 40u);
    EXPECT_EQ(m_ended, 1);
}

TEST_F(RunTest, AFailingEncoderMarksItsJobFailedAndTheMessageCountsFailures)
{
    const struct
    {
        const char* name;
        QString script;
        const char* status;
    } jobs[] = {
        {"exit1.mpg", "exit 1\n", "Failed"},
        {"signal.mpg", QStringLiteral("raise %1\n").arg(SIGUSR1), "Failed"},
        {"written.mpg", FakeEncoder::WriteWholeMovie(), "Finished"},
        // Exit code 0 is not enough: the movie must have been written.
        {"no-output.mpg", "exit 0\n", "Failed"},
        {"empty-output.mpg", "touchout\nexit 0\n", "Failed"},
    };
    QStringList expected;
    for (const auto& job : jobs) {
        AddMovie(job.name, job.script);
        expected << job.status;
    }
    m_form.AddJob(m_home.FilePath("in/missing.mpg"), StreamFile::UnknownSize);
    // The last, missing file fails too: the encoder cannot read it.
    expected << "Failed";
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitEnded());
    EXPECT_EQ(m_form.Statuses(), expected);
    EXPECT_EQ(m_form.m_messages, QStringList{"Encoding Finished !!\n5 of 6 files failed."});
    // The unreadable file counts as 0 bytes, not 4294967295 or more.
    EXPECT_EQ(m_run->DoneBytes(), 50u);
    EXPECT_EQ(m_form.LastProgress().totalPercent, 100);
}

TEST_F(RunTest, TotalProgressIsWeightedByFileSize)
{
    const quint64 mb = 1000000;
    AddMovie("a.mpg", "exit 0\n", 100 * mb);
    AddMovie("b.mpg", "out waiting\\n\nhang\n", 300 * mb);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(PumpUntil([&] { return m_form.Status(1) == "Encoding..."; }));
    m_run->ReportProgress();
    EXPECT_EQ(m_form.LastProgress().totalPercent, 25);
    EXPECT_EQ(m_run->Percent(1), 0);
    StopKeepingOutput();
}

TEST_F(RunTest, TimeLabelsShowElapsedAndRemainingTime)
{
    // Files of exactly 1000 and 3000 bytes, the sizes the run reads and counts.
    AddMovie("a.mpg", "progress 25 25 0\nhang\n", 1000, 1000);
    AddMovie("b.mpg", "exit 0\n", 3000, 3000);
    ASSERT_EQ(QFileInfo(m_form.m_jobs[0].strFilePath).size(), 1000);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitPercent(25));
    m_now += 3600;
    m_run->ReportProgress();
    // 250 of 4000 bytes: 6 %; 3600 s * 100 / 6 - 3600 s remain.
    EXPECT_EQ(m_form.LastProgress().elapsed, 3600);
    EXPECT_EQ(m_form.LastProgress().remaining, 15 * 3600 + 40 * 60);
    EXPECT_EQ(m_form.RowProgress(0), 25);
    EXPECT_EQ(m_form.LastProgress().totalPercent, 6);
    StopKeepingOutput();
    // Not running: nothing is reported.
    m_form.m_progress.clear();
    m_run->ReportProgress();
    EXPECT_TRUE(m_form.m_progress.empty());
}

TEST_F(RunTest, TheTimerUpdatesTheLabelsEverySecond)
{
    AddMovie("a.mpg", "hang\n");
    m_run->SetClock({});
    ASSERT_TRUE(Start());
    ASSERT_TRUE(PumpUntil([&] { return !m_form.m_progress.empty(); }, 3000));
    EXPECT_EQ(m_form.LastProgress().remaining, 0);
    StopKeepingOutput();
    EXPECT_FALSE(m_run->HasRunTimer());
}

TEST_F(RunTest, SamplingAddsTheTimeLimitAndOnlyForThatRun)
{
    const QString argsFile = m_home.FilePath("args");
    AddMovie("a.mpg", "args " + argsFile + '\n');
    m_plan.bSampling = true;
    ASSERT_TRUE(Start());
    EXPECT_TRUE(m_run->IsSampling());
    ASSERT_TRUE(WaitEnded());
    EXPECT_FALSE(m_run->IsSampling());
    const QStringList sampled = QString::fromUtf8(MediaFactory::ReadFile(argsFile)).split('\n');
    const int at = sampled.indexOf("-endpos");
    ASSERT_GE(at, 0);
    EXPECT_EQ(sampled.value(at + 1), "60");
    // The encoder writes a hidden file beside the output, which takes the
    // output's name once it is a whole movie.
    EXPECT_EQ(sampled.value(sampled.indexOf("-o") + 1), Temp("a"));

    ASSERT_TRUE(QFile::remove(Output("a")) || !QFile::exists(Output("a")));
    m_plan.bSampling = false;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitEnded(2));
    EXPECT_FALSE(QString::fromUtf8(MediaFactory::ReadFile(argsFile)).contains("-endpos"));
}

// Each job's encoder reads a UTF-8 copy of its own subtitle, which is gone once
// the job has ended; a stopped job's copy too.
TEST_F(RunTest, EachJobHasItsOwnSubtitleCopyUntilItEnds)
{
    QStringList argsFiles;
    for (const QString name : {"a", "b", "c"}) {
        argsFiles << m_home.FilePath("args " + name);
        AddMovie(name + ".mpg", "args " + argsFiles.back() + '\n' + (name == "c" ? "hang\n" : ""));
        ASSERT_TRUE(MediaFactory::WriteFile(m_home.FilePath("in/" + name + ".srt"),
                                            "1\n00:00:01,000 --> 00:00:02,000\nhello\n"));
        m_form.m_jobs.back().bHasSubtitle = true;
    }
    ASSERT_TRUE(Start());
    ASSERT_TRUE(PumpUntil([&] { return QFile::exists(argsFiles[2]); }));
    StopKeepingOutput();
    ASSERT_TRUE(WaitEnded());
    QStringList copies;
    for (const QString& argsFile : argsFiles) {
        const QStringList args = QString::fromUtf8(MediaFactory::ReadFile(argsFile)).split('\n');
        copies << args.value(args.indexOf("-sub") + 1);
        EXPECT_TRUE(copies.back().startsWith(SubtitleWorkDir() + '/'))
            << copies.back().toStdString();
        EXPECT_FALSE(QFile::exists(copies.back()));
    }
    EXPECT_EQ(QSet<QString>(copies.begin(), copies.end()).size(), 3);
}

TEST_F(RunTest, ExistingOutputsAreOverwrittenOnlyWithConsentAskedOnceForAll)
{
    ASSERT_TRUE(QDir().mkpath(m_outDir));
    for (int i = 0; i < 7; ++i) {
        AddMovie(QStringLiteral("m%1.mpg").arg(i), FakeEncoder::WriteWholeMovie());
        ASSERT_TRUE(MediaFactory::WriteFile(Output(QStringLiteral("m%1").arg(i)), "old"));
    }
    AddMovie("new.mpg", FakeEncoder::WriteWholeMovie());
    m_form.m_answers = {false, true};
    EXPECT_FALSE(Start());
    EXPECT_EQ(
        m_form.m_questions,
        QStringList{"7 output files already exist in " + m_outDir +
                    ":\n    m0.avi\n    m1.avi\n    m2.avi\n    m3.avi\n    m4.avi\n    and 2 "
                    "more\nWould you want to overwrite them?"});
    EXPECT_FALSE(m_run->IsRunning());
    EXPECT_EQ(MediaFactory::ReadFile(Output("m6")), "old");

    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitEnded());
    EXPECT_EQ(m_form.m_questions.size(), 2);
    EXPECT_EQ(MediaFactory::ReadFile(Output("m6")),
              MediaFactory::ReadFile(FakeEncoder::WholeMovie()));
}

TEST_F(RunTest, JobsOfABatchThatWouldWriteOneOutputGetNumberedNames)
{
    ASSERT_TRUE(QDir().mkpath(m_home.FilePath("in/other")));
    ASSERT_TRUE(QDir().mkpath(m_outDir));
    // A file of an earlier run with the first job's name is only overwritten.
    ASSERT_TRUE(MediaFactory::WriteFile(Output("clip"), "old"));
    for (const char* name : {"clip.mpg", "unique.mpg", "other/clip.wmv", "CLIP.mkv"})
        AddMovie(name, FakeEncoder::WriteWholeMovie());
    m_form.m_answers = {true};
    ASSERT_TRUE(Start());
    EXPECT_EQ(m_form.m_questions, QStringList{"The output file " + Output("clip") +
                                              " already exists.\nWould you want to overwrite it?"});
    ASSERT_TRUE(WaitEnded());
    EXPECT_EQ(m_form.Statuses(), QStringList(4, "Finished"));
    EXPECT_EQ(m_form.m_outputs[3], Output("CLIP (3)"));
    const QString log = LatestRunLog(m_home);
    for (const char* name : {"clip", "unique", "clip (2)", "CLIP (3)"}) {
        EXPECT_TRUE(QFileInfo(Output(name)).isFile()) << name;
        EXPECT_TRUE(log.contains("  Output:  " + Output(name) + "\n")) << name;
    }
}

TEST_F(RunTest, TheOutputFolderIsCreatedWithItsParents)
{
    const QString deep = m_home.FilePath("a/b c/d");
    m_plan.strOutputDir = deep;
    AddMovie("a.mpg", FakeEncoder::WriteWholeMovie());
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitEnded());
    EXPECT_TRUE(QFileInfo(deep + "/a.avi").isFile());
}

TEST_F(RunTest, AnOutputFolderThatCannotBeMadeStopsTheStart)
{
    ASSERT_TRUE(MediaFactory::WriteFile(m_home.FilePath("file"), "x"));
    const QString impossible = m_home.FilePath("file/sub");
    m_plan.strOutputDir = impossible;
    AddMovie("a.mpg", "exit 0\n");
    EXPECT_FALSE(Start());
    ASSERT_EQ(m_form.m_messages.size(), 1);
    EXPECT_TRUE(m_form.m_messages[0].contains(impossible));
    EXPECT_FALSE(m_run->IsRunning());
    EXPECT_TRUE(m_form.m_statusHistory.empty());
}

TEST_F(RunTest, AMissingEncoderFailsTheJobAndEndsTheRunAtOnce)
{
    const QString missing = m_home.FilePath("tools/mencoder");
    m_plan = TestPlan(m_outDir, {missing, m_fake.ImageName()});
    AddMovie("a.mpg", "exit 0\n");
    AddMovie("b.mpg", "exit 0\n");
    ASSERT_TRUE(Start());
    EXPECT_FALSE(m_run->IsRunning());
    EXPECT_FALSE(m_run->HasRunTimer());
    EXPECT_EQ(m_form.m_statusHistory[0], (QStringList{"Encoding...", "Failed"}));
    EXPECT_EQ(m_form.Status(1), QString());
    EXPECT_EQ(m_form.m_messages, QStringList{"Unable to start " + missing});
    EXPECT_EQ(m_form.m_ends.back().way, RunEnd::Way::EncoderNotStarted);
    EXPECT_EQ(m_ended, 1);
}

TEST_F(RunTest, StopEndsTheEncoderAndDeletesThePartialFileOnYes)
{
    const QString pidFile = m_home.FilePath("pid");
    AddMovie("a.mpg",
             "pidfile " + pidFile + "\nonterm 2\ntouchout partial\nprogress 10 10 0\nhang\n");
    AddMovie("b.mpg", "exit 0\n");
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitPercent(10));
    const pid_t encoder = MediaFactory::ReadFile(pidFile).toInt();
    ASSERT_GT(encoder, 0);

    m_form.m_answers = {true};
    m_run->Stop();
    EXPECT_FALSE(ProcessProbe::ProcessExists(encoder));
    EXPECT_EQ(m_form.m_questions,
              QStringList{"Below file is incomplete encoding. Delete this file?\n" + Output("a")});
    EXPECT_FALSE(QFile::exists(Output("a")));
    EXPECT_FALSE(m_run->IsRunning());
    EXPECT_TRUE(m_run->WasStoppedByUser());
    EXPECT_FALSE(m_run->HasRunTimer());

    // The row says so, and the progress shows what was done: nothing.
    EXPECT_EQ(m_form.Status(0), "Stopped");
    EXPECT_EQ(m_run->Percent(0), 0);
    EXPECT_EQ(m_form.LastProgress().totalPercent, 0);
    EXPECT_EQ(m_form.LastProgress().remaining, 0);
    // The stopped encoder's end is no job's: no other status, no next job, no
    // finish message.
    PumpFor(300);
    EXPECT_EQ(m_form.Status(0), "Stopped");
    EXPECT_EQ(m_form.Status(1), QString());
    EXPECT_TRUE(m_form.m_messages.isEmpty());
    EXPECT_EQ(m_ended, 1);
}

TEST_F(RunTest, StopKeepsThePartialFileOnNoAndAsksNothingAfterTheRunEnded)
{
    AddMovie("a.mpg", "touchout partial\nprogress 5 5 0\nhang\n");
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitPercent(5));
    m_form.m_answers = {false};
    m_run->Stop();
    EXPECT_EQ(m_form.m_questions.size(), 1);
    EXPECT_EQ(MediaFactory::ReadFile(Output("a")), "partial");

    // A finished run's output is complete: Stop afterwards does not offer to delete it.
    ASSERT_TRUE(QFile::remove(Output("a")));
    m_form.m_jobs[0].strFilePath = Movie("a.mpg", FakeEncoder::WriteWholeMovie());
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitEnded(2));
    m_run->Stop();
    EXPECT_EQ(m_form.m_questions.size(), 1);
    EXPECT_EQ(MediaFactory::ReadFile(Output("a")),
              MediaFactory::ReadFile(FakeEncoder::WholeMovie()));
}

TEST_F(RunTest, ARunWorksFromItsPlanAlone)
{
    AddMovie("a.mpg", "sleep 200\n" + FakeEncoder::WriteWholeMovie());
    AddMovie("b.mpg", FakeEncoder::WriteWholeMovie());
    ASSERT_TRUE(Start());
    m_form.m_jobs.clear();
    ASSERT_TRUE(WaitEnded());
    EXPECT_FALSE(m_run->IsRunning());
    EXPECT_EQ(m_form.m_messages, kFinishMessage);
    EXPECT_TRUE(QFileInfo::exists(Output("b")));
}

TEST_F(RunTest, APreviewEndsOnItsOwnOrWhenStoppedAndIsNoJob)
{
    CPreviewPlayer preview;
    int ended = 0;
    QObject::connect(&preview, &CPreviewPlayer::Ended, [&] { ++ended; });
    const QString quick = m_fake.Script("quick", "exit 0\n");
    ASSERT_TRUE(preview.Start(m_fake.CommandLine(quick)));
    EXPECT_TRUE(preview.IsPlaying());
    ASSERT_TRUE(PumpUntil([&] { return !preview.IsPlaying(); }));
    EXPECT_EQ(ended, 1);

    const QString pidFile = m_home.FilePath("player.pid");
    const QString player = m_fake.Script("player", "pidfile " + pidFile + "\nhang\n");
    ASSERT_TRUE(preview.Start(m_fake.CommandLine(player)));
    ASSERT_TRUE(PumpUntil([&] { return MediaFactory::ReadFile(pidFile).toInt() > 0; }));
    const pid_t playerPid = MediaFactory::ReadFile(pidFile).toInt();
    preview.Stop();
    EXPECT_FALSE(ProcessProbe::ProcessExists(playerPid));
    EXPECT_FALSE(preview.IsPlaying());
    PumpFor(100);
    EXPECT_EQ(ended, 1); // a stopped player's end is not reported
    EXPECT_TRUE(m_form.m_statusHistory.empty());
}

TEST_F(RunTest, ManyJobsLeaveNoProcessesThreadsOrDescriptors)
{
    // A first run starts the helper threads that Qt and a sanitizer keep for good.
    AddMovie("warm.mpg", FakeEncoder::WriteWholeMovie());
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitEnded());
    m_run->Stop();
    m_form.m_jobs.clear();
    const int fds = ProcessProbe::OpenFdCount();
    const int threads = ProcessProbe::ThreadCount();
    for (int i = 0; i < 20; ++i)
        AddMovie(QStringLiteral("m%1.mpg").arg(i),
                 "progress 0 3 0\nerr warning\\n\n" + FakeEncoder::WriteWholeMovie());
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitEnded(2));
    EXPECT_EQ(m_form.Statuses(), QStringList(20, "Finished"));
    m_run->Stop();
    EXPECT_EQ(ProcessProbe::OpenFdCount(), fds);
    EXPECT_EQ(ProcessProbe::ThreadCount(), threads);
    EXPECT_FALSE(ProcessProbe::HasChildren());
}

// --- Several encoders at once -------------------------------------------------

class ParallelRunTest : public RunTest
{
protected:
    // Jobs in the order their encoders started, and the most that were being
    // encoded at once, as the rows' statuses tell.
    std::vector<int> StartOrder() const
    {
        std::vector<int> order;
        for (const QString& event : m_form.m_events) {
            if (event.endsWith(" Encoding..."))
                order.push_back(event.section(' ', 1, 1).toInt());
        }
        return order;
    }
    int MostAtOnce() const
    {
        int running = 0, most = 0;
        for (const QString& event : m_form.m_events) {
            if (!event.startsWith("status "))
                continue;
            running += event.endsWith(" Encoding...") ? 1 : -1;
            most = std::max(most, running);
        }
        return most;
    }
};

TEST_F(ParallelRunTest, JobsShareTheSlotsInListOrderOrLongestFirstAndTheMessageCountsThem)
{
    const QString whole = FakeEncoder::WriteWholeMovie();
    struct Job
    {
        QString script;
        int seconds;
        std::uint64_t size;
        const char* status;
    };
    const Job fine{"sleep 150\n" + whole, 2, 10, "Finished"};
    const Job shortJob{whole, 2, 10, "Finished"};
    const Job bigger{whole, 2, 50, "Finished"};
    const Job longJob{whole, 6, 10, "Finished"};
    const Job slow{"sleep 1500\n" + whole, 2, 10, "Finished"};
    const Job failing{"err Cannot open file/device.\\n\nexit 1\n", 2, 10, "Failed"};
    const struct
    {
        const char* name;
        int encoders;
        std::vector<Job> jobs;
        std::vector<int> startOrder;
        int mostAtOnce;
        std::vector<int> logOrder; // jobs as the log lists them (1-based); empty: any
        const char* message;
    } cases[] = {
        {"more jobs than slots", 2, {fine, fine, fine, fine}, {0, 1, 2, 3}, 2, {}, nullptr},
        {"fewer jobs than slots", 3, {fine, fine}, {0, 1}, 2, {}, nullptr},
        // With more waiting than free, the longest movie goes first, then by size.
        {"a long movie listed last",
         2,
         {shortJob, shortJob, bigger, shortJob, longJob},
         {4, 2, 0, 1, 3},
         2,
         {},
         nullptr},
        {"one slot keeps list order", 1, {shortJob, longJob}, {0, 1}, 1, {}, nullptr},
        // Each job's log entry is written whole when it ends: the failure and the
        // job after it end while the first still runs.
        {"a job failing while others run",
         2,
         {slow, failing, shortJob},
         {0, 1, 2},
         2,
         {2, 3, 1},
         "Encoding Finished !!\n1 of 3 files failed.\nj1.mpg failed: Cannot open file/device."},
        {"two failures are counted",
         3,
         {failing, fine, failing, fine},
         {0, 1, 2, 3},
         3,
         {},
         "Encoding Finished !!\n2 of 4 files failed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetParallel(c.encoders);
        m_form = FakeForm();
        QStringList statuses;
        for (std::size_t i = 0; i < c.jobs.size(); ++i) {
            const QString name = QStringLiteral("j%1.mpg").arg(i);
            QFile::remove(Output(QStringLiteral("j%1").arg(i)));
            AddMovie(name, c.jobs[i].script, c.jobs[i].size);
            m_form.m_jobs.back().nDuration = c.jobs[i].seconds;
            statuses << c.jobs[i].status;
        }
        const int ended = m_ended;
        ASSERT_TRUE(Start());
        EXPECT_EQ(m_run->SlotCount(), c.encoders);
        ASSERT_TRUE(PumpUntil([&] { return m_ended > ended; }));
        EXPECT_EQ(StartOrder(), c.startOrder);
        EXPECT_EQ(MostAtOnce(), c.mostAtOnce);
        EXPECT_EQ(m_form.Statuses(), statuses);
        EXPECT_EQ(m_form.m_messages,
                  QStringList{c.message ? QString(c.message) : "Encoding Finished !!"});
        EXPECT_EQ(m_form.LastProgress().totalPercent, 100);
        EXPECT_EQ(m_run->RunningJobs(), 0);
        if (!c.logOrder.empty()) {
            std::vector<int> logged;
            const QString log = LatestRunLog(m_home);
            for (const QString& line : log.split('\n')) {
                if (line.startsWith("Job "))
                    logged.push_back(line.section(' ', 1, 1).toInt());
            }
            EXPECT_EQ(logged, c.logOrder) << log.toStdString();
        }
    }
}

TEST_F(ParallelRunTest, TheTotalCountsEveryRunningJobsBytesTimesItsPercentage)
{
    SetParallel(2);
    // Files of exactly these sizes, the sizes the run reads and counts.
    AddMovie("a.mpg", "progress 25 25 0\nhang\n", 1000, 1000);
    AddMovie("b.mpg", "progress 50 50 0\nhang\n", 3000, 3000);
    AddMovie("c.mpg", "exit 0\n", 4000, 4000);
    // Longest first: a, then b; c waits.
    for (int i : {0, 1, 2})
        m_form.m_jobs[i].nDuration = 9 - i;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(PumpUntil([&] {
        m_run->ReportProgress();
        return m_form.RowProgress(0) == 25 && m_form.RowProgress(1) == 50;
    }));
    m_now += 3600;
    m_run->ReportProgress();
    // 250 + 1500 of 8000 bytes: 21 %; 3600 s * 100 / 21 - 3600 s = 13542 s remain.
    EXPECT_EQ(m_form.LastProgress().totalPercent, 21);
    EXPECT_EQ(m_form.LastProgress().remaining, 13542);
    EXPECT_EQ(m_form.RowProgress(2), -1);
    EXPECT_EQ(m_run->Percent(0), 25);
    StopKeepingOutput();
    EXPECT_EQ(m_form.Statuses(), (QStringList{"Stopped", "Stopped", QString()}));
    EXPECT_EQ(m_form.RowProgress(0), -1);
}

TEST_F(ParallelRunTest, StopEndsEveryEncoderAtOnceAndAsksOnceAboutTheirFiles)
{
    const struct
    {
        const char* name;
        int encoders;
        std::vector<bool> writes; // per running job: it has written its output
        bool ignoresTerm;
        bool quitting; // a quit signal instead of the Stop button: no question
        bool answer;
        std::vector<int> incomplete; // jobs whose outputs the question names
    } cases[] = {
        {"one", 1, {true}, false, false, true, {0}},
        {"three, kept", 3, {true, true, true}, false, false, false, {0, 1, 2}},
        // Four that ignore SIGTERM: each is killed after the one grace they
        // share, not after four in a row.
        {"four stubborn, two with files", 4, {true, false, true, false}, true, false, true, {0, 2}},
        {"quitting deletes them all", 3, {true, true, false}, false, true, false, {0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetParallel(c.encoders);
        m_form = FakeForm();
        m_form.m_answers = {c.answer};
        QDir(m_outDir).removeRecursively();
        const int count = int(c.writes.size());
        for (int i = 0; i < count; ++i)
            AddMovie(QStringLiteral("s%1.mpg").arg(i),
                     QString(c.ignoresTerm ? "ignoreterm\n" : "onterm 2\n") +
                         (c.writes[i] ? "touchout partial\n" : "") + "progress 10 10 0\nhang\n");
        AddMovie("waiting.mpg", FakeEncoder::WriteWholeMovie());
        bool stopped = false;
        const auto connection =
            QObject::connect(m_run.get(), &CEncodingRun::RunEnded, [&](const RunEnd& end) {
                stopped = end.Stopped() && end.Ended() == 0;
            });
        ASSERT_TRUE(Start());
        ASSERT_TRUE(PumpUntil([&] {
            for (int i = 0; i < count; ++i) {
                if (c.writes[i] && !QFile::exists(Temp(QStringLiteral("s%1").arg(i))))
                    return false;
            }
            return m_run->RunningJobs() == count;
        }));
        PumpFor(100); // every fake has reached its hang

        QElapsedTimer timer;
        timer.start();
        c.quitting ? m_run->StopForQuit() : m_run->Stop();
        EXPECT_LT(timer.elapsed(), 1500);
        QObject::disconnect(connection);
        EXPECT_TRUE(stopped);
        EXPECT_EQ(m_run->RunningJobs(), 0);

        QStringList named;
        for (int i : c.incomplete)
            named << Output(QStringLiteral("s%1").arg(i));
        const QString question =
            named.size() == 1
                ? "Below file is incomplete encoding. Delete this file?\n" + named[0]
                : "Below files are incomplete encoding. Delete these files?\n" + named.join('\n');
        EXPECT_EQ(m_form.m_questions, c.quitting ? QStringList() : QStringList{question});
        for (const QString& output : named)
            EXPECT_EQ(QFile::exists(output), !c.quitting && !c.answer) << output.toStdString();
        QStringList statuses(count, "Stopped");
        statuses << QString();
        EXPECT_EQ(m_form.Statuses(), statuses);
        EXPECT_EQ(LatestRunLog(m_home).count(
                      c.quitting ? "  End:     stopped: Clipvane was asked to quit\n"
                                 : "  End:     stopped by the user\n"),
                  count);
        PumpFor(200);
        EXPECT_EQ(m_form.Statuses(), statuses);
        EXPECT_TRUE(m_form.m_messages.isEmpty());
        EXPECT_FALSE(ProcessProbe::HasChildren());
    }
}

TEST_F(ParallelRunTest, AnEncoderThatCannotStartFailsItsJobAndEndsTheRunOnceTheOthersHave)
{
    // A link to the stand-in under its name, which is gone from the start or
    // goes once the first two run.
    ASSERT_TRUE(QDir().mkpath(m_home.FilePath("tools")));
    const QString encoder = m_home.FilePath("tools/" + m_fake.ImageName());
    const QString whole = FakeEncoder::WriteWholeMovie();
    const struct
    {
        const char* name;
        bool missingFromStart;
        QStringList statuses;
    } cases[] = {
        {"missing from the start", true, {"Failed", QString(), QString()}},
        {"gone during the run", false, {"Finished", "Finished", "Failed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_plan = TestPlan(m_outDir, {encoder, m_fake.ImageName()}, QString(), 2);
        m_form = FakeForm();
        QDir(m_outDir).removeRecursively();
        if (!c.missingFromStart) {
            ASSERT_TRUE(QFile::link(m_fake.Path(), encoder));
        }
        AddMovie("a.mpg", "sleep 200\n" + whole);
        AddMovie("b.mpg", "sleep 700\n" + whole);
        AddMovie("c.mpg", whole);
        const int ended = m_ended;
        ASSERT_TRUE(Start());
        QFile::remove(encoder);
        ASSERT_TRUE(PumpUntil([&] { return m_ended > ended; }));
        EXPECT_EQ(m_form.Statuses(), c.statuses);
        EXPECT_EQ(m_form.m_messages, QStringList{"Unable to start " + encoder});
        EXPECT_FALSE(m_run->IsRunning());
        EXPECT_FALSE(m_run->HasRunTimer());
        EXPECT_EQ(m_ended, ended + 1);
    }
}

TEST_F(ParallelRunTest, EncodersAtOnceEachReadTheirOwnSubtitleCopy)
{
    SetParallel(2);
    QStringList argsFiles;
    for (const char* name : {"a", "b"}) {
        argsFiles << m_home.FilePath(QStringLiteral("args-") + name);
        const QString movie =
            AddMovie(QString(name) + ".mpg", "args " + argsFiles.back() + "\nsleep 1000\n" +
                                                 FakeEncoder::WriteWholeMovie());
        m_form.m_jobs.back().bHasSubtitle = true;
        ASSERT_TRUE(MediaFactory::WriteFile(QString(movie).replace(".mpg", ".smi"),
                                            "<SAMI><BODY><SYNC Start=1000><P>Line of " +
                                                QByteArray(name) + "</BODY></SAMI>"));
    }
    ASSERT_TRUE(Start());
    const auto subtitleOf = [&](int job) {
        const QStringList args =
            QString::fromUtf8(MediaFactory::ReadFile(argsFiles[job])).split('\n');
        return args.indexOf("-sub") >= 0 ? args.value(args.indexOf("-sub") + 1) : QString();
    };
    ASSERT_TRUE(PumpUntil([&] { return !subtitleOf(0).isEmpty() && !subtitleOf(1).isEmpty(); }));
    // While both encoders run, each one's copy holds its own movie's lines.
    EXPECT_NE(subtitleOf(0), subtitleOf(1));
    EXPECT_TRUE(MediaFactory::ReadFile(subtitleOf(0)).contains("Line of a"));
    EXPECT_TRUE(MediaFactory::ReadFile(subtitleOf(1)).contains("Line of b"));
    ASSERT_TRUE(WaitEnded());
}

} // namespace
