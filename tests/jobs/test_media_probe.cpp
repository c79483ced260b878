// The four probes against real files: movies generated with ffmpeg in the
// containers users add, hand-built AVI headers for the fallback reader, subtitle
// files beside movies, and files that cannot be read.
#include "jobs/MediaProbe.h"
#include "jobs/SubtitleFile.h"
#include "tests/jobs/AviBuilder.h"
#include "tests/support/MediaFactory.h"

#include <cmath>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

namespace {

using namespace AviBuilder;

struct ContainerCase
{
    const char* fileName;
    int width;
    int height;
    QStringList args;
};

// What a probe writes into a job record: picture width, height and seconds.
using Probed = std::tuple<int, int, int>;

Probed Probe(const QString& path, void (*probe)(const QString&, StreamFile&) = ProbeMovieFile,
             int startDuration = 0)
{
    StreamFile job;
    job.nDuration = startDuration;
    probe(path, job);
    return {job.nWidth, job.nHeight, job.nDuration};
}

// The same as ffprobe reports it, -1 for what it does not report.
Probed AskFfprobe(const QString& path)
{
    QProcess ffprobe;
    const QString args = QStringLiteral("-v error -select_streams v:0 -show_entries "
                                        "stream=width,height:format=duration "
                                        "-of default=noprint_wrappers=1");
    ffprobe.start(QStringLiteral("ffprobe"), args.split(QLatin1Char(' ')) << path);
    Probed answer(-1, -1, -1);
    if (!ffprobe.waitForFinished(30000))
        return answer;
    for (const QByteArray& line : ffprobe.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> pair = line.trimmed().split('=');
        if (pair.size() != 2)
            continue;
        if (pair[0] == "width")
            std::get<0>(answer) = pair[1].toInt();
        else if (pair[0] == "height")
            std::get<1>(answer) = pair[1].toInt();
        else if (pair[0] == "duration")
            std::get<2>(answer) = int(std::floor(pair[1].toDouble()));
    }
    return answer;
}

// A temporary folder with files written on demand, folders made as needed.
class TempFiles : public ::testing::Test
{
protected:
    QString Write(const QString& name, const QByteArray& bytes = "x")
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        EXPECT_TRUE(MediaFactory::WriteFile(path, bytes));
        return path;
    }

    QTemporaryDir m_dir;
};

const std::vector<ContainerCase>& Containers()
{
    static const std::vector<ContainerCase> cases = {
        {"program.mpg", 160, 120, {}},
        {"dvd.vob", 176, 144, {"-c:v", "mpeg2video", "-c:a", "mp2", "-f", "vob"}},
        {"matroska.mkv", 192, 108, {}},
        {"plain.avi", 160, 96, {}},
        {"windows.wmv", 160, 120, {"-c:v", "wmv2", "-c:a", "wmav2"}},
        {"stream.asf", 128, 96, {}},
        {"ogg.ogm", 160, 120, {"-c:v", "libtheora", "-c:a", "libvorbis", "-f", "ogg"}},
        {"mp4 in disguise.avi", 144, 112, {"-f", "mp4"}},
        // What phones and cameras record.
        {"phone.mp4", 176, 144, {"-c:v", "libx264", "-c:a", "aac"}},
        {"phone.mov", 192, 108, {"-c:v", "libx264", "-c:a", "aac"}},
        {"phone.m4v", 160, 96, {"-c:v", "libx264", "-c:a", "aac", "-f", "mp4"}},
        {"phone.3gp", 176, 144, {"-c:v", "h263", "-c:a", "aac", "-ar", "8000", "-ac", "1"}},
        {"camera.mts", 192, 108, {"-c:v", "libx264", "-c:a", "ac3", "-mpegts_m2ts_mode", "1"}},
        {"disc.m2ts", 160, 120, {"-c:v", "libx264", "-c:a", "ac3"}},
        {"broadcast.ts", 176, 144, {"-c:v", "mpeg2video", "-c:a", "mp2"}},
        {"web.webm", 160, 90, {"-c:v", "libvpx", "-c:a", "libvorbis"}},
    };
    return cases;
}

