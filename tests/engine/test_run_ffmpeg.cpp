// The presets of today's devices through the run with the real ffmpeg, started
// through a link with a name of this test process's own, on movies generated
// with ffmpeg; every output is checked by decoding it.
#include "engine/EncodingRun.h"
#include "engine/FfmpegCommand.h"
#include "engine/Presets.h"
#include "jobs/MediaProbe.h"
#include "jobs/SubtitleFile.h"
#include "test_run_support.h"
#include "test_runner_support.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MovieInspector.h"
#include "tests/support/TestEnvironment.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavutil/macros.h>
}

namespace {

using namespace MovieInspector;

class FfmpegRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!MediaFactory::HaveFfmpeg())
            GTEST_SKIP() << "ffmpeg is missing";
        ASSERT_TRUE(QFileInfo(TestEnvironment::BinDir() + "/tools/ffmpeg").isExecutable())
            << "tools/ffmpeg is missing";
        ASSERT_TRUE(m_home.IsValid() && m_links.IsValid());
        m_outDir = m_home.FilePath("out");
        m_ffmpeg = m_links.RealEncoderLink(QStringLiteral("f"), QStringLiteral("ffmpeg"));
        m_tools[EncodeProfile::Backend::Ffmpeg] = {m_ffmpeg, QFileInfo(m_ffmpeg).fileName()};
        m_run = std::make_unique<CEncodingRun>();
        m_form.Listen(*m_run);
        QObject::connect(m_run.get(), &CEncodingRun::RunEnded, [this] { ++m_ended; });
    }
    void TearDown() override { m_run.reset(); }

    void ChoosePreset(const QString& name) { m_preset = name; }
    // The plan of the preset chosen, with the switches below.
    RunPlan Plan(bool sampling) const
    {
        RunPlan plan = TestPlan(m_outDir, {}, m_preset, m_parallel);
        plan.tools = m_tools;
        plan.profile.bEvenLoudness = plan.profile.bEvenLoudness && m_bEvenLoudness;
        plan.bBurnSubtitle = m_bBurnSubtitle;
        plan.bSampling = sampling;
        return plan;
    }

    QString Movie(const QString& name, const MovieSpec& spec)
    {
        const QString path = m_home.FilePath(name);
        QString error;
        EXPECT_TRUE(MediaFactory::GenerateMovie(path, spec, &error)) << error.toStdString();
        return path;
    }
    void AddJob(const QString& path)
    {
        m_form.AddJob(path, ProbeFileSize(path), ProbeSubtitle(path));
        ProbeMovieFile(path, m_form.m_jobs.back());
    }
    bool RunAll(bool sampling = false)
    {
        const int ended = m_ended;
        return m_form.Start(*m_run, Plan(sampling)) &&
               PumpUntil([&] { return m_ended > ended; }, 240000);
    }
    QString OutputOf(const QString& name, const QString& extension) const
    {
        return m_outDir + '/' + QFileInfo(name).completeBaseName() + extension;
    }

    ScopedTempHome m_home;
    FakeEncoder m_links;
    FakeForm m_form;
    QString m_outDir;
    QString m_ffmpeg;
    // The encoders: the installed ones, ffmpeg through a link of this test's
    // own.
    EncoderTools m_tools = Backends::InstalledTools();
    QString m_preset;
    bool m_bEvenLoudness = true;
    bool m_bBurnSubtitle = true;
    int m_parallel = 1;
    std::unique_ptr<CEncodingRun> m_run;
    int m_ended = 0;
};

