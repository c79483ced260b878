#include "engine/CommandLine.h"
#include "engine/EncodeSetting.h"
#include "engine/ExternalTools.h"
#include "engine/SubtitleConverter.h"
#include "tests/support/MediaFactory.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

// What libavformat learns about an encoded file.
struct OutputInfo
{
    bool opened = false;
    AVCodecID videoCodec = AV_CODEC_ID_NONE;
    unsigned videoTag = 0;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};
    double videoSeconds = 0;
    AVCodecID audioCodec = AV_CODEC_ID_NONE;
    int sampleRate = 0;
};

OutputInfo Inspect(const QString& path)
{
    OutputInfo info;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return info;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        info.opened = true;
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVStream* stream = format->streams[i];
            const AVCodecParameters* par = stream->codecpar;
            if (par->codec_type == AVMEDIA_TYPE_VIDEO && info.videoCodec == AV_CODEC_ID_NONE) {
                info.videoCodec = par->codec_id;
                info.videoTag = par->codec_tag;
                info.width = par->width;
                info.height = par->height;
                info.frameRate =
                    stream->avg_frame_rate.num ? stream->avg_frame_rate : stream->r_frame_rate;
                if (stream->duration != AV_NOPTS_VALUE)
                    info.videoSeconds = stream->duration * av_q2d(stream->time_base);
            } else if (par->codec_type == AVMEDIA_TYPE_AUDIO &&
                       info.audioCodec == AV_CODEC_ID_NONE) {
                info.audioCodec = par->codec_id;
                info.sampleRate = par->sample_rate;
            }
        }
    }
    avformat_close_input(&format);
    return info;
}

// The luma plane of the index-th decoded video frame (width x height bytes), or
// nothing when the file cannot be decoded that far.
std::vector<unsigned char> DecodeLuma(const QString& path, int index, int* width, int* height)
{
    std::vector<unsigned char> luma;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return luma;
    avformat_find_stream_info(format, nullptr);
    const int streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec =
        streamIndex >= 0 ? avcodec_find_decoder(format->streams[streamIndex]->codecpar->codec_id)
                         : nullptr;
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (context &&
        avcodec_parameters_to_context(context, format->streams[streamIndex]->codecpar) >= 0 &&
        avcodec_open2(context, codec, nullptr) >= 0) {
        int decoded = 0;
        bool draining = false;
        while (luma.empty()) {
            if (!draining) {
                const int rc = av_read_frame(format, packet);
                if (rc < 0) {
                    draining = true;
                    avcodec_send_packet(context, nullptr);
                } else {
                    if (packet->stream_index == streamIndex)
                        avcodec_send_packet(context, packet);
                    av_packet_unref(packet);
                }
            }
            int rc;
            while ((rc = avcodec_receive_frame(context, frame)) >= 0) {
                if (decoded++ == index && luma.empty()) {
                    *width = frame->width;
                    *height = frame->height;
                    luma.resize(static_cast<size_t>(frame->width) * frame->height);
                    for (int y = 0; y < frame->height; ++y)
                        std::copy_n(frame->data[0] + y * frame->linesize[0], frame->width,
                                    luma.begin() + static_cast<std::ptrdiff_t>(y) * frame->width);
                }
                av_frame_unref(frame);
            }
            if (draining && rc == AVERROR_EOF)
                break;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    return luma;
}

// Pixels of rows [fromRow, toRow) whose luma differs by more than 48.
int DifferingPixels(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
                    int width, int fromRow, int toRow)
{
    int count = 0;
    for (int y = fromRow; y < toRow; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            if (std::abs(int(a[i]) - int(b[i])) > 48)
                ++count;
        }
    }
    return count;
}

class RealEncoder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QFileInfo(ExternalTools::EncoderPath()).isExecutable())
            << "no encoder at " << ExternalTools::EncoderPath().toStdString();
        ASSERT_TRUE(MediaFactory::HaveFfmpeg()) << "ffmpeg is needed to generate test movies";
        // A folder name with a space, Korean and a "%" on the way.
        m_movies = m_dir.filePath(QStringLiteral("내 영화 100%"));
        m_output = m_dir.filePath(QStringLiteral("Encoded Movies"));
        ASSERT_TRUE(QDir().mkpath(m_movies));
        ASSERT_TRUE(QDir().mkpath(m_output));
    }

    // Generates a movie in m_movies and the job record that lists it.
    ::testing::AssertionResult MakeMovie(const QString& name, int width, int height, double seconds,
                                         int fps, StreamFile* job) const
    {
        MovieSpec spec;
        spec.width = width;
        spec.height = height;
        spec.seconds = seconds;
        spec.fps = fps;
        job->strFilePath = m_movies + QLatin1Char('/') + name;
        job->strFileName = name;
        job->nWidth = width;
        job->nHeight = height;
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
        QStringList argv =
            SplitCommandLine(MakeProcessCommandLine(ExternalTools::EncoderPath(), arguments));
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
    setting.m_nSubCodePage = 949;

    const QString withSub = m_output + QStringLiteral("/PPC_clip \"one\".avi");
    const QString withSubArgs = setting.BuildCommandLine(smi, withSub, false, job);
    ASSERT_TRUE(withSubArgs.contains(QStringLiteral(" -sub \"") + TempSubtitlePath()));
    ASSERT_TRUE(Encode(withSubArgs, QStringLiteral("with-sub.log")));

    const OutputInfo info = Inspect(withSub);
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
    ASSERT_TRUE(Encode(setting.BuildCommandLine(QString(), withoutSub, false, job),
                       QStringLiteral("without-sub.log")));
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    const auto subtitled = DecodeLuma(withSub, 15, &w1, &h1);
    const auto plain = DecodeLuma(withoutSub, 15, &w2, &h2);
    ASSERT_FALSE(subtitled.empty());
    ASSERT_FALSE(plain.empty());
    ASSERT_EQ(w1, 320);
    ASSERT_EQ(h1, 240);
    ASSERT_EQ(w2, w1);
    ASSERT_EQ(h2, h1);
    const int lower = DifferingPixels(subtitled, plain, w1, h1 * 2 / 3, h1);
    const int upper = DifferingPixels(subtitled, plain, w1, 0, h1 / 3);
    EXPECT_GT(lower, 300) << "upper " << upper;
    EXPECT_LT(upper * 10, lower);
}

TEST_F(RealEncoder, SamplingRunStopsAfterSixtySeconds)
{
    StreamFile job;
    ASSERT_TRUE(MakeMovie(QStringLiteral("long.mkv"), 160, 120, 65.0, 10, &job));
    const EncodeSetting setting;
    const QString output = m_output + QStringLiteral("/PPC_long.avi");
    ASSERT_TRUE(Encode(setting.BuildCommandLine(QString(), output, true, job),
                       QStringLiteral("sample.log")));

    const OutputInfo info = Inspect(output);
    ASSERT_TRUE(info.opened);
    EXPECT_NEAR(info.videoSeconds, 60.0, 1.5);
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);
}