// The movies are made once and kept in a temporary folder shared by the test
// processes (ctest runs every case in a process of its own); each file appears
// there by an atomic rename, so parallel processes never see half a movie.
class MovieFiles : public TempFiles
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = QDir::tempPath() + QStringLiteral("/clipvane-jobs-media-v1-%1").arg(::getuid());
        if (!MediaFactory::HaveFfmpeg() || !QDir().mkpath(s_dir))
            return;
        for (const ContainerCase& c : Containers()) {
            const QString path = Movie(c.fileName);
            if (QFileInfo::exists(path))
                continue;
            MovieSpec spec;
            spec.width = c.width;
            spec.height = c.height;
            spec.seconds = 2.5;
            spec.outputArgs = c.args;
            // The part file keeps the real extension: ffmpeg picks the muxer by it.
            const QString part = QStringLiteral("%1/part-%2-%3")
                                     .arg(s_dir)
                                     .arg(QCoreApplication::applicationPid())
                                     .arg(QLatin1String(c.fileName));
            QString error;
            if (!MediaFactory::GenerateMovie(part, spec, &error) || !QFile::rename(part, path)) {
                QFile::remove(part);
                if (!QFileInfo::exists(path))
                    ADD_FAILURE() << c.fileName << ": " << error.toStdString();
            }
        }
    }
    void SetUp() override
    {
        if (!MediaFactory::HaveFfmpeg())
            GTEST_SKIP() << "ffmpeg is not installed";
    }

    static QString Movie(const char* name) { return s_dir + QLatin1Char('/') + name; }

    static QString s_dir;
};

QString MovieFiles::s_dir;

TEST_F(MovieFiles, EveryContainerGivesPictureSizeAndSecondsAsFfprobeDoes)
{
    for (const ContainerCase& c : Containers()) {
        SCOPED_TRACE(c.fileName);
        const QString path = Movie(c.fileName);
        const Probed expected = AskFfprobe(path);
        ASSERT_EQ(expected, Probed(c.width, c.height, 2)) << "ffprobe's answer";
        EXPECT_EQ(Probe(path), expected);
    }
}

// The start time is the container's (ffprobe's format start_time): MPEG program
// streams that ffmpeg writes start after 0.5 s, transport streams after about
// 1.4 s (later with AC-3 sound), the others at 0.
TEST_F(MovieFiles, TimingGivesTheStartTimeAndTheFrameRate)
{
    for (const ContainerCase& c : Containers()) {
        SCOPED_TRACE(c.fileName);
        const MovieTiming timing = ProbeMovieTiming(Movie(c.fileName));
        const QByteArray name(c.fileName);
        const double start = name.endsWith(".mpg") || name.endsWith(".vob") ? 0.529
                             : name.endsWith("ts")                          ? 1.4
                                                                            : 0.0;
        EXPECT_NEAR(timing.dStartSeconds, start, start > 1 ? 0.1 : 0.001);
        EXPECT_DOUBLE_EQ(timing.dFrameRate, 25.0);
    }
    const MovieTiming none = ProbeMovieTiming(Write(QStringLiteral("text.mpg"), "no movie"));
    EXPECT_EQ(none.dStartSeconds, 0.0);
    EXPECT_EQ(none.dFrameRate, 0.0);
}

TEST_F(MovieFiles, NamesThatLookLikeUrlsOrHoldOddCharactersAreLocalFiles)
{
    const QString source = Movie("matroska.mkv");
    const QStringList names = {
        QStringLiteral("http:movie.mkv"),
        QStringLiteral("concat:a.mkv|b.mkv"),
        QStringLiteral("with space 'quote' \"double\".mkv"),
        QStringLiteral("100% done.mkv"),
        QStringLiteral("영화 ムービー é.mkv"),
        QStringLiteral("-starts-with-dash.mkv"),
    };
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString path = m_dir.filePath(name);
        ASSERT_TRUE(QFile::copy(source, path));
        EXPECT_EQ(Probe(path), Probed(192, 108, 2));
        EXPECT_EQ(ProbeFileSize(path), std::uint64_t(QFileInfo(source).size()));
    }
}

