// The run with the real encoder, started through a link with a name of this test
// process's own, on movies generated with ffmpeg.
#include "engine/EncodeSetting.h"
#include "engine/EncodingRun.h"
#include "jobs/MediaProbe.h"
#include "jobs/SubtitleFile.h"
#include "test_run_support.h"
#include "test_runner_support.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MovieInspector.h"
#include "tests/support/TestEnvironment.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <memory>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace {

using namespace MovieInspector;

// Processes of this user with the given image name.
int CountProcessesNamed(const QString& imageName)
{
    int count = 0;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(entry->d_name)));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == imageName.toUtf8())
                ++count;
        }
        ::closedir(proc);
    }
    return count;
}

class RealEncoderRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!MediaFactory::HaveFfmpeg())
            GTEST_SKIP() << "ffmpeg is missing";
        ASSERT_TRUE(QFileInfo(TestEnvironment::BinDir() + "/tools/mencoder").isExecutable())
            << "tools/mencoder is missing";
        ASSERT_TRUE(m_home.IsValid());
        ASSERT_TRUE(m_links.IsValid());
        m_outDir = m_home.FilePath("Encoded Movies");
        m_encoder = m_links.RealEncoderLink();
        m_imageName = QFileInfo(m_encoder).fileName();
        // One encoder at a time; the tests of several say so.
        m_plan = TestPlan(m_outDir, {m_encoder, m_imageName});
        m_run = std::make_unique<CEncodingRun>();
        m_run->SetEncoderImageName(m_imageName);
        m_form.Listen(*m_run);
        QObject::connect(m_run.get(), &CEncodingRun::RunEnded, [this] { ++m_ended; });
    }

    void TearDown() override { m_run.reset(); }

    // Generates a movie with sound and adds it to the list.
    void AddMovie(const QString& name, int width, int height, double seconds)
    {
        MovieSpec spec;
        spec.width = width;
        spec.height = height;
        spec.seconds = seconds;
        const QString path = m_home.FilePath(name);
        QString error;
        EXPECT_TRUE(MediaFactory::GenerateMovie(path, spec, &error)) << error.toStdString();
        AddProbedJob(path);
    }

    // Adds a file to the list with what the job list's probes learn about it.
    void AddProbedJob(const QString& path)
    {
        m_form.AddJob(path, ProbeFileSize(path), ProbeSubtitle(path));
        ProbeMovieFile(path, m_form.m_jobs.back());
    }

    // Encodes the whole list in one run; true when it ended in time.
    bool RunAll()
    {
        return m_form.Start(*m_run, m_plan) && PumpUntil([&] { return m_ended > 0; }, 240000);
    }

    // Generates a movie of every input kind (InputKinds, then an MPEG-4 AVI the
    // encoder wrote itself at its source's 25 frames per second: every kind of
    // the tests below) and returns
    // their file names; none is in the list yet.
    QStringList MakeInputKinds(MovieSpec spec)
    {
        QStringList names;
        QString error;
        for (const auto& kind : InputKinds) {
            spec.outputArgs = kind.args;
            EXPECT_TRUE(MediaFactory::GenerateMovie(m_home.FilePath(kind.name), spec, &error))
                << kind.name << ": " << error.toStdString();
            names << kind.name;
        }
        const QString source = m_home.FilePath("source.mpg");
        const QString written = QStringLiteral("written by the encoder.avi");
        spec.outputArgs.clear();
        EXPECT_TRUE(MediaFactory::GenerateMovie(source, spec, &error)) << error.toStdString();
        EXPECT_TRUE(MediaFactory::Run(m_encoder,
                                      {"-really-quiet", source, "-o", m_home.FilePath(written),
                                       "-ovc", "lavc", "-lavcopts", "vcodec=mpeg4", "-ffourcc",
                                       "XVID", "-oac", "mp3lame"},
                                      &error))
            << error.toStdString();
        return names << written;
    }

    QString OutputOf(const QString& movieName) const
    {
        return m_outDir + QLatin1Char('/') + QFileInfo(movieName).completeBaseName() +
               QStringLiteral(".avi");
    }

    ScopedTempHome m_home;
    FakeEncoder m_links;
    FakeForm m_form;
    RunPlan m_plan;
    QString m_outDir;
    QString m_encoder;
    QString m_imageName;
    std::unique_ptr<CEncodingRun> m_run;
    int m_ended = 0;
};

