// A failed job says why: the status cell's reason, the finish message and the
// run log, with the fake encoder printing what a failing encoder prints.
#include "engine/EncodingRun.h"
#include "test_run_support.h"
#include "test_runner_support.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

class RunFailureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.IsValid());
        ASSERT_TRUE(m_fake.IsValid());
        // One encoder at a time.
        m_plan = TestPlan(m_home.FilePath("out"), {m_fake.Path(), m_fake.ImageName()});
        ASSERT_TRUE(QDir().mkpath(m_home.FilePath("in")));
        m_run = std::make_unique<CEncodingRun>();
        m_run->SetEncoderImageName(m_fake.ImageName());
        m_form.Listen(*m_run);
        QObject::connect(m_run.get(), &CEncodingRun::RunEnded, [this] { ++m_ended; });
    }

    void TearDown() override { m_run.reset(); }

    // A "movie" for the fake encoder, added to the list.
    void AddMovie(const QString& name, const QString& script)
    {
        const QString path = m_home.FilePath("in/" + name);
        ASSERT_TRUE(MediaFactory::WriteFile(path, script.toUtf8()));
        m_form.AddJob(path, 10);
    }

    bool RunAll()
    {
        const int ended = m_ended;
        return m_form.Start(*m_run, m_plan) && PumpUntil([&] { return m_ended > ended; });
    }

    QString LatestLog() const { return LatestRunLog(m_home); }

    ScopedTempHome m_home;
    FakeEncoder m_fake;
    FakeForm m_form;
    RunPlan m_plan;
    std::unique_ptr<CEncodingRun> m_run;
    int m_ended = 0;
};

TEST_F(RunFailureTest, AFailedRowSaysWhyAndAFinishedRowSaysNothing)
{
    const QString replacement(QChar::ReplacementCharacter);
    const struct
    {
        const char* name;
        QString script;
        const char* status;
        QStringList reasonHolds; // every one of these, in the tooltip
    } jobs[] = {
        {"finished.mpg",
         "progress 0 100 0\nerr Skipping frame!\\n\n" + FakeEncoder::WriteWholeMovie(),
         "Finished",
         {}},
        {"cannot-open.mpg",
         "progress 0 5 0\nerr Cannot open file/device.\\n\nout \\nExiting...\\n\nexit 1\n",
         "Failed",
         {"The encoder ended with exit code 1.", "\nCannot open file/device.", "\nExiting..."}},
        // The error line starts at byte 241 of one write: the 256-byte chunks cut it.
        {"split.mpg",
         "out " + QString(240, 'a') +
             "\\nFailed to open the encoder: this line crosses a chunk boundary\\n\nexit 1\n",
         "Failed",
         {"\nFailed to open the encoder: this line crosses a chunk boundary"}},
        {"not-utf8.mpg",
         "err Cannot open caf\\xc3\\xa9 \\xff\\xfe.avi\\n\nexit 1\n",
         "Failed",
         {QString::fromUtf8("\nCannot open caf\xc3\xa9 ") + replacement + replacement + ".avi"}},
        {"signal.mpg",
         "err Segmentation fault in the decoder\\n\nraise 10\n",
         "Failed",
         {"The encoder was ended by signal 10", "\nSegmentation fault in the decoder"}},
        {"no-output.mpg",
         "err Filters have not been configured! Empty file?\\n\nexit 0\n",
         "Failed",
         {"The encoder exited with code 0 but wrote no output file.",
          "\nFilters have not been configured! Empty file?"}},
        {"silent.mpg", "exit 3\n", "Failed", {"The encoder ended with exit code 3."}},
    };
    for (const auto& job : jobs)
        AddMovie(job.name, job.script);
    ASSERT_TRUE(RunAll());

    for (std::size_t row = 0; row < std::size(jobs); ++row) {
        const QString reason = m_form.m_reasons[int(row)];
        EXPECT_EQ(m_form.Status(int(row)), jobs[row].status) << jobs[row].name;
        EXPECT_EQ(reason.isEmpty(), jobs[row].reasonHolds.isEmpty()) << jobs[row].name;
        for (const QString& part : jobs[row].reasonHolds)
            EXPECT_TRUE(reason.contains(part)) << jobs[row].name << ": " << reason.toStdString();
        EXPECT_FALSE(reason.contains("Pos:")) << jobs[row].name;
    }
    EXPECT_EQ(m_form.m_reasons[6], "The encoder ended with exit code 3.");
    // With more than one failure the message only counts them.
    EXPECT_EQ(m_form.m_messages, QStringList{"Encoding Finished !!\n6 of 7 files failed."});
}