TEST_F(FfmpegRunTest, EachPresetMakesTheMovieItPromises)
{
    const unsigned hvc1 = MKTAG('h', 'v', 'c', '1');
    const struct
    {
        const char* preset;
        const char* input;
        int width, height;
        QStringList args; // how the input is written
        const char* format;
        AVCodecID video;
        AVCodecID audio;
        int outWidth, outHeight;
    } cases[] = {
        {"Phone and Tablet",
         "hd.mkv",
         1920,
         1080,
         {},
         "mov,mp4,m4a,3gp,3g2,mj2",
         AV_CODEC_ID_H264,
         AV_CODEC_ID_AAC,
         1280,
         720},
        // An old camera's 4:3 movie is not enlarged.
        {"Phone and Tablet",
         "camera.avi",
         640,
         480,
         {"-c:v", "mjpeg", "-c:a", "pcm_s16le"},
         "mov,mp4,m4a,3gp,3g2,mj2",
         AV_CODEC_ID_H264,
         AV_CODEC_ID_AAC,
         640,
         480},
        // A 16:9 DVD's pixels are wide: 720x576 shows as 1024x576.
        {"Full HD",
         "dvd.vob",
         720,
         576,
         {"-c:v", "mpeg2video", "-aspect", "16:9", "-c:a", "mp2", "-f", "vob"},
         "mov,mp4,m4a,3gp,3g2,mj2",
         AV_CODEC_ID_H264,
         AV_CODEC_ID_AAC,
         1024,
         576},
        // Anamorphic HD: 1440x1080 shows as 1920x1080.
        {"Small H.265",
         "anamorphic.mp4",
         1440,
         1080,
         {"-c:v", "libx264", "-aspect", "16:9"},
         "mov,mp4,m4a,3gp,3g2,mj2",
         AV_CODEC_ID_HEVC,
         AV_CODEC_ID_AAC,
         1920,
         1080},
        {"Smallest AV1",
         "phone.mov",
         640,
         360,
         {"-c:v", "libx264", "-c:a", "aac"},
         "matroska,webm",
         AV_CODEC_ID_AV1,
         AV_CODEC_ID_OPUS,
         640,
         360},
        {"Share (25 MB)",
         "clip.wmv",
         1280,
         720,
         {"-c:v", "wmv2", "-c:a", "wmav2"},
         "mov,mp4,m4a,3gp,3g2,mj2",
         AV_CODEC_ID_H264,
         AV_CODEC_ID_AAC,
         1280,
         720},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.preset) + " " + c.input);
        ChoosePreset(c.preset);
        MovieSpec spec;
        spec.width = c.width;
        spec.height = c.height;
        spec.seconds = 3;
        spec.outputArgs = c.args;
        m_form.m_jobs.clear();
        AddJob(Movie(c.input, spec));
        ASSERT_TRUE(RunAll());
        EXPECT_EQ(m_form.Statuses(), QStringList{"Finished"}) << m_form.m_reasons[0].toStdString();

        const EncodeProfile& profile = *Presets::Find(c.preset);
        const QString output = OutputOf(c.input, profile.Extension());
        const Facts facts = Inspect(output);
        ASSERT_TRUE(facts.opened) << output.toStdString();
        EXPECT_EQ(facts.format, c.format);
        EXPECT_EQ(facts.videoCodec, c.video);
        EXPECT_EQ(facts.audioCodec, c.audio);
        EXPECT_EQ(facts.sampleRate, 48000);
        EXPECT_EQ(facts.audioChannels, 2);
        EXPECT_EQ(facts.width, c.outWidth);
        EXPECT_EQ(facts.height, c.outHeight);
        EXPECT_TRUE(facts.sampleAspect.num == facts.sampleAspect.den || facts.sampleAspect.num == 0)
            << facts.sampleAspect.num << ':' << facts.sampleAspect.den;
        EXPECT_NEAR(ProbeMovieContent(output).dSeconds, 3.0, 0.2);
        EXPECT_FALSE(DecodeLuma(output, 70).IsEmpty());
        if (profile.container == EncodeProfile::Container::Mp4) {
            EXPECT_TRUE(IndexBeforeData(output));
        }
        if (c.video == AV_CODEC_ID_HEVC) {
            EXPECT_EQ(facts.videoTag, hvc1);
        }
        if (profile.ullSizeBudget > 0) {
            EXPECT_LE(QFileInfo(output).size(), qint64(profile.ullSizeBudget));
        }
    }
}

TEST_F(FfmpegRunTest, LoudnessIsEvenedUnlessSwitchedOffAndSilentMoviesEncode)
{
    ChoosePreset("Phone and Tablet");
    MovieSpec spec;
    spec.seconds = 6;
    // The generated tone measures about -21 LUFS.
    const QString quiet = Movie("quiet.mkv", spec);
    const double before = IntegratedLoudness(quiet);
    ASSERT_LT(before, -19.0);
    spec.audio = false;
    const QString silent = Movie("silent.mkv", spec);
    AddJob(quiet);
    AddJob(silent);
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_form.Statuses(), QStringList({"Finished", "Finished"}));
    EXPECT_NEAR(IntegratedLoudness(OutputOf("quiet.mkv", ".mp4")), -16.0, 1.0);
    EXPECT_FALSE(Inspect(OutputOf("silent.mkv", ".mp4")).HasAudio());

    m_bEvenLoudness = false;
    m_form.m_jobs.pop_back();
    ASSERT_TRUE(RunAll());
    EXPECT_NEAR(IntegratedLoudness(OutputOf("quiet.mkv", ".mp4")), before, 1.0);
}

TEST_F(FfmpegRunTest, StopEndsFfmpegWithAPlayableFileAndFailuresSayWhy)
{
    ChoosePreset("Phone and Tablet");
    MovieSpec spec;
    spec.width = 1280;
    spec.height = 720;
    spec.seconds = 60;
    AddJob(Movie("long.mkv", spec));
    ASSERT_TRUE(m_form.Start(*m_run, Plan(false)));
    ASSERT_TRUE(PumpUntil([&] { return m_run->Percent(0) > 0; }, 60000));
    m_form.m_answers.push_back(false); // keep the incomplete file
    m_run->Stop();
    EXPECT_EQ(m_form.Statuses(), QStringList{"Stopped"});
    ASSERT_EQ(m_form.m_questions.size(), 1);
    const Facts kept = Inspect(OutputOf("long.mkv", ".mp4"));
    EXPECT_TRUE(kept.opened && kept.HasVideo());
    EXPECT_FALSE(DecodeLuma(OutputOf("long.mkv", ".mp4"), 0).IsEmpty());

    // A damaged movie and a movie gone since it was added fail with the cause in
    // plain words; the batch goes on to the good one.
    m_form.m_jobs.clear();
    const QString damaged = m_home.FilePath("damaged.mp4");
    spec.seconds = 2;
    spec.width = 320;
    spec.height = 240;
    ASSERT_TRUE(MediaFactory::WriteFile(
        damaged, MediaFactory::ReadFile(Movie("whole.mp4", spec)).left(4096)));
    AddJob(damaged);
    AddJob(Movie("gone.mkv", spec));
    AddJob(Movie("good.mkv", spec));
    ASSERT_TRUE(QFile::remove(m_home.FilePath("gone.mkv")));
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_form.Statuses(), QStringList({"Failed", "Failed", "Finished"}));
    EXPECT_TRUE(m_form.m_reasons[0].startsWith(
        "The movie cannot be read: it is damaged or of an unknown kind.\n"))
        << m_form.m_reasons[0].toStdString();
    EXPECT_TRUE(m_form.m_reasons[1].startsWith("The movie file is gone."))
        << m_form.m_reasons[1].toStdString();

    // Without ffmpeg the job fails as it does without mencoder.
    m_form.m_jobs.clear();
    AddJob(m_home.FilePath("good.mkv"));
    m_tools[EncodeProfile::Backend::Ffmpeg] = {m_home.FilePath("no-ffmpeg"), "cvnoff"};
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(m_form.Statuses(), QStringList{"Failed"});
    EXPECT_TRUE(m_form.m_reasons[0].startsWith("The encoder could not be started.\n"));
}

