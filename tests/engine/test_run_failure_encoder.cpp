// Damaged movies through the run with the real encoder: the failed rows say why
// in words a person can read, and the run log holds the command lines and the
// reasons.
#include "engine/EncodingRun.h"
#include "shell/SettingsStore.h"
#include "test_run_support.h"
#include "test_runner_support.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

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
            "\n  Time:    [^\n]+\n  The encoder's last lines:\n");
        EXPECT_TRUE(entry.match(log).hasMatch()) << c.name << ": " << log.toStdString();
    }
    EXPECT_EQ(log.count("\n    Cannot open demuxer.\n"), 2);
}

} // namespace