TEST_F(MovieFiles, PathsLongerThanTheOldBufferAreProbed)
{
    QString folder = m_dir.path();
    while (folder.size() < 600)
        folder += QLatin1Char('/') + QString(60, QLatin1Char('d'));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QLatin1String("/movie.mpg");
    ASSERT_TRUE(QFile::copy(Movie("program.mpg"), path));
    ASSERT_GT(path.size(), 259);
    EXPECT_EQ(Probe(path), Probed(160, 120, 2));
}

using MediaProbe = TempFiles;

TEST_F(MediaProbe, LengthIn100NanosecondUnitsIsTruncatedToWholeSeconds)
{
    int seconds = -1;
    ASSERT_TRUE(DurationSecondsFrom100ns(59'999'999, seconds));
    EXPECT_EQ(seconds, 5);
    ASSERT_TRUE(DurationSecondsFrom100ns(60'000'000, seconds));
    EXPECT_EQ(seconds, 6);
    ASSERT_TRUE(DurationSecondsFrom100ns(0, seconds));
    EXPECT_EQ(seconds, 0);
    // 2^31 - 1 seconds is the longest length the record can hold.
    ASSERT_TRUE(DurationSecondsFrom100ns(std::int64_t(INT32_MAX) * 10'000'000, seconds));
    EXPECT_EQ(seconds, INT32_MAX);
    seconds = 7;
    EXPECT_FALSE(
        DurationSecondsFrom100ns(std::int64_t(INT32_MAX) * 10'000'000 + 10'000'000, seconds));
    EXPECT_FALSE(DurationSecondsFrom100ns(-1, seconds));
    EXPECT_EQ(seconds, 7);
}

// AVI files that libavformat cannot use: the picture size must come from the
// main header, the length from the first audio stream.
using AviFallback = TempFiles;

TEST_F(AviFallback, StreamWithoutPictureHeightTakesTheMainHeaderAndTheAudioLength)
{
    // The video stream's own format says 0x0; the main header says 320x240. The
    // audio stream ends at sample 28000 of 8000 per second: 3.5 s.
    const AudioStream audio{.length = 28000};
    EXPECT_EQ(Probe(Write("zero.avi", MakeAvi(320, 240, 0, 0, &audio))), Probed(320, 240, 3));
}

TEST_F(AviFallback, UnopenableVideoOnlyFileGetsItsSizeAndNoLength)
{
    // No "movi" list: libavformat refuses the file, its header is still sound.
    const QByteArray hdrl =
        Avih(320, 240, 50) + List("strl", Strh("vids", 1, 25, 0, 50) + VideoStrf(0, 0));
    EXPECT_EQ(Probe(Write("video-only.avi", Riff(List("hdrl", hdrl)))), Probed(320, 240, 0));
}

TEST_F(AviFallback, UnopenableFileWithAudioTakesTheAudioStreamsEnd)
{
    // The audio stream starts at sample 1000 and has 44100 * 3 samples of 1/44100 s.
    const QByteArray hdrl = Avih(640, 480) +
                            List("strl", Strh("vids", 1, 25, 0, 50) + VideoStrf(0, 0)) +
                            List("strl", Strh("auds", 1, 44100, 1000, 44100 * 3) + PcmStrf());
    EXPECT_EQ(Probe(Write("audio.avi", Riff(List("hdrl", hdrl))), ProbeAviFile),
              Probed(640, 480, 3));
}

TEST_F(AviFallback, AVideoStreamWithAPictureHeightNeedsNoFallback)
{
    // libavformat's answer (the stream's own 176x144) stands: the main header's
    // 320x240 is not used.
    const AudioStream audio{.length = 16000};
    const auto [width, height, seconds] =
        Probe(Write("sound.avi", MakeAvi(320, 240, 176, 144, &audio)));
    EXPECT_EQ(width, 176);
    EXPECT_EQ(height, 144);
    EXPECT_GT(seconds, 0);
}