TEST_F(RunFailureTest, AnOutputThatIsNoWholeMovieFailsAndIsRemoved)
{
    const QString whole = FakeEncoder::WholeMovie();
    const QByteArray movie = MediaFactory::ReadFile(whole);
    const QString copy = FakeEncoder::WriteWholeMovie();
    ASSERT_TRUE(QDir().mkpath(m_home.FilePath("out")));
    ASSERT_TRUE(MediaFactory::WriteFile(m_home.FilePath("out/kept.avi"), "an older movie"));
    const struct
    {
        const char* name;
        QString script;
        const char* headline; // a pattern; null: "Finished" and the output stays
    } cases[] = {
        {"whole.mpg", copy, nullptr},
        {"cut.mpg", copy + QStringLiteral("truncate %1\n").arg(movie.size() / 3),
         "The output holds [12]\\.\\d s of a 6\\.0 s movie\\."},
        {"header.mpg", copy + QStringLiteral("truncate %1\n").arg(movie.indexOf("movi") + 4),
         "The output holds no picture that can be decoded\\."},
        {"text.mpg", "touchout Dear diary\n", "The output file is not a movie that can be read\\."},
        {"missing.mpg", "exit 0\n", "The encoder exited with code 0 but wrote no output file\\."},
        // A movie that lay there before the run is not the failed encoder's.
        {"kept.mpg", "exit 1\n", "The encoder ended with exit code 1\\."},
    };
    for (const auto& c : cases) {
        AddMovie(c.name, c.script);
        m_form.m_jobs.back().nDuration = FakeEncoder::WholeMovieSeconds;
    }
    ASSERT_TRUE(RunAll());

    const QString log = LatestLog();
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const auto& c = cases[row];
        const QString output = m_home.FilePath(
            "out/" + QString::fromLatin1(c.name).replace(QLatin1String(".mpg"), ".avi"));
        EXPECT_EQ(m_form.Status(int(row)), c.headline ? "Failed" : "Finished") << c.name;
        const QString reason = m_form.m_reasons[int(row)];
        if (c.headline) {
            EXPECT_TRUE(QRegularExpression(QStringLiteral("^") + c.headline + "(\n|$)")
                            .match(reason)
                            .hasMatch())
                << c.name << ": " << reason.toStdString();
        }
        EXPECT_EQ(QFileInfo::exists(output), !c.headline || row == std::size(cases) - 1) << c.name;
    }
    EXPECT_EQ(MediaFactory::ReadFile(m_home.FilePath("out/kept.avi")), "an older movie");
    EXPECT_EQ(MediaFactory::ReadFile(m_home.FilePath("out/whole.avi")), movie);
    // Three outputs were the encoder's and incomplete; the log names each removal.
    EXPECT_EQ(log.count("\n  Removed: the incomplete output file\n"), 3) << log.toStdString();
}