TEST_F(RealEncoderRunTest, ABatchOfTwoMoviesGivesTwoPlayableAviFiles)
{
    AddMovie("first clip.mpg", 160, 120, 2);
    AddMovie("second.mkv", 320, 180, 3);

    ASSERT_TRUE(m_form.Start(*m_run, m_plan));
    ASSERT_TRUE(PumpUntil([&] { return m_ended > 0; }, 120000));
    EXPECT_EQ(m_form.Statuses(), QStringList(2, "Finished"));
    EXPECT_EQ(m_form.m_messages, QStringList{"Encoding Finished !!"});
    EXPECT_EQ(m_form.LastProgress().totalPercent, 100);

    const Facts first = Inspect(m_outDir + "/first clip.avi");
    const Facts second = Inspect(m_outDir + "/second.avi");
    for (const Facts& facts : {first, second}) {
        EXPECT_TRUE(facts.opened);
        EXPECT_EQ(facts.format, "avi");
        EXPECT_TRUE(facts.HasVideo());
        EXPECT_TRUE(facts.HasAudio());
    }
    EXPECT_NEAR(first.videoSeconds, 2.0, 0.3);
    EXPECT_NEAR(second.videoSeconds, 3.0, 0.3);
    EXPECT_EQ(CountProcessesNamed(m_imageName), 0);
}

TEST_F(RealEncoderRunTest, ThreeMoviesOnTwoEncodersAtOnceGiveThreePlayableFiles)
{
    m_plan = TestPlan(m_outDir, {m_encoder, m_imageName}, QString(), 2);
    const std::pair<const char*, double> movies[] = {
        {"one.mpg", 8}, {"two \"quoted\" 100%.mkv", 6}, {"thr\xc3\xa9\x65.wmv", 4}};
    for (const auto& [name, seconds] : movies)
        AddMovie(QString::fromUtf8(name), 640, 480, seconds);

    ASSERT_TRUE(m_form.Start(*m_run, m_plan));
    ASSERT_EQ(m_run->SlotCount(), 2);
    int most = 0;
    ASSERT_TRUE(PumpUntil(
        [&] {
            most = std::max(most, CountProcessesNamed(m_imageName));
            return m_ended > 0;
        },
        240000));
    EXPECT_EQ(most, 2);
    EXPECT_EQ(m_form.Statuses(), QStringList(3, "Finished"));
    EXPECT_EQ(m_form.m_messages, QStringList{"Encoding Finished !!"});
    EXPECT_EQ(m_form.LastProgress().totalPercent, 100);
    for (const auto& [name, seconds] : movies) {
        SCOPED_TRACE(name);
        const QString output = OutputOf(QString::fromUtf8(name));
        const Facts facts = Inspect(output);
        ASSERT_TRUE(facts.opened);
        EXPECT_EQ(facts.width, 320);
        EXPECT_EQ(facts.height, 240);
        EXPECT_NEAR(facts.videoSeconds, seconds, 0.5);
        EXPECT_TRUE(facts.HasAudio());
        const Luma first = DecodeLuma(output, 0);
        const Luma later = DecodeLuma(output, int(seconds * 15) - 10);
        ASSERT_FALSE(first.IsEmpty() || later.IsEmpty());
        EXPECT_GT(DifferingPixels(first, later, 0, first.height), 100);
    }
    EXPECT_EQ(CountProcessesNamed(m_imageName), 0);
}

TEST_F(RealEncoderRunTest, StopEndsTheEncoderAtOnceAndLeavesAPlayableFile)
{
    AddMovie("long.mpg", 640, 480, 20);

    ASSERT_TRUE(m_form.Start(*m_run, m_plan));
    ASSERT_TRUE(PumpUntil([&] { return m_run->Percent(0) >= 1; }, 60000));
    ASSERT_TRUE(m_run->IsRunning()) << "the encode ended before it could be stopped";
    EXPECT_EQ(CountProcessesNamed(m_imageName), 1);

    m_form.m_answers = {false};
    QElapsedTimer timer;
    timer.start();
    m_run->Stop();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(CountProcessesNamed(m_imageName), 0);
    EXPECT_EQ(m_form.m_questions.size(), 1);
    // mencoder finalises the file on SIGTERM.
    const Facts facts = Inspect(m_outDir + "/long.avi");
    EXPECT_TRUE(facts.opened);
    EXPECT_TRUE(facts.HasVideo());
    EXPECT_LT(facts.videoSeconds, 20.0);
    PumpFor(200);
    EXPECT_EQ(m_form.Status(0), "Stopped");
    EXPECT_TRUE(m_form.m_messages.isEmpty());
}