TEST_F(AviFallback, HeaderListLongerThanTheFirstReadIsReadWhole)
{
    // 100 KiB of padding inside the header list before the audio stream.
    const QByteArray hdrl = Avih(720, 576) + Chunk("JUNK", QByteArray(100 * 1024, '\0')) +
                            List("strl", Strh("auds", 1, 1000, 0, 9500) + PcmStrf());
    EXPECT_EQ(Probe(Write("padded.avi", Riff(List("hdrl", hdrl))), ProbeAviFile),
              Probed(720, 576, 9));
}

TEST_F(AviFallback, FilesThatAreNotAviWriteNothing)
{
    const QByteArray avi = MakeAvi(320, 240, 0, 0, nullptr);
    const QList<QPair<QString, QByteArray>> files = {
        {QStringLiteral("empty.avi"), QByteArray()},
        {QStringLiteral("text.avi"), QByteArray("this is not a movie\n")},
        {QStringLiteral("wave.avi"), QByteArray("RIFF\x04\0\0\0WAVE", 12)},
        {QStringLiteral("cut.avi"), avi.left(40)},
        {QStringLiteral("noise.avi"), QByteArray(4096, '\xA5')},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(Probe(Write(name, bytes), ProbeMovieFile, 42), Probed(0, 0, 42));
    }
}

TEST_F(MediaProbe, WhatCannotBeOpenedIsLeftUnknownWithoutBlocking)
{
    const QString missing = m_dir.filePath(QStringLiteral("missing.avi"));
    const QString folder = m_dir.filePath(QStringLiteral("folder.avi"));
    const QString fifo = m_dir.filePath(QStringLiteral("pipe.avi"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    for (const QString& path : {missing, folder, fifo, QString()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(ProbeFileSize(path), StreamFile::UnknownSize);
        EXPECT_EQ(Probe(path), Probed(0, 0, 0));
    }
}

TEST_F(MediaProbe, FileSizeIsTheFull64BitSize)
{
    EXPECT_EQ(ProbeFileSize(Write(QStringLiteral("empty"), QByteArray())), 0u);

    // Sparse files: no disk space is used. 4 GiB - 1 must not be taken for the old
    // "invalid size" marker, and sizes above 4 GiB keep their high part.
    for (const qint64 size : {qint64(0xFFFFFFFF), qint64(5) << 30}) {
        const QString path = m_dir.filePath(QStringLiteral("big-%1").arg(size));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
        file.close();
        EXPECT_EQ(ProbeFileSize(path), std::uint64_t(size));
    }
}

TEST_F(MediaProbe, UnreadableFileHasUnknownSize)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files whatever their mode";
    const QString path = Write(QStringLiteral("locked.avi"), QByteArray(100, 'x'));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions()));
    EXPECT_EQ(ProbeFileSize(path), StreamFile::UnknownSize);
}

using SubtitleProbe = TempFiles;

TEST_F(SubtitleProbe, SmiIsFoundBeforeSubAndSubBeforeSrt)
{
    const QString movie = Write(QStringLiteral("movie.avi"));
    EXPECT_FALSE(ProbeSubtitle(movie));
    const QString srt = Write(QStringLiteral("movie.srt"));
    EXPECT_TRUE(ProbeSubtitle(movie));
    EXPECT_EQ(FindSubtitleFile(movie), srt);
    const QString sub = Write(QStringLiteral("movie.sub"));
    EXPECT_EQ(FindSubtitleFile(movie), sub);
    const QString smi = Write(QStringLiteral("movie.smi"));
    EXPECT_EQ(FindSubtitleFile(movie), smi);
}

TEST_F(SubtitleProbe, AFolderNamedLikeASubtitleDoesNotCount)
{
    const QString movie = Write(QStringLiteral("movie.avi"));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("movie.smi")));
    EXPECT_FALSE(ProbeSubtitle(movie));
    const QString sub = Write(QStringLiteral("movie.sub"));
    EXPECT_EQ(FindSubtitleFile(movie), sub);
}

