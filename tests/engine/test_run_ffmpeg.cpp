// The presets of today's devices through the run with the real ffmpeg, started
// through a link with a name of this test process's own, on movies generated
// with ffmpeg; every output is checked by decoding it.
#include "engine/EncodingRun.h"
#include "engine/Presets.h"
#include "engine/StoredSettings.h"
#include "jobs/MediaProbe.h"
#include "shell/SettingsStore.h"
#include "test_run_support.h"
#include "test_runner_support.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MovieInspector.h"
#include "tests/support/TestEnvironment.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>

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
        SetRegString(RegValue::MovieDir, m_outDir);
        SetRegString(RegValue::Prefix, QString());
        SetRegDWORD(RegValue::Parallel, 1);
        m_ffmpeg = m_links.RealEncoderLink(QStringLiteral("f"), QStringLiteral("ffmpeg"));
        m_run = std::make_unique<CEncodingRun>(m_form);
        m_run->SetEncoder(EncodeProfile::Backend::Ffmpeg, m_ffmpeg, QFileInfo(m_ffmpeg).fileName());
        QObject::connect(m_run.get(), &CEncodingRun::RunEnded, [this] { ++m_ended; });
    }
    void TearDown() override { m_run.reset(); }

    static void ChoosePreset(const QString& name)
    {
        SetRegDWORD(RegValue::Option, 0);
        SetRegString(RegValue::Preset, name);
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
        sampling ? m_run->StartSampling() : m_run->StartEncoding();
        return PumpUntil([&] { return m_ended > ended; }, 240000);
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
        if (profile.container == EncodeProfile::Container::Mp4)
            EXPECT_TRUE(IndexBeforeData(output));
        if (c.video == AV_CODEC_ID_HEVC)
            EXPECT_EQ(facts.videoTag, hvc1);
        if (profile.ullSizeBudget > 0)
            EXPECT_LE(QFileInfo(output).size(), qint64(profile.ullSizeBudget));
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

    SetRegDWORD(RegValue::Loudness, 0);
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
    m_run->StartEncoding();
    ASSERT_TRUE(PumpUntil([&] { return m_run->CurrentPercent() > 0; }, 60000));
    m_form.m_answers.push_back(false); // keep the incomplete file
    m_run->StopEncoding();
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
    m_run->SetEncoder(EncodeProfile::Backend::Ffmpeg, m_home.FilePath("no-ffmpeg"), "cvnoff");
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
    RunPlan plan = RunPlan::FromSettings(StoredSettings::Load(), false);
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
    m_run->Start(plan);
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

} // namespace