TEST_F(FfmpegRunTest, ABudgetHoldsOnNoiseAndATooLongMovieIsRefused)
{
    // Noise does not compress: the encoder must aim, and check, to stay within
    // the budget. Share's budget over 8 s of noise is the same task as its 25 MB
    // over some 200 s; the budget is made smaller to keep the test short.
    EncodeProfile share = *Presets::Find("Share (25 MB)");
    share.ullSizeBudget = 2500000;
    ChoosePreset("Share (25 MB)");
    RunPlan plan = Plan(false);
    plan.profile = share;
    MovieSpec noise;
    noise.width = 640;
    noise.height = 360;
    noise.seconds = 8;
    noise.source = QStringLiteral("nullsrc");
    noise.outputArgs = {"-vf", "noise=alls=100:allf=t", "-c:v", "libx264", "-crf", "0"};
    AddJob(Movie("noise.mkv", noise));
    // The sound alone of an hour-long movie at its rate leaves no room.
    MovieSpec tiny;
    tiny.width = 64;
    tiny.height = 64;
    tiny.fps = 1;
    tiny.seconds = 3600;
    tiny.audio = false;
    AddJob(Movie("hour.mkv", tiny));
    const int ended = m_ended;
    ASSERT_TRUE(m_form.Start(*m_run, plan));
    ASSERT_TRUE(PumpUntil([&] { return m_ended > ended; }, 240000));
    EXPECT_EQ(m_form.Statuses(), QStringList({"Finished", "Failed"}))
        << m_form.m_reasons[0].toStdString();
    const qint64 bytes = QFileInfo(OutputOf("noise.mkv", ".mp4")).size();
    EXPECT_LE(bytes, qint64(share.ullSizeBudget));
    EXPECT_GE(bytes, qint64(share.ullSizeBudget * 0.8));
    EXPECT_NEAR(ProbeMovieContent(OutputOf("noise.mkv", ".mp4")).dSeconds, 8.0, 0.2);
    EXPECT_TRUE(m_form.m_reasons[1].startsWith("The movie is too long for 2.5 MB."))
        << m_form.m_reasons[1].toStdString();
}

// Phones' movies: a picture turned by its display matrix (a quarter, half and
// three quarters, mirrored) or coded upright comes out upright, in a box that
// turns with it, with no matrix left; the job list's Dimensions are the
// picture as shown. Each picture holds a wide white mark above and left of its
// centre: a turn or flip left over moves it to another quarter or stands it
// up. The handhelds' preset (mencoder, which ignores the matrix) sets it
// upright too and keeps its frame.
TEST_F(FfmpegRunTest, TurnedMoviesComeOutUprightInABoxThatTurnsWithThem)
{
    const QString mencoder = m_links.RealEncoderLink();
    m_tools[EncodeProfile::Backend::Mencoder] = {mencoder, QFileInfo(mencoder).fileName()};
    m_bEvenLoudness = false;
    const struct
    {
        const char* preset;
        const char* name;
        int width, height;  // as shown
        const char* stored; // the filters that store it turned
        int rotation;
        bool mirrored;
        int outWidth, outHeight;
    } rows[] = {
        {"Phone and Tablet", "phone.mov", 1080, 1920, "transpose=cclock", 90, false, 720, 1280},
        {"Full HD", "270.mp4", 180, 320, "transpose=clock", 270, false, 180, 320},
        {"Phone and Tablet", "180.mp4", 320, 180, "hflip,vflip", 180, false, 320, 180},
        {"Full HD", "mirrored.mp4", 320, 180, "hflip", 0, true, 320, 180},
        {"Phone and Tablet", "mirrored 90.mp4", 180, 320, "transpose=cclock,hflip", 90, true, 180,
         320},
        {"Phone and Tablet", "coded.mp4", 180, 320, "null", 0, false, 180, 320},
        {"Pocket PC Normal", "handheld.mp4", 180, 320, "transpose=clock,hflip", 270, true, 320,
         240},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ChoosePreset(row.preset);
        const int side = std::min(row.width, row.height);
        const QString mark = QStringLiteral("drawbox=x=%1:y=%2:w=%3:h=%4:c=white:t=fill,")
                                 .arg(int(0.3 * row.width - 0.2 * side))
                                 .arg(int(0.42 * row.height - 0.1 * side))
                                 .arg(int(0.4 * side))
                                 .arg(int(0.2 * side));
        MovieSpec spec;
        spec.width = row.width;
        spec.height = row.height;
        spec.seconds = 1;
        spec.source = QStringLiteral("color");
        spec.outputArgs = {"-vf", mark + row.stored, "-c:v", "libx264", "-c:a", "aac"};
        const QString movie = Movie(row.name, spec);
        if (row.rotation != 0 || row.mirrored) {
            ASSERT_TRUE(MediaFactory::SetDisplayMatrix(movie, row.rotation, row.mirrored));
        }
        m_form.m_jobs.clear();
        AddJob(movie);
        EXPECT_EQ(m_form.m_jobs[0].nWidth, row.width);
        EXPECT_EQ(m_form.m_jobs[0].nHeight, row.height);
        ASSERT_TRUE(RunAll());
        ASSERT_EQ(m_form.Statuses(), QStringList{"Finished"}) << m_form.m_reasons[0].toStdString();

        const QString output = OutputOf(row.name, Presets::Find(row.preset)->Extension());
        const Facts facts = Inspect(output);
        EXPECT_EQ(facts.width, row.outWidth);
        EXPECT_EQ(facts.height, row.outHeight);
        const MovieTiming made = ProbeMovieTiming(output);
        EXPECT_EQ(made.nRotation, 0);
        EXPECT_FALSE(made.bMirrored);
        const Box box = BrightBox(DecodeLuma(output, 5));
        EXPECT_LT(2 * box.left + box.width, facts.width);
        EXPECT_LT(2 * box.top + box.height, facts.height);
        EXPECT_GT(box.width, 3 * box.height / 2) << box.width << 'x' << box.height;
    }
}