TEST_F(SubtitleProbe, OnlyTheFileNamesOwnExtensionIsCut)
{
    // Beside the folder "my.clips": found only by cutting at the folder's dot.
    Write(QStringLiteral("my.smi"));
    const struct
    {
        const char* movie;
        const char* subtitle; // written beside the movie; nullptr: none
        const char* found;    // nullptr: nothing is found
    } cases[] = {
        {"my.clips/movie", nullptr, nullptr},
        {"my.clips/clip", "my.clips/clip.smi", "my.clips/clip.smi"},
        {"my.clips/film.v2.avi", "my.clips/film.v2.sub", "my.clips/film.v2.sub"},
        {"my.clips/film.v3.avi", "my.clips/film.smi", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.movie);
        const QString movie = Write(QLatin1String(c.movie));
        if (c.subtitle)
            Write(QLatin1String(c.subtitle));
        EXPECT_EQ(FindSubtitleFile(movie),
                  c.found ? m_dir.filePath(QLatin1String(c.found)) : QString());
        EXPECT_EQ(ProbeSubtitle(movie), c.found != nullptr);
    }
}

// Subtitles as people name them: any letter case of the extension, a language
// code or name before it, several at once (the system's language first, then
// one without a language, then by kind and name), movies with dots in their
// names; what is not a language ("final", "2") and folders do not count.
TEST_F(SubtitleProbe, NamesWithLanguagesAndLetterCasesAreFoundInOrder)
{
    const QLocale saved;
    const auto restore = qScopeGuard([&saved] { QLocale::setDefault(saved); });
    const struct
    {
        const char* system; // the system's language
        const char* movie;
        const char* beside; // "|"-separated; a trailing "/": a folder
        const char* found;  // nullptr: nothing
        const char* named;  // the language the found name carries, "": none
    } cases[] = {
        {"en", "Movie.mkv", "Movie.SRT", "Movie.SRT", ""},
        {"en", "Movie.mkv", "Movie.Smi|Movie.srt", "Movie.Smi", ""},
        {"en", "Movie.mkv", "Movie.en.srt", "Movie.en.srt", "en"},
        {"en", "Movie.mkv", "Movie.EN.Srt", "Movie.EN.Srt", "en"},
        {"en", "Movie.mkv", "Movie.kor.smi", "Movie.kor.smi", "ko"},
        {"en", "Movie.mkv", "Movie.ger.sub", "Movie.ger.sub", "de"},
        {"en", "Movie.mkv", "Movie.deu.srt", "Movie.deu.srt", "de"},
        {"en", "Movie.mkv", "Movie.Korean.srt", "Movie.Korean.srt", "ko"},
        {"en", "Movie.mkv", "Movie.english.srt", "Movie.english.srt", "en"},
        {"en", "Movie.mkv",
         "Movie.final.srt|Movie.2.srt|Movie.xq.srt|Movie.en.forced.srt|Movie.en.txt|Movies.srt|"
         "Movie 2.srt|movie.srt",
         nullptr, ""},
        {"en", "Movie.mkv", "Movie.smi|Movie.ko.srt|Movie.en.srt", "Movie.en.srt", "en"},
        {"ko", "Movie.mkv", "Movie.smi|Movie.ko.srt|Movie.en.srt", "Movie.ko.srt", "ko"},
        {"fr", "Movie.mkv", "Movie.srt|Movie.de.smi", "Movie.srt", ""},
        {"fr", "Movie.mkv", "Movie.ko.srt|Movie.ja.srt", "Movie.ja.srt", "ja"},
        {"fr", "Movie.mkv", "Movie.ja.srt|Movie.ko.smi", "Movie.ko.smi", "ko"},
        {"en", "My.Movie.2020.mkv", "My.Movie.srt|My.Movie.2020.en.srt", "My.Movie.2020.en.srt",
         "en"},
        {"en", "Movie.mkv", "Movie.en.srt/|Movie.ja.srt", "Movie.ja.srt", "ja"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString folder = QStringLiteral("case%1/").arg(++n);
        SCOPED_TRACE(folder.toStdString() + c.movie);
        QLocale::setDefault(QLocale(QLatin1String(c.system)));
        const QString movie = Write(folder + QLatin1String(c.movie));
        for (const QString& name : QString::fromUtf8(c.beside).split(u'|')) {
            if (name.endsWith(u'/')) {
                ASSERT_TRUE(QDir(m_dir.path()).mkpath(folder + name));
            } else {
                Write(folder + name);
            }
        }
        const QString found = c.found ? m_dir.filePath(folder + QLatin1String(c.found)) : QString();
        EXPECT_EQ(FindSubtitleFile(movie).toStdString(), found.toStdString());
        EXPECT_EQ(ProbeSubtitle(movie), c.found != nullptr);
        EXPECT_EQ(SubtitleNameLanguage(movie, found),
                  *c.named ? QLocale(QLatin1String(c.named)).language() : QLocale::AnyLanguage);
    }
}

TEST_F(MediaProbe, AviAsfAndTransportStreamFilesAreKnownByTheirContent)
{
    const QByteArray avi = QByteArray("RIFF\x04\0\0\0AVI ", 12);
    const QByteArray asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
    // Transport stream packets of 188 bytes, and of 192 with a time stamp first.
    const QByteArray ts = (QByteArray(1, '\x47') + QByteArray(187, '\x11')).repeated(4);
    const QByteArray m2ts = (QByteArray(4, '\x22') + "\x47" + QByteArray(187, '\x11')).repeated(4);
    enum Kind
    {
        Other,
        Avi,
        Asf,
        Ts
    };
    const struct
    {
        const char* name;
        QByteArray bytes;
        Kind kind;
    } cases[] = {
        {"named.avi", avi + QByteArray(100, '\0'), Avi},
        {"renamed.mpg", avi, Avi},
        {"mpeg.avi", QByteArray("\0\0\x01\xba", 4) + QByteArray(100, '\0'), Other},
        {"sound.avi", QByteArray("RIFF\x04\0\0\0WAVE", 12), Other},
        {"short.avi", avi.left(11), Other},
        {"empty.avi", QByteArray(), Other},
        {"named.wmv", asf + QByteArray(100, '\0'), Asf},
        {"renamed.avi", asf, Asf},
        {"short.wmv", asf.left(15), Other},
        {"broadcast.ts", ts, Ts},
        {"camera.mts", m2ts, Ts},
        // A recording cut in the middle of a packet.
        {"cut.ts", ts.mid(100) + ts, Ts},
        {"three packets.ts", ts.left(3 * 188) + QByteArray(200, '\x11'), Other},
        {"one sync lost.m2ts", m2ts.left(2 * 192 + 4) + "\x48" + m2ts.mid(2 * 192 + 5), Other},
        {"text.ts", QByteArray("msgid \"G\"\n").repeated(80), Other},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = Write(QLatin1String(c.name), c.bytes);
        EXPECT_EQ(IsAviFile(path), c.kind == Avi);
        EXPECT_EQ(IsAsfFile(path), c.kind == Asf);
        EXPECT_EQ(IsTransportStreamFile(path), c.kind == Ts);
    }
    // Nothing that is not a readable regular file counts, and a pipe does not block.
    EXPECT_FALSE(IsAviFile(m_dir.filePath(QStringLiteral("missing.avi"))));
    EXPECT_FALSE(IsAviFile(m_dir.path()));
    EXPECT_FALSE(IsAviFile(QString()));
    const QString fifo = m_dir.filePath(QStringLiteral("pipe.avi"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(IsAviFile(fifo));
    EXPECT_FALSE(IsAsfFile(fifo));
    EXPECT_FALSE(IsTransportStreamFile(fifo));
}

TEST_F(SubtitleProbe, OddCharactersInTheNameAreKept)
{
    const QString movie = Write(QStringLiteral("100% \"영화\" 'x'.avi"));
    const QString smi = Write(QStringLiteral("100% \"영화\" 'x'.smi"));
    EXPECT_EQ(FindSubtitleFile(movie), smi);
}

} // namespace