// Each input kind people have, from its own generated file, through the preset
// and the whole run: a 320x240 movie at 15 frames per second that still moves,
// as long as its input and with sound. A 1 s clip of each kind passes the
// whole-movie check too.
TEST_F(RealEncoderRunTest, EveryInputKindGivesAMovingPresetMovie)
{
    constexpr double Seconds = 6.0;
    MovieSpec spec;
    spec.width = 320;
    spec.height = 240;
    spec.seconds = Seconds;
    const QStringList names = MakeInputKinds(spec);
    for (const QString& name : names)
        AddProbedJob(m_home.FilePath(name));
    MovieSpec clip;
    clip.seconds = 1;
    for (const InputKind& kind : InputKinds) {
        clip.outputArgs = kind.args;
        const QString path = m_home.FilePath(QStringLiteral("1 s ") + kind.name);
        ASSERT_TRUE(MediaFactory::GenerateMovie(path, clip)) << kind.name;
        AddProbedJob(path);
    }

    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_form.Statuses(), QStringList(int(m_form.m_jobs.size()), "Finished"));
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString output = OutputOf(name);
        const Facts facts = Inspect(output);
        ASSERT_TRUE(facts.opened);
        EXPECT_EQ(facts.width, 320);
        EXPECT_EQ(facts.height, 240);
        EXPECT_EQ(av_cmp_q(facts.frameRate, AVRational{15, 1}), 0)
            << facts.frameRate.num << "/" << facts.frameRate.den;
        EXPECT_NEAR(facts.videoSeconds, Seconds, 0.5);
        EXPECT_TRUE(facts.HasAudio());
        // Pictures one and four seconds apart differ: the movie is not frozen.
        const Luma at1 = DecodeLuma(output, 15);
        const Luma at2 = DecodeLuma(output, 30);
        const Luma at5 = DecodeLuma(output, 75);
        if (at1.IsEmpty() || at2.IsEmpty() || at5.IsEmpty()) {
            ADD_FAILURE() << "fewer than 76 pictures decoded";
            continue;
        }
        EXPECT_GT(DifferingPixels(at1, at2, 0, at1.height), 100);
        EXPECT_GT(DifferingPixels(at1, at5, 0, at1.height), 100);
    }
}