// When the probe cannot tell the size (a file still being written), the scale
// filter fits the decoded picture as the probe's size would have been fitted.
TEST_F(FfmpegRunTest, AnUnknownSizeIsFittedByTheFilterAsAKnownOneIs)
{
    // Width, height and the pixels' shape.
    const int sizes[][4] = {{1920, 1080, 1, 1}, {1080, 1920, 1, 1}, {886, 1918, 1, 1},
                            {320, 180, 1, 1},   {720, 576, 64, 45}, {641, 361, 1, 1}};
    FfmpegCommand::Request request;
    for (const auto& [width, height, sarNum, sarDen] : sizes) {
        for (const char* preset : {"Phone and Tablet", "Full HD"}) {
            request.profile = *Presets::Find(preset);
            MovieTiming known;
            std::tie(known.nWidth, known.nHeight, known.nPixelAspectNum, known.nPixelAspectDen) =
                std::tie(width, height, sarNum, sarDen);
            const QString output = m_home.FilePath("fitted.nut");
            ASSERT_TRUE(MediaFactory::Run(
                "ffmpeg", {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                           QStringLiteral("color=size=%1x%2,setsar=%3/%4")
                               .arg(width)
                               .arg(height)
                               .arg(sarNum)
                               .arg(sarDen),
                           "-frames:v", "1", "-vf", FfmpegCommand::VideoFilters(request), output}));
            const Facts facts = Inspect(output);
            EXPECT_EQ(
                (FfmpegCommand::PictureSize{facts.width, facts.height}),
                FfmpegCommand::FitWithin(known, request.profile.nWidth, request.profile.nHeight))
                << preset << ' ' << width << 'x' << height;
        }
    }
}

// A phone's variable-rate movie (its guessed rate 120, its average 28.9) is
// made constant at 29.97 with its pictures and sound in step; of several sound
// tracks the default one ffmpeg can decode is taken (not the first one, which
// it cannot, nor the first it can); a movie whose only sound cannot be decoded
// is made without sound, and a camera's timecode track breaks nothing.
TEST_F(FfmpegRunTest, PhonesRatesAndTracksAreTakenAsTheyPlay)
{
    ChoosePreset("Phone and Tablet");
    m_bEvenLoudness = false;
    // A flash of white and a beep at 1 s; pictures 4 and 5 ticks of 1/120 s
    // apart after it.
    MovieSpec variable;
    variable.fps = 120;
    variable.source = QStringLiteral("color");
    variable.outputArgs =
        QStringLiteral("-vf drawbox=c=white:t=fill:enable='between(t,1,1.2)',"
                       "select='if(lt(n,120),not(mod(n,4)),not(mod(n-120,9))+eq(mod(n-120,9),4))' "
                       "-af aeval='val(0)*between(t,1,1.2)':c=same -fps_mode vfr "
                       "-c:v libx264 -c:a aac")
            .split(' ');
    const QString vfr = Movie("variable.mp4", variable);
    ASSERT_TRUE(ProbeMovieTiming(vfr).bVariableRate);
    // Sound tracks: the first (to be undecodable) and the third default, the
    // second much quieter than the third.
    QString error;
    const QString tracks = m_home.FilePath("tracks.mp4");
    const QStringList args =
        QStringLiteral("-loglevel error -y -f lavfi -i color=size=160x120 -f lavfi -i sine "
                       "-f lavfi -i sine -f lavfi -i sine -t 2 -map 0 -map 1 -map 2 -map 3 "
                       "-filter:a:1 volume=0.1 -disposition:a:0 default -disposition:a:1 0 "
                       "-disposition:a:2 default -c:v libx264 -c:a aac")
            .split(' ');
    ASSERT_TRUE(MediaFactory::Run("ffmpeg", args + QStringList{tracks}, &error))
        << error.toStdString();
    ASSERT_TRUE(MediaFactory::MakeFirstSoundUndecodable(tracks));
    MovieSpec plain;
    plain.outputArgs = {"-c:v", "libx264", "-c:a", "aac"};
    const QString mute = Movie("spatial only.mp4", plain);
    ASSERT_TRUE(MediaFactory::MakeFirstSoundUndecodable(mute));
    plain.outputArgs << "-timecode"
                     << "01:02:03:04";
    AddJob(vfr);
    AddJob(tracks);
    AddJob(mute);
    AddJob(Movie("camera.mov", plain));
    ASSERT_TRUE(RunAll());
    ASSERT_EQ(m_form.Statuses(), QStringList(4, "Finished")) << m_form.m_reasons[0].toStdString();

    // Constant at 29.97 for its 2 s; the flash on the picture of the beep.
    const QString made = OutputOf("variable.mp4", ".mp4");
    EXPECT_NEAR(av_q2d(Inspect(made).frameRate), 30000 / 1001.0, 0.01);
    EXPECT_NEAR(ProbeMovieContent(made).dSeconds, 2.0, 0.2);
    int flash = 0;
    while (BrightBox(DecodeLuma(made, flash)).width < variable.width && flash < 60)
        ++flash;
    EXPECT_NEAR(flash * 1001 / 30000.0, SoundStart(made), 1001 / 30000.0);

    EXPECT_GT(IntegratedLoudness(OutputOf("tracks.mp4", ".mp4")), -26.0);
    EXPECT_FALSE(Inspect(OutputOf("spatial only.mp4", ".mp4")).HasAudio());
    EXPECT_NEAR(ProbeMovieContent(OutputOf("spatial only.mp4", ".mp4")).dSeconds, 2.0, 0.2);
    EXPECT_TRUE(Inspect(OutputOf("camera.mov", ".mp4")).HasAudio());
}

} // namespace

