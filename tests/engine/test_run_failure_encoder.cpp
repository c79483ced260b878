// Damaged movies through the run with the real encoder: the failed rows say why
// in words a person can read, and the run log holds the command lines and the
// reasons. And the check that a "Finished" row has a whole movie behind it.
#include "engine/EncodingRun.h"
#include "jobs/MediaProbe.h"
#include "shell/SettingsStore.h"
#include "test_run_support.h"
#include "test_runner_support.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MovieInspector.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
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
    SetRegString(RegValue::MovieDir, home.FilePath("out"));
    SetRegString(RegValue::Prefix, QString());

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

    CEncodingRun run(form);
    const QString encoder = links.RealEncoderLink();
    run.SetEncoderPath(encoder);
    run.SetEncoderImageName(QFileInfo(encoder).fileName());
    bool ended = false;
    QObject::connect(&run, &CEncodingRun::RunEnded, [&] { ended = true; });
    run.StartEncoding();
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
        EXPECT_TRUE(reason.startsWith(c.headline + QStringLiteral("\n"))) << reason.toStdString();
        for (const QString& part : c.reasonHolds)
            EXPECT_TRUE(reason.contains(part)) << c.name << ": " << reason.toStdString();
        // The log: the command line and the end of each job, and its lines.
        const QRegularExpression entry(
            "\n  Command: \"" + QRegularExpression::escape(encoder) + "\" [^\n]* -noodml \"" +
            QRegularExpression::escape(form.m_jobs[row].strFilePath) +
            "\" -o \"[^\n]+\n  End:     failed: " + QRegularExpression::escape(c.headline) +
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
    explicit SmallDisk(const char* size)
    {
        m_path = m_dir.filePath("disk");
        m_mounted = m_dir.isValid() && QDir().mkpath(m_path) &&
                    ::mount("tmpfs", QFile::encodeName(m_path).constData(), "tmpfs",
                            MS_NOSUID | MS_NODEV, (QByteArray("size=") + size).constData()) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }
    bool IsMounted() const { return m_mounted; }
    QString Path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    bool m_mounted = false;
};

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
         "^The output folder's disk is full\\.\nThe output holds \\d+ s of a 30 s movie\\.\n"},
    };
    const QString encoder = links.RealEncoderLink();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.folder.isEmpty() && !disk.IsMounted()) {
            std::printf("[ SKIPPED  ] %s: this test may not mount a tmpfs\n", c.name);
            continue;
        }
        const QString out = c.folder.isEmpty() ? home.FilePath(c.name) : c.folder;
        SetRegString(RegValue::MovieDir, out);
        SetRegString(RegValue::Prefix, QString());
        MovieSpec spec;
        spec.seconds = c.seconds;
        const QString path = home.FilePath(c.movie);
        ASSERT_TRUE(MediaFactory::GenerateMovie(path, spec));
        FakeForm form;
        form.AddJob(path, ProbeFileSize(path));
        ProbeMovieFile(path, form.m_jobs.back());
        ASSERT_EQ(form.m_jobs.back().nDuration, int(c.seconds));

        CEncodingRun run(form);
        run.SetEncoderPath(encoder);
        run.SetEncoderImageName(QFileInfo(encoder).fileName());
        bool ended = false;
        QObject::connect(&run, &CEncodingRun::RunEnded, [&] { ended = true; });
        c.sampling ? run.StartSampling() : run.StartEncoding();
        ASSERT_TRUE(PumpUntil([&] { return ended; }, 120000));

        EXPECT_EQ(form.Status(0), c.reason ? "Failed" : "Finished");
        const QStringList outputs = QDir(out).entryList(QDir::Files);
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
