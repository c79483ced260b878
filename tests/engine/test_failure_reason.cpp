// The pieces that tell why a job failed, without processes: the output tail, the
// reason picker, the check of the output and the run log.
#include "engine/Backends.h"
#include "engine/FailureReason.h"
#include "engine/MencoderEncode.h"
#include "engine/OutputCheck.h"
#include "engine/OutputTail.h"
#include "engine/RunLog.h"
#include "engine/StartChecks.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include <QDir>
#include <QTemporaryDir>

namespace {

using Stream = COutputTail::Stream;

QStringList Feed(const std::vector<std::pair<Stream, std::string>>& chunks)
{
    COutputTail tail;
    for (const auto& [stream, bytes] : chunks)
        tail.Append(stream, bytes);
    return tail.TakeLines();
}

TEST(OutputTailTest, SplitsLinesAcrossChunksAndStreams)
{
    const QString replacement(QChar::ReplacementCharacter);
    const struct
    {
        const char* what;
        std::vector<std::pair<Stream, std::string>> chunks;
        QStringList lines;
    } cases[] = {
        {"a line cut by chunks",
         {{Stream::Out, "Cannot op"},
          {Stream::Out, "en file/de"},
          {Stream::Out, "vice.\nExit"},
          {Stream::Out, "ing...\n"}},
         {"Cannot open file/device.", "Exiting..."}},
        {"every line ending", {{Stream::Out, "a\r\nb\rc\n\n\r  \nd"}}, {"a", "b", "c", "d"}},
        {"progress records, whole and cut",
         {{Stream::Out, "Pos:   1.0s  25f ( 5%)\rPo"},
          {Stream::Out, "s: 1.1s 26f ( 6%)\rP"},
          {Stream::Out, "os: 2.0s\r1 duplicate frame(s)!\nPos: 3.0s"}},
         {"1 duplicate frame(s)!"}},
        {"lines that only begin like a record",
         {{Stream::Out, "Po\nPosition: 3\n"}},
         {"Po", "Position: 3"}},
        {"the two streams are split apart",
         {{Stream::Out, "Opening "},
          {Stream::Err, "Cannot open "},
          {Stream::Out, "video\n"},
          {Stream::Err, "demuxer.\n"}},
         {"Opening video", "Cannot open demuxer."}},
        {"bytes that are not UTF-8 keep their line",
         {{Stream::Err, "bad \xff\xfe name\n"}, {Stream::Err, "caf\xc3"}, {Stream::Err, "\xa9\n"}},
         {"bad " + replacement + replacement + " name", QString::fromUtf8("caf\xc3\xa9")}},
        {"trailing white space goes", {{Stream::Out, "Exiting...  \t\n"}}, {"Exiting..."}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Feed(c.chunks), c.lines) << c.what;
}

TEST(OutputTailTest, KeepsABoundedTail)
{
    COutputTail tail;
    std::string flood;
    for (int i = 1; i <= 5000; ++i)
        flood += "line " + std::to_string(i) + "\n";
    for (std::size_t at = 0; at < flood.size(); at += 256)
        tail.Append(Stream::Err, std::string_view(flood).substr(at, 256));
    QStringList lines = tail.TakeLines();
    ASSERT_EQ(lines.size(), int(COutputTail::MaxLines));
    EXPECT_EQ(lines.front(), "line 4961");
    EXPECT_EQ(lines.back(), "line 5000");
    EXPECT_TRUE(tail.TakeLines().isEmpty()); // taking empties it

    // Long lines: the byte bound holds and the newest line is whole.
    for (int i = 0; i < 50; ++i)
        tail.Append(Stream::Out, std::string(1000, 'a' + i % 26) + "\n");
    lines = tail.TakeLines();
    EXPECT_LE(lines.join("").size(), int(COutputTail::MaxBytes));
    EXPECT_EQ(lines.back(), QString(1000, QChar('a' + 49 % 26)));

    // A line without end keeps its start, marked as cut.
    for (int i = 0; i < 400; ++i)
        tail.Append(Stream::Out, std::string(256, 'z'));
    lines = tail.TakeLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0], QString(int(COutputTail::MaxLineBytes), 'z') + " [...]");

