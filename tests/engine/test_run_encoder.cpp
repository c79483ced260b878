// The run with the real encoder, started through a link with a name of this test
// process's own, on movies generated with ffmpeg.
#include "engine/EncodingRun.h"
#include "shell/SettingsStore.h"
#include "test_run_support.h"
#include "test_runner_support.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <memory>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

struct AviFacts
{
    bool opened = false;
    bool isAvi = false;
    bool hasVideo = false;
    bool hasAudio = false;
    double seconds = 0;
};

AviFacts ProbeOutput(const QString& path)
{
    AviFacts facts;
    AVFormatContext* context = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (avformat_open_input(&context, name.constData(), nullptr, nullptr) != 0)
        return facts;
    facts.opened = true;
    facts.isAvi = QByteArray(context->iformat->name) == "avi";
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            const AVStream* stream = context->streams[i];
            if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
                facts.hasVideo = true;
                if (stream->duration > 0)
                    facts.seconds = stream->duration * av_q2d(stream->time_base);
            }
            facts.hasAudio |= stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        }
    }
    avformat_close_input(&context);
    return facts;
}

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
        SetRegString(RegValue::MovieDir, m_outDir);
        SetRegString(RegValue::Prefix, QString());
        m_encoder = m_links.RealEncoderLink();
        m_imageName = QFileInfo(m_encoder).fileName();
        m_run = std::make_unique<CEncodingRun>(m_form);
        m_run->SetEncoderPath(m_encoder);
        m_run->SetEncoderImageName(m_imageName);
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
        m_form.AddJob(path, static_cast<std::uint64_t>(QFileInfo(path).size()));
        m_form.m_jobs.back().nWidth = width;
        m_form.m_jobs.back().nHeight = height;
    }

    ScopedTempHome m_home;
    FakeEncoder m_links;
    FakeForm m_form;
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

    m_run->StartEncoding();
    ASSERT_TRUE(PumpUntil([&] { return m_ended > 0; }, 120000));
    EXPECT_EQ(m_form.Statuses(), QStringList(2, "Finished"));
    EXPECT_EQ(m_form.m_messages, QStringList{"Encoding Finished !!"});
    EXPECT_EQ(m_form.LastProgress(RunForm::ProgressBar::Total), 100);
    EXPECT_EQ(m_form.LastProgress(RunForm::ProgressBar::Current), 100);

    const AviFacts first = ProbeOutput(m_outDir + "/first clip.avi");
    const AviFacts second = ProbeOutput(m_outDir + "/second.avi");
    for (const AviFacts& facts : {first, second}) {
        EXPECT_TRUE(facts.opened);
        EXPECT_TRUE(facts.isAvi);
        EXPECT_TRUE(facts.hasVideo);
        EXPECT_TRUE(facts.hasAudio);
    }
    EXPECT_NEAR(first.seconds, 2.0, 0.3);
    EXPECT_NEAR(second.seconds, 3.0, 0.3);
    EXPECT_EQ(CountProcessesNamed(m_imageName), 0);
}

TEST_F(RealEncoderRunTest, StopEndsTheEncoderAtOnceAndLeavesAPlayableFile)
{
    AddMovie("long.mpg", 640, 480, 20);

    m_run->StartEncoding();
    ASSERT_TRUE(PumpUntil([&] { return m_run->m_nCurrentPercent.load() >= 1; }, 60000));
    ASSERT_TRUE(m_run->m_bRunning) << "the encode ended before it could be stopped";
    EXPECT_EQ(CountProcessesNamed(m_imageName), 1);

    m_form.m_answers = {false};
    QElapsedTimer timer;
    timer.start();
    m_run->StopEncoding();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(CountProcessesNamed(m_imageName), 0);
    EXPECT_EQ(m_form.m_questions.size(), 1);
    // mencoder finalises the file on SIGTERM.
    const AviFacts facts = ProbeOutput(m_outDir + "/long.avi");
    EXPECT_TRUE(facts.opened);
    EXPECT_TRUE(facts.hasVideo);
    EXPECT_LT(facts.seconds, 20.0);
    PumpFor(200);
    EXPECT_EQ(m_form.Status(0), "Encoding...");
    EXPECT_TRUE(m_form.m_messages.isEmpty());
}

} // namespace