namespace {

// Writes a subtitle beside a copy of a movie, named "<movie> <label>", and
// returns the copy's path.
QString CopyWithSubtitle(const QString& movie, const QString& label, const char* extension,
                         const QByteArray& text)
{
    const QFileInfo info(movie);
    const QString base = info.path() + '/' + info.completeBaseName() + ' ' + label;
    const QString copy = base + '.' + info.suffix();
    EXPECT_TRUE(QFile::copy(movie, copy));
    EXPECT_TRUE(MediaFactory::WriteFile(base + QLatin1String(extension), text));
    return copy;
}

// The picture at a time of a movie that keeps its frame rate.
Luma PictureAt(const QString& path, double seconds)
{
    const Facts facts = Inspect(path);
    return DecodeLuma(path, int(std::lround(seconds * av_q2d(facts.frameRate))));
}

} // namespace

// Subtitles beside movies of every input kind, burnt in by ffmpeg through the
// whole run: each cue shows from its start to its end and in no picture
// outside, within a frame either way. Compared with the same movie encoded
// without a subtitle, a picture during a cue differs in one band of rows (one
// line of text) inside the picture; one two frames before or after it does not
// differ. ffmpeg starts each movie at 0 whatever its timestamps (VOBs and
// transport streams start late, WMV has its preroll), so no cue is delayed, and
// a cue at 0 shows on the first picture. A 1 s clip of each kind passes the
// whole-movie check too.
TEST_F(FfmpegRunTest, EveryCueShowsDuringItsTimeOnEveryInputKind)
{
    const std::pair<double, double> cues[] = {{0.0, 1.2}, {2.0, 3.0}, {3.6, 5.0}};
    const QByteArray sami =
        "<SAMI>\r\n<HEAD>\r\n<TITLE>Clip</TITLE>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
        "P { margin-left:8pt; font-size:20pt; }\r\n.ENCC { Name:English; lang:en-US; }\r\n"
        "-->\r\n</STYLE>\r\n</HEAD>\r\n<BODY>\r\n"
        "<SYNC Start=0><P Class=ENCC>Caf\xe9 at zero\r\n"
        "<SYNC Start=1200><P Class=ENCC>&nbsp;\r\n"
        "<SYNC Start=2000><P Class=ENCC>Second &amp; <font color=\"yellow\">cue</font>\r\n"
        "<SYNC Start=3000><P Class=ENCC>&nbsp;\r\n"
        "<SYNC Start=3600><P Class=ENCC>Third one\r\n"
        "<SYNC Start=5000><P Class=ENCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n";
    const QByteArray subrip = "1\r\n00:00:00,000 --> 00:00:01,200\r\nAt zero\r\n\r\n"
                              "2\r\n00:00:02,000 --> 00:00:03,000\r\n<i>Second cue</i>\r\n\r\n"
                              "3\r\n00:00:03,600 --> 00:00:05,000\r\nThird one\r\n\r\n";
    const QByteArray microdvd = "{0}{30}At zero\r\n{50}{75}Second cue\r\n{90}{125}Third one\r\n";
    // SAMI and SubRip by turns on the input kinds; MicroDVD, counted in
    // frames, on the VOB too.
    struct Row
    {
        const char* kind;
        const char* extension;
        QByteArray text;
    };
    std::vector<Row> rows{{"dvd.vob", ".sub", microdvd}};
    for (std::size_t i = 0; i < InputKinds.size(); ++i)
        rows.push_back({InputKinds[i].name, i % 2 ? ".srt" : ".smi", i % 2 ? subrip : sami});
    ChoosePreset("Phone and Tablet");
    m_bEvenLoudness = false;
    m_parallel = 2;
    MovieSpec spec;
    spec.width = 320;
    spec.height = 240;
    spec.seconds = 6;
    spec.source = QStringLiteral("smptebars");
    for (const InputKind& kind : InputKinds) {
        spec.outputArgs = kind.args;
        AddJob(Movie(kind.name, spec));
    }
    for (const auto& row : rows)
        AddJob(CopyWithSubtitle(m_home.FilePath(row.kind), row.extension + 1, row.extension,
                                row.text));
    MovieSpec clip;
    clip.seconds = 1;
    for (const InputKind& kind : InputKinds) {
        clip.outputArgs = kind.args;
        AddJob(Movie(QStringLiteral("1 s ") + kind.name, clip));
    }
    ASSERT_TRUE(RunAll());
    ASSERT_EQ(m_form.Statuses(), QStringList(int(m_form.m_jobs.size()), "Finished"));

    constexpr double Frame = 1.0 / 25;
    for (const auto& row : rows) {
        const QString plain = OutputOf(row.kind, ".mp4");
        const QString output = OutputOf(
            QFileInfo(row.kind).completeBaseName() + ' ' + (row.extension + 1) + ".x", ".mp4");
        for (const auto& [start, end] : cues) {
            const std::pair<double, bool> samples[] = {{start - 2 * Frame, false},
                                                       {start > 0 ? start + 2 * Frame : 0, true},
                                                       {end - 2 * Frame, true},
                                                       {end + 2 * Frame, false}};
            for (const auto& [seconds, text] : samples) {
                if (seconds < 0)
                    continue;
                SCOPED_TRACE(::testing::Message()
                             << row.extension << " on " << row.kind << " at " << seconds << " s");
                const Luma without = PictureAt(plain, seconds);
                const Luma with = PictureAt(output, seconds);
                ASSERT_FALSE(without.IsEmpty() || with.IsEmpty());
                const std::vector<RowBand> bands = DifferingBands(with, without);
                EXPECT_EQ(bands.size(), text ? 1u : 0u) << Describe(bands).toStdString();
                if (text && !bands.empty()) {
                    EXPECT_GT(bands[0].first, with.height / 2);
                    EXPECT_LT(bands[0].last, with.height - 2);
                }
            }
        }
    }
}