    // Clear forgets unfinished lines too.
    tail.Append(Stream::Out, "half a line");
    tail.Clear();
    EXPECT_TRUE(tail.TakeLines().isEmpty());
}

ChildExit Exited(int code)
{
    ChildExit exit;
    exit.kind = ChildExit::Kind::Exited;
    exit.code = code;
    return exit;
}

ChildExit Signalled(int signal)
{
    ChildExit exit;
    exit.kind = ChildExit::Kind::Signalled;
    exit.code = signal;
    return exit;
}

// What the real encoder printed for a movie truncated to its first 4 KiB.
const QStringList kTruncatedAvi{
    "MEncoder UNKNOWN-12 (C) 2000-2023 MPlayer Team",
    "AVI file format detected.",
    "Badly interleaved AVI file detected - switching to -ni mode...",
    "AVI: Missing video stream!? Contact the author, it may be a bug :(",
    "LAVF_header: av_open_input_stream() failed",
    "============ Sorry, this file format is not recognized/supported =============",
    "=== If this file is an AVI, ASF or MPEG stream, please contact the author! ===",
    "Cannot open demuxer.",
    "Exiting...",
};

TEST(FailureReasonTest, PicksTheHeadlineAndTheLinesThatSayMost)
{
    using Output = CFailureReason::Output;
    const QString longLine = "Error: " + QString(300, 'x');
    const struct
    {
        const char* what;
        ChildExit exit;
        Output output;
        QStringList kept;
        QString details; // the tooltip
        QString summary;
    } cases[] = {
        {"an unreadable movie", Exited(1), Output::Missing, kTruncatedAvi,
         "The movie cannot be read: it is damaged or of an unknown kind.\n"
         "The encoder ended with exit code 1.\n"
         "AVI: Missing video stream!? Contact the author, it may be a bug :(\n"
         "LAVF_header: av_open_input_stream() failed\n"
         "Sorry, this file format is not recognized/supported\n"
         "Cannot open demuxer.\nExiting...",
         "The movie cannot be read: it is damaged or of an unknown kind."},
        {"only the last six error lines",
         Exited(1),
         Output::Missing,
         {"e1 failed", "e2 failed", "e3 failed", "e4 failed", "e5 failed", "e6 failed", "e7 failed",
          "Exiting..."},
         "The encoder ended with exit code 1.\n"
         "e3 failed\ne4 failed\ne5 failed\ne6 failed\ne7 failed\nExiting...",
         "e7 failed."},
        {"no error lines: the last lines",
         Signalled(11),
         Output::Written,
         {"one", "two", "three", "four", "five", "six", "seven"},
         "The encoder was ended by signal 11 (Segmentation fault).\n"
         "two\nthree\nfour\nfive\nsix\nseven",
         "The encoder was ended by signal 11 (Segmentation fault)."},
        {"exit 0 without a movie",
         Exited(0),
         Output::Missing,
         {"Skipping frame!", "Filters have not been configured! Empty file?"},
         "The movie cannot be read: it is damaged or of an unknown kind.\n"
         "The encoder exited with code 0 but wrote no output file.\n"
         "Filters have not been configured! Empty file?",
         "The movie cannot be read: it is damaged or of an unknown kind."},
        {"exit 0 with an empty movie",
         Exited(0),
         Output::Empty,
         {},
         "The encoder exited with code 0 but left an empty output file.",
         "The encoder exited with code 0 but left an empty output file."},
        {"exit 0 and a movie without a picture",
         Exited(0),
         Output::Written,
         {"Skipping frame!", "Filters have not been configured! Empty file?",
          "Video stream:     -nan kbit/s  (-2147483648 B/s)  size: 0 bytes  0.000 secs  1 frames",
          "Audio stream:  111.781 kbit/s  (13972 B/s)  size: 730 bytes  0.052 secs"},
         "The movie cannot be read: it is damaged or of an unknown kind.\n"
         "The encoder exited with code 0 but wrote no picture.\n"
         "Filters have not been configured! Empty file?",
         "The movie cannot be read: it is damaged or of an unknown kind."},
        {"a failure after only Exiting...",
         Exited(2),
         Output::Written,
         {"Exiting..."},
         "The encoder ended with exit code 2.\nExiting...",
         "The encoder ended with exit code 2."},
        {"a long line is cut",
         Exited(1),
         Output::Written,
         {longLine},
         "The encoder ended with exit code 1.\n" + longLine.left(159) + QChar(0x2026),
         longLine.left(159) + QChar(0x2026) + "."},
    };
    for (const auto& c : cases) {
        const std::optional<CFailureReason> reason =
            CFailureReason::ForEnd(c.exit, c.output, c.kept, MencoderCauses);
        ASSERT_TRUE(reason.has_value()) << c.what;
        EXPECT_EQ(reason->Details(), c.details) << c.what;
        EXPECT_EQ(reason->Summary(), c.summary) << c.what;
    }

    EXPECT_FALSE(CFailureReason::ForEnd(Exited(0), Output::Written, kTruncatedAvi, MencoderCauses)
                     .has_value());
    EXPECT_FALSE(CFailureReason::ForEnd(Exited(0), Output::Written,
                                        {"Video stream:  141.051 kbit/s  (17631 B/s)  size: 69350 "
                                         "bytes  3.933 secs  100 frames"},
                                        MencoderCauses)
                     .has_value());
    const CFailureReason notStarted =
        CFailureReason::NotStarted("/app/tools/mencoder", "No such file or directory");
    EXPECT_EQ(notStarted.Details(),
              "The encoder could not be started.\n/app/tools/mencoder: No such file or directory");
}

