#include "engine/CommandLine.h"
#include "engine/EncodeSetting.h"
#include "engine/ExternalTools.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MovieInspector.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using namespace MovieInspector;

class RealEncoder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QFileInfo(ExternalTools::ToolPath("mencoder")).isExecutable())
            << "no encoder at " << ExternalTools::ToolPath("mencoder").toStdString();
        ASSERT_TRUE(MediaFactory::HaveFfmpeg()) << "ffmpeg is needed to generate test movies";
        // A folder name with a space, Korean and a "%" on the way.
        m_movies = m_dir.filePath(QStringLiteral("내 영화 100%"));
        m_output = m_dir.filePath(QStringLiteral("Encoded Movies"));
        ASSERT_TRUE(QDir().mkpath(m_movies));
        ASSERT_TRUE(QDir().mkpath(m_output));
    }

    // Generates a movie in m_movies and the job record that lists it.
    ::testing::AssertionResult MakeMovie(const QString& name, int width, int height, double seconds,
                                         int fps, StreamFile* job,
                                         const QStringList& outputArgs = {}) const
    {
        MovieSpec spec;
        spec.width = width;
        spec.height = height;
        spec.seconds = seconds;
        spec.fps = fps;
        spec.outputArgs = outputArgs;
        return MakeMovie(name, spec, job);
    }

    ::testing::AssertionResult MakeMovie(const QString& name, const MovieSpec& spec,
                                         StreamFile* job) const
    {
        job->strFilePath = m_movies + QLatin1Char('/') + name;
        job->strFileName = name;
        job->nWidth = spec.width;
        job->nHeight = spec.height;
        QString error;
        if (!MediaFactory::GenerateMovie(job->strFilePath, spec, &error))
            return ::testing::AssertionFailure() << error.toStdString();
        return ::testing::AssertionSuccess();
    }

    // Runs the encoder with the argument string split exactly as the encoding run
    // does; succeeds when it exits normally with code 0, and shows the end of
    // its output otherwise.
    ::testing::AssertionResult Encode(const QString& arguments, const QString& logName)
    {
        QStringList argv = SplitCommandLine(
            MakeProcessCommandLine(ExternalTools::ToolPath("mencoder"), arguments));
        const QString program = argv.takeFirst();
        QProcess encoder;
        encoder.setProcessChannelMode(QProcess::MergedChannels);
        encoder.setStandardOutputFile(m_dir.filePath(logName));
        encoder.setStandardInputFile(QProcess::nullDevice());
        encoder.start(program, argv);
        // No time limit of our own: the test's timeout covers a hang, and the
        // encoder is never killed from here.
        if (encoder.waitForStarted(-1) && encoder.waitForFinished(-1) &&
            encoder.exitStatus() == QProcess::NormalExit && encoder.exitCode() == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << QString::fromLocal8Bit(
                      MediaFactory::ReadFile(m_dir.filePath(logName)).right(2000))
                      .toStdString();
    }

    QTemporaryDir m_dir;
    QString m_movies;
    QString m_output;
};

} // namespace

TEST_F(RealEncoder, PresetEncodeWithBurntInKoreanSubtitle)
{
    StreamFile job;
    ASSERT_TRUE(MakeMovie(QStringLiteral("clip \"one\".mpg"), 640, 480, 3.0, 25, &job));

    // A CP949 SAMI file beside the movie, with one cue over the whole movie:
    // "안녕하세요 자막 시험".
    const QString smi = m_movies + QStringLiteral("/clip \"one\".smi");
    ASSERT_TRUE(MediaFactory::WriteFile(
        smi, QByteArray("<SAMI>\r\n<HEAD><TITLE>t</TITLE></HEAD>\r\n<BODY>\r\n"
                        "<SYNC Start=0><P Class=KRCC>\xbe\xc8\xb3\xe7\xc7\xcf\xbc\xbc\xbf\xe4 "
                        "\xc0\xda\xb8\xb7 \xbd\xc3\xc7\xe8\r\n"
                        "<SYNC Start=2900><P Class=KRCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n")));

    // The preset as a Korean system has it.
    EncodeSetting setting;
    setting.m_strPathFont = EncodeSetting::FontPatternFor(QLocale::Korean);

    const QString withSub = m_output + QStringLiteral("/PPC_clip \"one\".avi");
    const EncoderSubtitle subtitle = setting.PrepareSubtitle(smi, job.strFilePath, 949);
    const QString withSubArgs = setting.BuildCommandLine(subtitle, withSub, false, job);
    ASSERT_TRUE(subtitle.pCopy);
    ASSERT_TRUE(withSubArgs.contains(QStringLiteral(" -sub \"") + subtitle.strPath));
    ASSERT_TRUE(Encode(withSubArgs, QStringLiteral("with-sub.log")));

    const Facts info = Inspect(withSub);
    ASSERT_TRUE(info.opened);
    EXPECT_EQ(info.videoCodec, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(info.videoTag, MKTAG('D', 'I', 'V', 'X'));
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);
    EXPECT_EQ(av_cmp_q(info.frameRate, AVRational{15, 1}), 0)
        << info.frameRate.num << "/" << info.frameRate.den;
    EXPECT_EQ(info.audioCodec, AV_CODEC_ID_MP3);
    EXPECT_EQ(info.sampleRate, 44100);

    // The same encode without the subtitle: during the cue the lower part of the
    // picture (where position 85 puts the text) differs, the upper part not.
    const QString withoutSub = m_output + QStringLiteral("/PPC_plain.avi");
    ASSERT_TRUE(Encode(setting.BuildCommandLine({}, withoutSub, false, job),
                       QStringLiteral("without-sub.log")));
    const Luma subtitled = DecodeLuma(withSub, 15);
    const Luma plain = DecodeLuma(withoutSub, 15);
    ASSERT_FALSE(subtitled.IsEmpty());
    ASSERT_FALSE(plain.IsEmpty());
    ASSERT_EQ(subtitled.width, 320);
    ASSERT_EQ(subtitled.height, 240);
    const int lower = DifferingPixels(subtitled, plain, 160, 240);
    const int upper = DifferingPixels(subtitled, plain, 0, 80);
    EXPECT_GT(lower, 300) << "upper " << upper;
    EXPECT_LT(upper * 10, lower);
}