// Subtitles beside movies, through the whole run: each cue is drawn once, by the
// encoder alone, inside the picture, from its start to its end time, on every
// input kind. Compared with the same movie encoded without a subtitle, a picture
// during a cue differs in one band of rows (one line of text), not in two, and
// not below the picture; a picture a little before or after a cue (away from
// the boundaries, where a cue may come one output frame early or late) does not
// differ. Movies whose timestamps start late (program streams, VOBs), WMV, and
// cues at 0 on inputs with B-frames are the cases the encoder alone gets wrong.
TEST_F(RealEncoderRunTest, EveryCueShowsFromItsStartToItsEndOnEveryInputKind)
{
    struct Sample
    {
        double seconds;
        bool text;
    };
    const std::vector<Sample> threeToSeven = {
        {2.8, false}, {3.2, true}, {5.0, true}, {6.8, true}, {7.2, false}};
    const std::vector<Sample> zeroAndThreeToSeven = {
        {1.0, true}, {2.4, false}, {3.2, true}, {6.8, true}, {7.2, false}};
    const QStringList withBFrames = {"matroska h264.mkv", "mpeg4 with b-frames.avi"};
    const struct
    {
        const char* name;
        const char* extension;
        QByteArray text;
        QStringList kinds; // empty: every kind
        std::vector<Sample> samples;
    } subtitles[] = {
        {"sami",
         ".smi",
         "<SAMI>\r\n<BODY>\r\n<SYNC Start=3000><P Class=ENCC>Hello there\r\n"
         "<SYNC Start=7000><P Class=ENCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n",
         {},
         threeToSeven},
        {"microdvd",
         ".sub",
         "{0}{50}At zero\r\n{75}{175}Hello there\r\n",
         {"mpeg4 with b-frames.avi", "dvd.vob"},
         zeroAndThreeToSeven},
        {"subrip",
         ".srt",
         "1\r\n00:00:00,000 --> 00:00:02,000\r\nAt zero\r\n\r\n"
         "2\r\n00:00:03,000 --> 00:00:07,000\r\nHello there\r\n",
         {"matroska h264.mkv", "program stream.mpg"},
         zeroAndThreeToSeven},
        {"sami at zero",
         ".smi",
         "<SAMI>\r\n<BODY>\r\n<SYNC Start=0><P Class=ENCC>Caf\xe9 at zero\r\n"
         "<SYNC Start=1400><P Class=ENCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n",
         withBFrames,
         {{0.8, true}}},
        {"sami later",
         ".smi",
         "<SAMI>\r\n<HEAD>\r\n<TITLE>Clip</TITLE>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
         "P { margin-left:8pt; margin-right:8pt; font-size:20pt; }\r\n"
         ".ENCC { Name:English; lang:en-US; }\r\n-->\r\n</STYLE>\r\n</HEAD>\r\n<BODY>\r\n"
         "<SYNC Start=1500><P Class=ENCC>Premi\xe8re r\xe9plique\r\n"
         "<SYNC Start=2700><P Class=ENCC>&nbsp;\r\n"
         "<SYNC Start=3000><P Class=ENCC>Deuxi\xe8me r\xe9plique\r\n"
         "<SYNC Start=4300><P Class=ENCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n",
         withBFrames,
         {{2.1, true}, {3.65, true}}},
        {"microdvd later",
         ".sub",
         "{38}{68}First line\r\n{75}{108}Second line\r\n",
         withBFrames,
         {{2.1, true}, {3.65, true}}},
    };
    MovieSpec spec;
    spec.width = 320;
    spec.height = 240;
    spec.seconds = 8.0;
    spec.source = QStringLiteral("smptebars");
    const QStringList kinds = MakeInputKinds(spec);
    // One name per input kind and subtitle, so that no two outputs meet.
    const auto Named = [](const QString& kind, const char* subtitle) {
        const QFileInfo info(kind);
        return info.completeBaseName() + QLatin1Char(' ') + QLatin1String(subtitle) +
               QLatin1Char('.') + info.suffix();
    };
    for (const QString& kind : kinds) {
        AddProbedJob(m_home.FilePath(kind));
        for (const auto& subtitle : subtitles) {
            if (!subtitle.kinds.isEmpty() && !subtitle.kinds.contains(kind))
                continue;
            const QString movie = m_home.FilePath(Named(kind, subtitle.name));
            ASSERT_TRUE(QFile::copy(m_home.FilePath(kind), movie));
            ASSERT_TRUE(MediaFactory::WriteFile(QFileInfo(movie).path() + QLatin1Char('/') +
                                                    QFileInfo(movie).completeBaseName() +
                                                    QLatin1String(subtitle.extension),
                                                subtitle.text));
            AddProbedJob(movie);
            ASSERT_TRUE(m_form.m_jobs.back().bHasSubtitle);
        }
    }

    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_form.Statuses(), QStringList(int(m_form.m_jobs.size()), "Finished"));
    for (const QString& kind : kinds) {
        const QString plain = OutputOf(kind);
        for (const auto& subtitle : subtitles) {
            if (!subtitle.kinds.isEmpty() && !subtitle.kinds.contains(kind))
                continue;
            const QString output = OutputOf(Named(kind, subtitle.name));
            for (const Sample& sample : subtitle.samples) {
                SCOPED_TRACE(::testing::Message() << subtitle.name << " on " << kind.toStdString()
                                                  << " at " << sample.seconds << " s");
                const int frame = int(sample.seconds * 15);
                const Luma without = DecodeLuma(plain, frame);
                const Luma with = DecodeLuma(output, frame);
                ASSERT_FALSE(without.IsEmpty() || with.IsEmpty());
                const std::vector<RowBand> bands = DifferingBands(with, without);
                EXPECT_EQ(bands.size(), sample.text ? 1u : 0u) << Describe(bands).toStdString();
                // The picture is 320x180 between black bands; the text lies in it.
                if (!bands.empty()) {
                    EXPECT_GE(bands.front().first, 30);
                    EXPECT_LT(bands.back().last, 210);
                }
            }
        }
    }
}

} // namespace