TEST(FailureReasonTest, TheCauseIsNamedFromWhatTheRealEncoderPrints)
{
    // The lines each encoder printed when broken on purpose (data/encoder-lines,
    // made by capture.sh there, and data/ffmpeg-lines), kept as the run keeps
    // them.
    const QString unreadable = "The movie cannot be read: it is damaged or of an unknown kind.";
    const std::span<const EncoderCause> mencoder =
        Backends::Of(EncodeProfile::Backend::Mencoder).causes;
    const std::span<const EncoderCause> ffmpeg =
        Backends::Of(EncodeProfile::Backend::Ffmpeg).causes;
    const QString mencoderLines = QStringLiteral(CLIPVANE_ENCODER_LINES);
    const QString ffmpegLines = QStringLiteral(CLIPVANE_FFMPEG_LINES);
    const struct
    {
        const QString& folder;
        std::span<const EncoderCause> causes;
        const char* file;
        int exitCode;
        QString cause; // empty: none named
    } cases[] = {
        {mencoderLines, mencoder, "whole-movie", 0, ""},
        {mencoderLines, mencoder, "movie-gone", 1, "The movie file is gone or cannot be read."},
        {mencoderLines, mencoder, "movie-unreadable", 1,
         "The movie file is gone or cannot be read."},
        {mencoderLines, mencoder, "output-read-only", 1, "The output file cannot be written."},
        {mencoderLines, mencoder, "output-no-permission", 1, "The output file cannot be written."},
        {mencoderLines, mencoder, "damaged-cut-avi", 1, unreadable},
        {mencoderLines, mencoder, "damaged-text-avi", 1, unreadable},
        {mencoderLines, mencoder, "damaged-cut-mpg", 0, unreadable},
        {mencoderLines, mencoder, "width-99999-mpeg4", 1,
         "The picture size is too large for this encoder."},
        {mencoderLines, mencoder, "width-99999-wmv2", 1,
         "The picture size does not suit this encoder."},
        {ffmpegLines, ffmpeg, "missing-input", 1, "The movie file is gone or cannot be read."},
        {ffmpegLines, ffmpeg, "unreadable-input", 1, "A file cannot be opened: permission denied."},
        {ffmpegLines, ffmpeg, "damaged-cut-4k-avi", 1, unreadable},
        {ffmpegLines, ffmpeg, "damaged-cut-4k-mp4", 1, unreadable},
        {ffmpegLines, ffmpeg, "damaged-text-named-avi", 1, unreadable},
        {ffmpegLines, ffmpeg, "disk-full-at-start", 1, "The output folder's disk is full."},
        {ffmpegLines, ffmpeg, "disk-full-during-encode", 1, "The output folder's disk is full."},
        {ffmpegLines, ffmpeg, "output-folder-read-only-fs", 1,
         "The output file cannot be written."},
        {ffmpegLines, ffmpeg, "unknown-encoder", 1,
         "This ffmpeg cannot make the codec the settings ask for."},
        {ffmpegLines, ffmpeg, "encoder-open-failed-odd-size", 1,
         "The picture size does not suit this encoder."},
        {ffmpegLines, ffmpeg, "subtitle-file-missing", 1, "The subtitle cannot be drawn."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QByteArray printed = MediaFactory::ReadFile(c.folder + '/' + c.file + ".txt");
        ASSERT_FALSE(printed.isEmpty());
        const QStringList kept = Feed({{Stream::Out, printed.toStdString()}});
        EXPECT_EQ(CFailureReason::CauseIn(kept, c.causes), c.cause);
        const std::optional<CFailureReason> reason = CFailureReason::ForEnd(
            Exited(c.exitCode), CFailureReason::Output::Written, kept, c.causes);
        if (c.cause.isEmpty()) {
            EXPECT_FALSE(reason.has_value());
            continue;
        }
        // The cause first, then the encoder's own account below it.
        ASSERT_TRUE(reason.has_value());
        const QStringList details = reason->Details().split('\n');
        ASSERT_GE(details.size(), 3);
        EXPECT_EQ(details[0], c.cause);
        EXPECT_EQ(details[1], reason->Headline());
        EXPECT_EQ(details.mid(2), reason->EncoderLines());
        EXPECT_EQ(reason->Summary(), c.cause);
        EXPECT_EQ(reason->OneLine(), c.cause + ' ' + reason->Headline());
    }
}

TEST(StartChecksTest, TheMovieAndTheOutputFolderAreCheckedWithoutHarm)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString movie = dir.filePath("movie.mpg");
    const QString fifo = dir.filePath("fifo.mpg");
    ASSERT_TRUE(MediaFactory::WriteFile(movie, "x"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const std::pair<QString, const char*> movies[] = {
        {movie, nullptr},
        {fifo, nullptr}, // opened without waiting for a writer
        {dir.filePath("gone.mpg"), "The movie file is gone."},
        {movie + "/x.mpg", "The movie file is gone."},
        {dir.path(), "The movie file cannot be read: Is a directory."},
        {QString(), "The movie file is gone."},
    };
    for (const auto& [path, problem] : movies)
        EXPECT_EQ(StartChecks::MovieProblem(path).value_or("none"), problem ? problem : "none")
            << path.toStdString();

    // A missing folder is made only when asked: a pulled stick's mount point
    // stays empty. The check leaves nothing behind.
    const QString folder = dir.filePath("out/sub");
    EXPECT_EQ(StartChecks::FolderWriteError(folder, false).value_or("none"),
              "No such file or directory");
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_FALSE(StartChecks::FolderWriteError(folder, true).has_value());
    EXPECT_TRUE(QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_EQ(StartChecks::FolderWriteError(movie + "/out", true).value_or("none"),
              "Not a directory");
}

// The expected length is the input's to the frame (the job record's whole
// seconds only when the probe knows none), less what the encoders really drop
// at the end (bench/README.md, "lengths.sh": at most 0.16 s on every input
// kind) with a margin: half a second, or 3 % of a long movie.
TEST(OutputCheckTest, AnOutputIsWholeWhenItOpensShowsPicturesAndLastsAsLongAsExpected)
{
    const MovieContent audioOnly{true, false, false, 3};
    const auto movie = [](double seconds) { return MovieContent{true, true, true, seconds}; };
    const struct
    {
        MovieContent content;
        double probed; // the probe's length; 0: unknown
        int recorded;  // the job record's whole seconds; 0: unknown
        bool sampling;
        const char* problem; // null: a whole movie
    } cases[] = {
        {audioOnly, 30, 30, false, "The output holds no video."},
        {movie(0.5), 0, 0, false, nullptr}, // unknown length: only pictures count
        {movie(-1), 30, 30, false, "The output's length cannot be read."},
        // Measured: the whole outputs of a 2 s WMV from mencoder and of a 1 s
        // one from ffmpeg, and a sample from ffmpeg.
        {movie(1.933), 2.092, 2, false, nullptr},
        {movie(0.960), 1.092, 1, false, nullptr},
        {movie(59.92), 70.0, 70, true, nullptr},
        // A 2 s movie cut after about a second, however its length was recorded.
        {movie(0.93), 2.0, 2, false, "The output holds 0.9 s of a 2.0 s movie."},
        {movie(0.93), 2.011, 1, false, "The output holds 0.9 s of a 2.0 s movie."},
        {movie(0.93), 0, 2, false, "The output holds 0.9 s of a 2.0 s movie."},
        {movie(1.49), 2.0, 2, false, "The output holds 1.4 s of a 2.0 s movie."},
        {movie(9.4), 10.04, 10, false, "The output holds 9.4 s of a 10.0 s movie."},
        {movie(5.2), 30, 30, false, "The output holds 5.2 s of a 30.0 s movie."},
        {movie(97.1), 100, 100, false, nullptr}, // 3 % short at most
        {movie(96.9), 100, 100, false, "The output holds 96.9 s of a 100.0 s movie."},
        {movie(35), 30, 30, false, nullptr}, // longer is whole
        {movie(20), 90.4, 90, true, "The output holds 20.0 s of a 60.0 s sample."},
        {movie(39.6), 40, 40, true, nullptr}, // a movie shorter than the sample
        {movie(30), 40, 40, true, "The output holds 30.0 s of a 40.0 s movie."},
    };
    for (const auto& c : cases) {
        StreamFile job;
        job.nDuration = c.recorded;
        MovieTiming probed;
        probed.dSeconds = c.probed;
        const double expected =
            COutputCheck::ExpectedSeconds(COutputCheck::InputSeconds(job, probed), c.sampling);
        const std::optional<QString> problem =
            COutputCheck::Problem(c.content, expected, c.sampling);
        EXPECT_EQ(problem.value_or("whole"), c.problem ? QString(c.problem) : QString("whole"))
            << c.content.dSeconds << " of " << c.probed << (c.sampling ? " sampled" : "");
    }
}

TEST(FailureReasonTest, ErrorLinesAreTheEncodersFailureMessagesNotItsChatter)
{
    for (const char* line :
         {"Cannot open file/device.", "File not found: 'a.avi'", "Failed to open the encoder.",
          "Couldn't open video filter 'lavc'.", "Error while decoding frame!",
          "Cannot open output file '/gone/a.avi'.", "Exiting... (error)",
          "VDecoder init failed :("})
        EXPECT_TRUE(CFailureReason::LooksLikeError(line)) << line;
    for (const char* line :
         {"Skipping frame!", "1 duplicate frame(s)!", "Forcing output FourCC to 58564944 [DIVX].",
          "MEncoder UNKNOWN-12 (C) 2000-2023 MPlayer Team", "Writing index...",
          "ODML: Aspect information not (yet?) available or unspecified, not writing vprp header."})
        EXPECT_FALSE(CFailureReason::LooksLikeError(line)) << line;
}

class RunLogTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_home.IsValid()); }
    QString LogsDir() const { return m_home.StateDir() + "/Tolva/Clipvane/logs"; }
    static QDateTime At(const char* text)
    {
        return QDateTime::fromString(text, "yyyy-MM-dd HH:mm:ss");
    }
    ScopedTempHome m_home;
};