// Neither renderer wraps a line without spaces: a long Japanese or Chinese line
// reaches the picture as lines that stay inside it, in both back ends, on a 4:3
// and a 16:9 picture. Unbroken, it is one line cut at the picture's edge.
TEST_F(FfmpegRunTest, LongChineseAndJapaneseLinesAreBrokenToFitThePicture)
{
    const QString mencoder = m_links.RealEncoderLink();
    m_tools[EncodeProfile::Backend::Mencoder] = {mencoder, QFileInfo(mencoder).fileName()};
    const QByteArray japanese = "今日はとても良い天気なので公園へ散歩に行きましょう。";
    const QByteArray chinese = "今天天气很好，我们一起去公园散步，然后去饭馆吃午饭吧，好不好？";
    const struct
    {
        const char* preset;
        int width, height;
        const char* name;
        QByteArray line;
        std::size_t lines;
    } rows[] = {
        // mencoder's frame is 320x240, its text 5 % of the frame's diagonal.
        {"Pocket PC Normal", 320, 240, "mencoder japanese.mpg", japanese, 2},
        {"Pocket PC Normal", 640, 360, "mencoder chinese.mpg", chinese, 3},
        {"Phone and Tablet", 320, 240, "ffmpeg japanese.mpg", japanese, 2},
        {"Phone and Tablet", 640, 360, "ffmpeg chinese.mpg", chinese, 2},
    };
    m_bEvenLoudness = false;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ChoosePreset(row.preset);
        MovieSpec spec;
        spec.width = row.width;
        spec.height = row.height;
        // Black: the text's outline and shadow do not differ from it.
        spec.source = QStringLiteral("color");
        m_form.m_jobs.clear();
        AddJob(Movie(row.name, spec));
        AddJob(CopyWithSubtitle(m_home.FilePath(row.name), "long", ".srt",
                                "1\r\n00:00:00,500 --> 00:00:01,800\r\n" + row.line + "\r\n\r\n"));
        ASSERT_TRUE(RunAll());
        ASSERT_EQ(m_form.Statuses(), QStringList({"Finished", "Finished"}));
        const QString extension = Presets::Find(row.preset)->Extension();
        const Luma without = PictureAt(OutputOf(row.name, extension), 1.2);
        const Luma with =
            PictureAt(OutputOf(QFileInfo(row.name).completeBaseName() + " long.x", extension), 1.2);
        ASSERT_FALSE(without.IsEmpty() || with.IsEmpty());
        const std::vector<RowBand> bands = DifferingBands(with, without, 1);
        EXPECT_EQ(bands.size(), row.lines) << Describe(bands).toStdString();
        for (const RowBand& band : bands) {
            EXPECT_GT(band.left, 0) << Describe(bands).toStdString();
            EXPECT_LT(band.right, with.width - 1) << Describe(bands).toStdString();
            EXPECT_LT(band.last, with.height - 1) << Describe(bands).toStdString();
        }
    }
}