TEST_F(RealEncoder, SamplingRunOfAnAviStopsAfterSixtySeconds)
{
    // An MPEG-4 AVI, read through libavformat like every AVI input.
    StreamFile job;
    ASSERT_TRUE(MakeMovie(QStringLiteral("long.avi"), 160, 120, 65.0, 15, &job,
                          {"-c:v", "mpeg4", "-c:a", "libmp3lame"}));
    const EncodeSetting setting;
    const QString output = m_output + QStringLiteral("/PPC_long.avi");
    const QString arguments = setting.BuildCommandLine({}, output, true, job);
    ASSERT_TRUE(arguments.startsWith(QStringLiteral(" -demuxer lavf ")));
    ASSERT_TRUE(Encode(arguments, QStringLiteral("sample.log")));

    const Facts info = Inspect(output);
    ASSERT_TRUE(info.opened);
    EXPECT_NEAR(info.videoSeconds, 60.0, 1.5);
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);
    // Still moving at the end: not the frozen picture of the encoder's own AVI reader.
    const Luma late = DecodeLuma(output, 55 * 15);
    const Luma last = DecodeLuma(output, 59 * 15);
    ASSERT_FALSE(late.IsEmpty());
    EXPECT_GT(DifferingPixels(late, last, 0, last.height), 100);
}

TEST_F(RealEncoder, ADiscStaysRoundInAMovieOfTheSizeAsked)
{
    const struct
    {
        const char* name;
        int width;
        int height;
        QStringList outputArgs;
        int frameW;
        int frameH;
    } cases[] = {
        // 4:3 with the preset; a portrait phone video; an odd-sized DivX kind
        // at User Define 640x360; a PAL DVD into a frame wider than 1.77.
        {"vga.mpg", 640, 480, {}, 320, 240},
        {"phone.mp4", 360, 640, {"-c:v", "libx264"}, 320, 240},
        {"odd.avi", 853, 480, {"-c:v", "mpeg4", "-c:a", "libmp3lame"}, 640, 360},
        {"pal.vob", 720, 576, {"-c:v", "mpeg2video", "-f", "vob"}, 640, 272},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << " into " << c.frameW << "x" << c.frameH);
        MovieSpec spec;
        spec.width = c.width;
        spec.height = c.height;
        spec.seconds = 1.0;
        spec.disc = true;
        spec.outputArgs = c.outputArgs;
        StreamFile job;
        ASSERT_TRUE(MakeMovie(QLatin1String(c.name), spec, &job));
        EncodeSetting setting;
        setting.m_nVidW = c.frameW;
        setting.m_nVidH = c.frameH;
        const QString output = m_output + QStringLiteral("/PPC_") + QLatin1String(c.name);
        ASSERT_TRUE(Encode(setting.BuildCommandLine({}, output, false, job),
                           QLatin1String(c.name) + QStringLiteral(".log")));

        const Luma picture = DecodeLuma(output, 10);
        EXPECT_EQ(picture.width, c.frameW);
        EXPECT_EQ(picture.height, c.frameH);
        const Box disc = BrightBox(picture);
        EXPECT_GT(disc.height, 50);
        EXPECT_NEAR(double(disc.width) / disc.height, 1.0, 0.03)
            << "disc " << disc.width << "x" << disc.height;
    }
}