TEST_F(RunLogTest, OneFilePerRunNamedByItsStartAndOnlyTheNewestKept)
{
    EXPECT_EQ(CRunLog::Folder(), LogsDir());
    {
        // A relative XDG_STATE_HOME is not used: the default under the home folder.
        ScopedEnv env;
        env.Set("XDG_STATE_HOME", "relative/state");
        EXPECT_EQ(CRunLog::Folder(), QDir::homePath() + "/.local/state/Tolva/Clipvane/logs");
    }
    ASSERT_TRUE(QDir().mkpath(LogsDir()));
    // 24 older logs, one of them a second run in its second, and a file of the
    // user's own that only looks like a log.
    for (int i = 0; i < 23; ++i)
        MediaFactory::WriteFile(
            LogsDir() + "/" + CRunLog::FileName(At("2026-01-01 10:00:00").addSecs(i), 1), "old");
    MediaFactory::WriteFile(LogsDir() + "/2026-01-01_10-00-22_2.log", "old");
    MediaFactory::WriteFile(LogsDir() + "/notes.log", "mine");

    const QDateTime start = At("2026-12-08 21:40:52");
    CRunLog first, second;
    ASSERT_TRUE(first.Begin(start, false));
    ASSERT_TRUE(second.Begin(start, true));
    EXPECT_EQ(QFileInfo(first.FilePath()).fileName(), "2026-12-08_21-40-52.log");
    EXPECT_EQ(QFileInfo(second.FilePath()).fileName(), "2026-12-08_21-40-52_2.log");

    QStringList logs = QDir(LogsDir()).entryList({"20*.log"}, QDir::Files, QDir::Name);
    ASSERT_EQ(logs.size(), CRunLog::KeptLogs);
    EXPECT_EQ(logs.front(), "2026-01-01_10-00-06.log");
    EXPECT_TRUE(logs.contains("2026-01-01_10-00-22_2.log"));
    EXPECT_TRUE(QFile::exists(LogsDir() + "/notes.log"));

    RunLogJob job;
    job.nIndex = 1;
    job.nCount = 3;
    job.strInput = "/in/b c.avi";
    job.strOutput = "/out/b c.avi";
    job.arrCommandLines = {"\"/app/tools/mencoder\" -noodml \"/in/b c.avi\""};
    job.strEnd = "failed: The encoder ended with exit code 1.";
    job.strTime = "00:00:01.2";
    job.arrLines = QStringList{"Cannot open demuxer.", "Exiting..."};
    first.WriteJob(job);
    first.End("Run ended.");
    EXPECT_FALSE(first.IsOpen());
    EXPECT_EQ(QString::fromUtf8(MediaFactory::ReadFile(first.FilePath())),
              "Clipvane run started 2026-12-08 21:40:52\n"
              "\nJob 2 of 3\n"
              "  Input:   /in/b c.avi\n"
              "  Output:  /out/b c.avi\n"
              "  Command: \"/app/tools/mencoder\" -noodml \"/in/b c.avi\"\n"
              "  End:     failed: The encoder ended with exit code 1.\n"
              "  Time:    00:00:01.2\n"
              "  The encoder's last lines:\n"
              "    Cannot open demuxer.\n"
              "    Exiting...\n"
              "\nRun ended.\n");
}

} // namespace