TEST_F(RunFailureTest, AFloodKeepsTheTailAndTheOneFailureIsNamedAndLogged)
{
    AddMovie("flood.mpg", "progress 0 50 0\nlines 5000 Error number\nexit 1\n");
    AddMovie("fine.mpg", FakeEncoder::WriteWholeMovie());
    ASSERT_TRUE(RunAll());

    EXPECT_EQ(m_form.Statuses(), (QStringList{"Failed", "Finished"}));
    EXPECT_EQ(m_form.m_reasons[0], "The encoder ended with exit code 1.\n"
                                   "Error number 4995\nError number 4996\nError number 4997\n"
                                   "Error number 4998\nError number 4999\nError number 5000");
    EXPECT_EQ(m_form.m_messages, QStringList{"Encoding Finished !!\n1 of 2 files failed.\n"
                                             "flood.mpg failed: Error number 5000."});

    // The log: both jobs with their command lines and ends, the failed one with
    // its 40 kept lines.
    const QString log = LatestLog();
    const QString flood = m_home.FilePath("in/flood.mpg");
    EXPECT_TRUE(log.contains("\nJob 1 of 2\n  Input:   " + flood + "\n"));
    EXPECT_TRUE(log.contains("  Output:  " + m_home.FilePath("out/flood.avi") + "\n"));
    EXPECT_TRUE(log.contains(
        "  Command: \"" + m_fake.Path() + "\"  -noodml \"" + flood + "\" -o \"" +
        m_home.FilePath("out/.flood.avi.%1.part").arg(::getpid()) + "\" -ofps 15.000 "))
        << log.toStdString();
    EXPECT_TRUE(log.contains("  End:     failed: The encoder ended with exit code 1.\n"));
    EXPECT_TRUE(log.contains("\n    Error number 4961\n"));
    EXPECT_FALSE(log.contains("Error number 4960\n"));
    EXPECT_EQ(log.count("    Error number "), 40);
    EXPECT_TRUE(log.contains("\nJob 2 of 2\n"));
    EXPECT_TRUE(log.contains("  End:     finished\n"));
    EXPECT_TRUE(log.contains(": 1 of 2 files failed.\n"));
}

TEST_F(RunFailureTest, AnEncoderThatCannotStartOrIsStoppedIsLoggedSo)
{
    const QString missing = m_home.FilePath("tools/mencoder");
    m_plan.tools[m_plan.profile.backend].strPath = missing;
    AddMovie("a.mpg", "exit 0\n");
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_form.m_reasons[0],
              "The encoder could not be started.\n" + missing + ": No such file or directory");
    EXPECT_TRUE(LatestLog().contains("  End:     failed: The encoder could not be started.\n"));

    m_plan.tools[m_plan.profile.backend].strPath = m_fake.Path();
    AddMovie("b.mpg", "touchout partial\nhang\n");
    m_form.m_jobs.erase(m_form.m_jobs.begin());
    ASSERT_TRUE(m_form.Start(*m_run, m_plan));
    ASSERT_TRUE(PumpUntil([&] { return QFile::exists(m_home.FilePath("out/b.avi")); }));
    m_form.m_bDefaultAnswer = false;
    m_run->Stop();
    const QString log = LatestLog();
    EXPECT_TRUE(log.contains("  End:     stopped by the user\n")) << log.toStdString();
    EXPECT_TRUE(log.contains("\nRun stopped by the user "));
}

TEST_F(RunFailureTest, AnUnwritableLogFolderDoesNotDisturbTheRun)
{
    ScopedEnv env;
    const QString blocker = m_home.FilePath("state-file");
    ASSERT_TRUE(MediaFactory::WriteFile(blocker, "x"));
    env.Set("XDG_STATE_HOME", QFile::encodeName(blocker));
    AddMovie("a.mpg", FakeEncoder::WriteWholeMovie());
    AddMovie("b.mpg", "exit 1\n");
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_form.Statuses(), (QStringList{"Finished", "Failed"}));
    EXPECT_EQ(m_form.m_messages, QStringList{"Encoding Finished !!\n1 of 2 files failed.\n"
                                             "b.mpg failed: The encoder ended with exit code 1."});
}

} // namespace