// With burn-in off an MP4 carries the subtitle as a mov_text track and a WebM
// as a WebVTT track, tagged with the language its letters tell in the form
// each container writes (ISO 639-2/T in MP4, the bibliographic form in WebM),
// or the one its file's name carries, which comes first.
TEST_F(FfmpegRunTest, WithoutBurnInTheSubtitleIsATrackTaggedWithItsLanguage)
{
    m_bBurnSubtitle = false;
    m_bEvenLoudness = false;
    const QByteArray japanese =
        "<SAMI>\r\n<BODY>\r\n<SYNC Start=500><P Class=JPCC>こんにちは。今日はいい天気ですね。\r\n"
        "<SYNC Start=1000><P Class=JPCC>&nbsp;\r\n"
        // Never cleared: the track ends with the movie.
        "<SYNC Start=1500><P Class=JPCC>さようなら\r\n</BODY>\r\n</SAMI>\r\n";
    const QByteArray chinese = "1\r\n00:00:00,500 --> 00:00:01,500\r\n你好。今天天气真好。\r\n\r\n";
    const struct
    {
        const char* preset;
        const char* name;
        const char* extension;
        QByteArray text;
        const char* format;
        const char* language;
    } rows[] = {
        {"Phone and Tablet", "japanese.mkv", ".smi", japanese, "mov,mp4,m4a,3gp,3g2,mj2", "jpn"},
        {"Phone and Tablet", "named.mkv", ".EN.srt", chinese, "mov,mp4,m4a,3gp,3g2,mj2", "eng"},
        {"Smallest AV1", "chinese.mkv", ".srt", chinese, "matroska,webm", "chi"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.preset) + " " + row.name);
        ChoosePreset(row.preset);
        const QString movie = Movie(row.name, MovieSpec());
        ASSERT_TRUE(MediaFactory::WriteFile(
            m_home.FilePath(QFileInfo(movie).completeBaseName() + row.extension), row.text));
        m_form.m_jobs.clear();
        AddJob(movie);
        ASSERT_TRUE(RunAll());
        ASSERT_EQ(m_form.Statuses(), QStringList{"Finished"}) << m_form.m_reasons[0].toStdString();
        const QString output = OutputOf(row.name, Presets::Find(row.preset)->Extension());
        const Facts facts = Inspect(output);
        EXPECT_EQ(facts.format, row.format);
        EXPECT_EQ(facts.subtitleStreams, 1);
        EXPECT_EQ(facts.subtitleLanguage, row.language);
        EXPECT_NEAR(ProbeMovieTiming(output).dSeconds, 2.0, 0.2);
    }
}

namespace {

// A flat picture of 100 cd/m² (a standard picture's white) as phones record
// HDR: 10-bit H.265 tagged BT.2020 with the PQ or HLG transfer, the HDR10
// metadata of a 1000 cd/m² master. Its code value in limited range: PQ gives
// 100 cd/m² 0.508 of the full scale, 64 + 0.508 * 876 = 509; HLG, relative to
// its 1000 cd/m² reference display (system gamma 1.2), 0.630, so 616.
MovieSpec HdrPatch(const char* transfer, int code)
{
    MovieSpec spec{320, 180, 1.0, 25, false, QStringLiteral("color")};
    spec.outputArgs =
        QStringLiteral("-vf format=yuv420p10le,lutyuv=y=%1:u=512:v=512 -c:v libx265 -preset "
                       "ultrafast -x265-params log-level=error:master-display=G(13250,34500)"
                       "B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,50):max-cll=1000,400 "
                       "-color_primaries bt2020 -color_trc %2 -colorspace bt2020nc -tag:v hvc1")
            .arg(code)
            .arg(QLatin1String(transfer))
            .split(QLatin1Char(' '));
    return spec;
}

} // namespace

