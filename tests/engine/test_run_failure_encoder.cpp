// Damaged movies through the run with the real encoder: the failed rows say why
// in words a person can read, and the run log holds the command lines and the
// reasons. And the check that a "Finished" row has a whole movie behind it.
#include "engine/EncodingRun.h"
#include "jobs/MediaProbe.h"
#include "test_run_support.h"
#include "test_runner_support.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MovieInspector.h"
#include "tests/support/TestEnvironment.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

TEST(RealEncoderFailureTest, DamagedMoviesFailWithAReasonAndALog)
{
    if (!MediaFactory::HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    ASSERT_TRUE(QFileInfo(TestEnvironment::BinDir() + "/tools/mencoder").isExecutable());
    ScopedTempHome home;
    FakeEncoder links;
    ASSERT_TRUE(home.IsValid() && links.IsValid());

    // What mencoder makes of them: it refuses the AVI and the text file (exit code
    // 1), and turns the MPEG file into an AVI without a single picture (exit 0).
    const struct
    {
        const char* name;
        const char* headline;
        QStringList reasonHolds;
    } cases[] = {
        {"truncated.avi",
         "The encoder ended with exit code 1.",
         {"\nSorry, this file format is not recognized/supported\n", "\nCannot open demuxer."}},
        {"truncated.mpg",
         "The encoder exited with code 0 but wrote no picture.",
         {"\nFilters have not been configured! Empty file?"}},
        {"notes.avi",
         "The encoder ended with exit code 1.",
         {"\nSorry, this file format is not recognized/supported\n", "\nCannot open demuxer."}},
    };
    // The AVI and the MPEG file are valid movies cut to their first 4 KiB.
    FakeForm form;
    for (const auto& c : cases) {
        const QString path = home.FilePath(c.name);
        if (QString(c.name).startsWith("truncated")) {
            const QString whole = home.FilePath(QStringLiteral("whole-") + c.name);
            QString error;
            ASSERT_TRUE(MediaFactory::GenerateMovie(whole, MovieSpec(), &error))
                << error.toStdString();
            ASSERT_TRUE(MediaFactory::WriteFile(path, MediaFactory::ReadFile(whole).left(4096)));
        } else {
            ASSERT_TRUE(MediaFactory::WriteFile(path, "Shopping list: milk.\n"));
        }
        form.AddJob(path, 4096);
    }

    CEncodingRun run;
    const QString encoder = links.RealEncoderLink();
    run.SetEncoderImageName(QFileInfo(encoder).fileName());
    form.Listen(run);
    bool ended = false;
    QObject::connect(&run, &CEncodingRun::RunEnded, [&] { ended = true; });
    ASSERT_TRUE(form.Start(
        run, TestPlan(home.FilePath("out"), {encoder, QFileInfo(encoder).fileName()}, {}, 0)));
    ASSERT_TRUE(PumpUntil([&] { return ended; }, 120000));

    EXPECT_EQ(form.Statuses(), QStringList(3, "Failed"));
    EXPECT_EQ(form.m_messages, QStringList{"Encoding Finished !!\n3 of 3 files failed."});
    const QDir logs(home.StateDir() + "/Tolva/Clipvane/logs");
    const QStringList names = logs.entryList({"*.log"}, QDir::Files);
    ASSERT_EQ(names.size(), 1);
    const QString log = QString::fromUtf8(MediaFactory::ReadFile(logs.filePath(names[0])));
    for (int row = 0; row < 3; ++row) {
        const auto& c = cases[row];
        const QString reason = form.m_reasons[row];
        const QString cause = "The movie cannot be read: it is damaged or of an unknown kind.";
        EXPECT_TRUE(reason.startsWith(cause + "\n" + c.headline + "\n")) << reason.toStdString();
        for (const QString& part : c.reasonHolds)
            EXPECT_TRUE(reason.contains(part)) << c.name << ": " << reason.toStdString();
        // The log: the command line and the end of each job, and its lines.
        const QRegularExpression entry(
            "\n  Command: \"" + QRegularExpression::escape(encoder) + "\" [^\n]* -noodml \"" +
            QRegularExpression::escape(form.m_jobs[row].strFilePath) +
            "\" -o \"[^\n]+\n  End:     failed: " +
            QRegularExpression::escape(cause + ' ' + c.headline) +
            "\n(  Removed: the incomplete output file\n)?  Time:    [^\n]+\n  The encoder's "
            "last lines:\n");
        EXPECT_TRUE(entry.match(log).hasMatch()) << c.name << ": " << log.toStdString();
    }
    EXPECT_EQ(log.count("\n    Cannot open demuxer.\n"), 2);
    // The AVI without a picture was the only output, and it is gone again.
    EXPECT_EQ(log.count("\n  Removed: the incomplete output file\n"), 1);
    EXPECT_EQ(QDir(home.FilePath("out")).entryList(QDir::Files), QStringList());
}

// A tmpfs of a few hundred KiB mounted on a folder of a temporary folder while
// the object lives; not mounted where the test may not mount.
class SmallDisk
{
public:
    explicit SmallDisk(const char* size, unsigned long flags = 0)
    {
        m_path = m_dir.filePath("disk");
        m_options = QByteArray("size=") + size;
        m_mounted = m_dir.isValid() && QDir().mkpath(m_path) &&
                    ::mount("tmpfs", QFile::encodeName(m_path).constData(), "tmpfs",
                            MS_NOSUID | MS_NODEV | flags, m_options.constData()) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }
    bool IsMounted() const { return m_mounted; }
    QString Path() const { return m_path; }
    bool MakeReadOnly()
    {
        return ::mount("tmpfs", QFile::encodeName(m_path).constData(), "tmpfs",
                       MS_REMOUNT | MS_NOSUID | MS_NODEV | MS_RDONLY, m_options.constData()) == 0;
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    QByteArray m_options;
    bool m_mounted = false;
};

// A batch with something broken on purpose, through the run with the real
// encoder, one encode at a time.
struct BrokenBatch
{
    const char* what;
    // Mounts a disk for the output folder (skipped where that is refused);
    // read-only from the start or not.
    enum class Disk
    {
        None,
        ReadOnly,
        Writable
    } disk;
    // 2-second movies, made in the home; "cut.avi" is one cut to its first 4 KiB.
    QStringList movies;
    // Breaks it: gets the form, the movies' paths, the output folder and the disk.
    std::function<void(FakeForm&, const QStringList&, const QString&, SmallDisk&)> breakIt;
    // Each row's status; empty when no encode may start.
    QStringList statuses;
    // The start of each row's reason ("%OUT%" standing for the output folder).
    QStringList reasons;
    QString message;
};

void RunBrokenBatches(const std::vector<BrokenBatch>& batches)
{
    ASSERT_TRUE(MediaFactory::HaveFfmpeg());
    FakeEncoder links;
    ASSERT_TRUE(links.IsValid());
    const QString encoder = links.RealEncoderLink();
    for (const BrokenBatch& batch : batches) {
        SCOPED_TRACE(batch.what);
        ScopedTempHome home;
        ASSERT_TRUE(home.IsValid());
        SmallDisk disk("4m", batch.disk == BrokenBatch::Disk::ReadOnly ? MS_RDONLY : 0);
        if (batch.disk != BrokenBatch::Disk::None && !disk.IsMounted()) {
            std::printf("[ SKIPPED  ] %s: this test may not mount a tmpfs\n", batch.what);
            continue;
        }
        const QString out =
            batch.disk == BrokenBatch::Disk::None ? home.FilePath("out") : disk.Path() + "/out";
        if (batch.disk == BrokenBatch::Disk::Writable) {
            ASSERT_TRUE(QDir().mkpath(out));
        }
        FakeForm form;
        QStringList paths;
        for (const QString& name : batch.movies) {
            const QString path = home.FilePath(name);
            const QString made = name == "cut.avi" ? home.FilePath("whole.avi") : path;
            ASSERT_TRUE(MediaFactory::GenerateMovie(made, MovieSpec()));
            if (made != path) {
                ASSERT_TRUE(MediaFactory::WriteFile(path, MediaFactory::ReadFile(made).left(4096)));
            }
            form.AddJob(path, ProbeFileSize(path));
            ProbeMovieFile(path, form.m_jobs.back());
            paths << path;
        }
        batch.breakIt(form, paths, out, disk);

        CEncodingRun run;
        run.SetEncoderImageName(QFileInfo(encoder).fileName());
        form.Listen(run);
        bool ended = false;
        QObject::connect(&run, &CEncodingRun::RunEnded, [&] { ended = true; });
        form.Start(run, TestPlan(out, {encoder, QFileInfo(encoder).fileName()}));
        ASSERT_TRUE(PumpUntil([&] { return ended || !run.IsRunning(); }, 120000));

        EXPECT_EQ(form.m_messages, QStringList{QString(batch.message).replace("%OUT%", out)});
        if (batch.statuses.isEmpty()) {
            // Refused before anything started: no row touched, no log begun.
            EXPECT_TRUE(form.m_statusHistory.empty());
            EXPECT_TRUE(LatestRunLog(home).isEmpty());
            continue;
        }
        EXPECT_EQ(form.Statuses(), batch.statuses);
        const QString log = LatestRunLog(home);
        int started = 0;
        for (int row = 0; row < int(paths.size()); ++row) {
            const QString reason = QString(batch.reasons[row]).replace("%OUT%", out);
            EXPECT_TRUE(reason.isEmpty() ? form.m_reasons[row].isEmpty()
                                         : form.m_reasons[row].startsWith(reason))
                << row << ": " << form.m_reasons[row].toStdString();
            // A job that could not start started no encoder; its entry ends so.
            const bool notStarted =
                reason.startsWith("The movie file") || reason.startsWith("The output folder");
            started += notStarted ? 0 : 1;
            EXPECT_TRUE(!notStarted ||
                        log.contains("  End:     failed: " + reason.section('\n', 0, 0) + "\n"))
                << log.toStdString();
        }
        EXPECT_EQ(log.count("\n  Command: "), started) << log.toStdString();
    }
}

TEST(RealEncoderFailureTest, EachBrokenJobSaysWhyAndTheBatchGoesOn)
{
    const QString damaged = "The movie cannot be read: it is damaged or of an unknown kind.\n"
                            "The encoder ended with exit code 1.\n";
    const QString readOnly = "The output folder cannot be written: %OUT%\nRead-only file system";
    RunBrokenBatches({
        {"a movie removed before its turn, and a damaged one",
         BrokenBatch::Disk::None,
         {"a.mpg", "gone.mpg", "cut.avi", "b.mpg"},
         [](FakeForm& form, const QStringList& movies, const QString&, SmallDisk&) {
             form.m_onStatus = [&form, gone = movies[1]](int row, const QString& status) {
                 if (row == 0 && status == "Encoding...")
                     QFile::remove(gone);
             };
         },
         {"Finished", "Failed", "Failed", "Finished"},
         {"", "The movie file is gone.", damaged, ""},
         "Encoding Finished !!\n2 of 4 files failed."},
        {"an output folder on a read-only disk",
         BrokenBatch::Disk::ReadOnly,
         {"a.mpg"},
         [](FakeForm&, const QStringList&, const QString&, SmallDisk&) {},
         {},
         {},
         readOnly},
        {"an output disk that turns read-only during the run",
         BrokenBatch::Disk::Writable,
         {"a.mpg", "b.mpg", "c.mpg"},
         [](FakeForm& form, const QStringList&, const QString&, SmallDisk& disk) {
             form.m_onStatus = [&disk](int row, const QString& status) {
                 if (row == 0 && status == "Finished") {
                     ASSERT_TRUE(disk.MakeReadOnly());
                 }
             };
         },
         {"Finished", "Failed", "Failed"},
         {"", readOnly, readOnly},
         "Encoding Finished !!\n2 of 3 files failed."},
    });
}

// Root reads and writes every file: these run as a user without its rights,
// the test program started again as "nobody" when the test runs as root.
TEST(RealEncoderFailureTest, WithoutTheRightsToReadOrWrite)
{
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (setpriv.isEmpty())
            GTEST_SKIP() << "running as root without setpriv to become another user";
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(setpriv,
                    {"--reuid=65534", "--regid=65534", "--clear-groups",
                     QCoreApplication::applicationFilePath(),
                     "--gtest_filter=RealEncoderFailureTest.WithoutTheRightsToReadOrWrite"});
        ASSERT_TRUE(child.waitForFinished(240000));
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test.")) << output.constData();
        return;
    }
    RunBrokenBatches({
        {"an unreadable movie",
         BrokenBatch::Disk::None,
         {"locked.mpg", "a.mpg"},
         [](FakeForm&, const QStringList& movies, const QString&, SmallDisk&) {
             ASSERT_TRUE(QFile::setPermissions(movies[0], {}));
         },
         {"Failed", "Finished"},
         {"The movie file cannot be read: Permission denied.", ""},
         "Encoding Finished !!\n1 of 2 files failed.\n"
         "locked.mpg failed: The movie file cannot be read: Permission denied."},
        {"an output folder without write permission",
         BrokenBatch::Disk::None,
         {"a.mpg"},
         [](FakeForm&, const QStringList&, const QString& out, SmallDisk&) {
             ASSERT_TRUE(QDir().mkpath(out));
             ASSERT_TRUE(QFile::setPermissions(out, QFile::ReadOwner | QFile::ExeOwner));
         },
         {},
         {},
         "The output folder cannot be written: %OUT%\nPermission denied"},
    });
}

TEST(RealEncoderOutputTest, OnlyAWholeMovieIsFinished)
{
    if (!MediaFactory::HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    ScopedTempHome home;
    FakeEncoder links;
    ASSERT_TRUE(home.IsValid() && links.IsValid());
    SmallDisk disk("256k");
    const QString longName = QString(250, 'n') + ".mpg"; // 254 bytes
    const struct
    {
        const char* name;
        QString movie;
        double seconds;
        QString folder; // empty: a folder with room
        bool sampling;
        const char* reason; // a pattern; null: "Finished"
    } cases[] = {
        {"a 254-byte name", longName, 2, {}, false, nullptr},
        {"a sample of a longer movie", "long.mpg", 70, {}, true, nullptr},
        {"a full disk", "full.mpg", 30, disk.Path(), false,
         "^The output folder's disk is full\\.\nThe output holds \\d+\\.\\d s of a 30\\.0 s "
         "movie\\.\n"},
        // A 2 s movie whose picture ends after 23 of its 50 frames: the
        // encoder exits 0 with a movie of 0.93 s.
        {"a picture that ends early",
         "early.mpg",
         2,
         {},
         false,
         "^The output holds 0\\.9 s of a 2\\.0 s movie\\.(\n|$)"},
    };
    const QString encoder = links.RealEncoderLink();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.folder.isEmpty() && !disk.IsMounted()) {
            std::printf("[ SKIPPED  ] %s: this test may not mount a tmpfs\n", c.name);
            continue;
        }
        const QString out = c.folder.isEmpty() ? home.FilePath(c.name) : c.folder;
        MovieSpec spec;
        spec.seconds = c.seconds;
        if (c.movie == "early.mpg")
            spec.outputArgs = QStringList{"-vf", "trim=end_frame=23"};
        const QString path = home.FilePath(c.movie);
        ASSERT_TRUE(MediaFactory::GenerateMovie(path, spec));
        FakeForm form;
        form.AddJob(path, ProbeFileSize(path));
        ProbeMovieFile(path, form.m_jobs.back());
        ASSERT_EQ(form.m_jobs.back().nDuration, int(c.seconds));

        CEncodingRun run;
        run.SetEncoderImageName(QFileInfo(encoder).fileName());
        form.Listen(run);
        bool ended = false;
        QObject::connect(&run, &CEncodingRun::RunEnded, [&] { ended = true; });
        RunPlan plan = TestPlan(out, {encoder, QFileInfo(encoder).fileName()}, {}, 0);
        plan.bSampling = c.sampling;
        ASSERT_TRUE(form.Start(run, plan));
        ASSERT_TRUE(PumpUntil([&] { return ended; }, 120000));

        EXPECT_EQ(form.Status(0), c.reason ? "Failed" : "Finished");
        // Nothing else either: no claim, no hidden part of a movie.
        const QStringList outputs = QDir(out).entryList(QDir::Files | QDir::Hidden);
        if (c.reason) {
            EXPECT_TRUE(QRegularExpression(c.reason).match(form.m_reasons[0]).hasMatch())
                << form.m_reasons[0].toStdString();
            EXPECT_TRUE(outputs.isEmpty()) << outputs.join(' ').toStdString();
            continue;
        }
        ASSERT_EQ(outputs.size(), 1);
        EXPECT_LE(QFile::encodeName(outputs[0]).size(), 255);
        const MovieInspector::Facts facts = MovieInspector::Inspect(out + '/' + outputs[0]);
        EXPECT_TRUE(facts.HasVideo());
        EXPECT_NEAR(facts.videoSeconds, std::min(c.seconds, 60.0), 1.5);
    }
}

} // namespace