// PQ and HLG movies, and an iPhone's Dolby Vision 8.4 (HLG underneath), come
// out of the 8-bit H.264 preset tone mapped: the 100 cd/m² patch bright (a
// standard picture's white is 235; untouched it reads 127) and tagged BT.709
// throughout; out of H.265 and AV1 as 10-bit HDR with the picture, the tags and
// the HDR10 metadata kept. A movie only a Dolby Vision player shows right is
// refused before the encoder starts.
TEST_F(FfmpegRunTest, HdrIsToneMappedFor8BitAndKeptIn10Bit)
{
    const QString pq = Movie("pq.mp4", HdrPatch("smpte2084", 509));
    const QString hlg = Movie("hlg.mp4", HdrPatch("arib-std-b67", 616));
    const QString dv84 = Movie("dv84.mp4", HdrPatch("arib-std-b67", 616));
    const QString dv5 = Movie("dv5.mp4", HdrPatch("smpte2084", 509));
    ASSERT_TRUE(MediaFactory::AddDolbyVisionConfig(dv84, 8, 4));
    ASSERT_TRUE(MediaFactory::AddDolbyVisionConfig(dv5, 5, 0));
    const struct
    {
        const char* preset;
        QString input;
        const char* transfer; // the output's; null: refused
        int depth;
        int lumaMin, lumaMax; // the patch's luma, top 8 bits
        double masteringPeak; // cd/m², 0 where the output carries none
    } rows[] = {
        {"Phone and Tablet", pq, "bt709", 8, 150, 235, 0},
        {"Phone and Tablet", hlg, "bt709", 8, 150, 235, 0},
        {"Phone and Tablet", dv84, "bt709", 8, 150, 235, 0},
        {"Phone and Tablet", dv5, nullptr, 0, 0, 0, 0},
        {"Small H.265", pq, "smpte2084", 10, 125, 129, 1000},
        {"Small H.265", hlg, "arib-std-b67", 10, 152, 156, 1000},
        {"Smallest AV1", pq, "smpte2084", 10, 125, 129, 1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.preset) + " " + QFileInfo(row.input).fileName().toStdString());
        ChoosePreset(row.preset);
        m_form.m_jobs.clear();
        AddJob(row.input);
        ASSERT_TRUE(RunAll());
        const QString output = OutputOf(row.input, Presets::Find(row.preset)->Extension());
        if (!row.transfer) {
            EXPECT_EQ(m_form.Statuses(), QStringList{"Failed"});
            EXPECT_EQ(m_form.m_reasons[0],
                      "This movie's colours can only be shown by a Dolby Vision player.");
            EXPECT_FALSE(QFileInfo::exists(output));
            continue;
        }
        EXPECT_EQ(m_form.Statuses(), QStringList{"Finished"}) << m_form.m_reasons[0].toStdString();
        const Facts facts = Inspect(output);
        EXPECT_EQ(facts.bitDepth, row.depth);
        EXPECT_EQ(facts.colorTransfer, row.transfer);
        EXPECT_EQ(facts.colorPrimaries, row.depth == 8 ? "bt709" : "bt2020");
        EXPECT_EQ(facts.colorMatrix, row.depth == 8 ? "bt709" : "bt2020nc");
        const Luma luma = DecodeLuma(output, 0);
        ASSERT_FALSE(luma.IsEmpty());
        EXPECT_GE(luma.At(160, 90), row.lumaMin);
        EXPECT_LE(luma.At(160, 90), row.lumaMax);
        EXPECT_EQ(luma.masteringPeak, row.masteringPeak);
        EXPECT_EQ(luma.maxCll, row.masteringPeak > 0 ? 1000 : 0);
    }
}

// The recording's facts survive into MP4 (as QuickTime keys) and WebM (as
// Matroska tags): an iPhone's date with its time zone, place, make and model,
// an Android phone's date and place (its "location" key), and the movie's
// file time. "Share (25 MB)" leaves out every place and keeps the date.
TEST_F(FfmpegRunTest, TheRecordingsDatePlaceMakeAndModelAndFileTimeAreKept)
{
    const QByteArray utc = "2023-06-01T10:20:30.000000Z";
    const QByteArray zoned = "2023-06-01T12:20:30+0200";
    const QByteArray place = "+48.8584+002.2945/";
    MovieSpec spec;
    spec.seconds = 1;
    spec.outputArgs = QString("-movflags use_metadata_tags -metadata creation_time=" + utc +
                              " -metadata com.apple.quicktime.creationdate=" + zoned +
                              " -metadata com.apple.quicktime.location.ISO6709=" + place +
                              " -metadata com.apple.quicktime.make=Apple"
                              " -metadata com.apple.quicktime.model=iPhone")
                          .split(' ');
    const QString iphone = Movie("iphone.mov", spec);
    spec.outputArgs =
        QString("-metadata creation_time=" + utc + " -metadata location=" + place).split(' ');
    const QString android = Movie("android.mp4", spec);
    const QDateTime filmed(QDate(2023, 6, 1), QTime(10, 20, 30), Qt::UTC);
    for (const QString& movie : {iphone, android}) {
        QFile file(movie);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                    file.setFileTime(filmed, QFileDevice::FileModificationTime));
    }
    const struct
    {
        const char* preset;
        QString input;
        bool placeKept;
    } rows[] = {
        {"Phone and Tablet", iphone, true}, {"Smallest AV1", iphone, true},
        {"Share (25 MB)", iphone, false},   {"Phone and Tablet", android, true},
        {"Share (25 MB)", android, false},
    };
    m_bEvenLoudness = false;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.preset) + " " + QFileInfo(row.input).fileName().toStdString());
        ChoosePreset(row.preset);
        m_form.m_jobs.clear();
        AddJob(row.input);
        ASSERT_TRUE(RunAll());
        ASSERT_EQ(m_form.Statuses(), QStringList{"Finished"}) << m_form.m_reasons[0].toStdString();
        const QString output = OutputOf(row.input, Presets::Find(row.preset)->Extension());
        const QMap<QByteArray, QByteArray> tags = Inspect(output).tags;
        EXPECT_EQ(tags.value("creation_time"), utc);
        const bool apple = row.input == iphone;
        EXPECT_EQ(tags.value("com.apple.quicktime.creationdate"), apple ? zoned : "");
        EXPECT_EQ(tags.value("com.apple.quicktime.model"), apple ? "iPhone" : "");
        const QByteArray where = apple ? "com.apple.quicktime.location.iso6709" : "location";
        EXPECT_EQ(tags.value(where), row.placeKept ? place : "");
        EXPECT_EQ(tags.value("location-eng"), row.placeKept && !apple ? place : "");
        // The source's brands describe the source alone.
        EXPECT_NE(tags.value("major_brand"), "qt  ");
        EXPECT_EQ(QFileInfo(output).lastModified(), filmed);
    }
}
