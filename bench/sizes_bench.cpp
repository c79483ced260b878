// Output sizes of the presets: each movie encoded through the run with each
// preset (as Make does, one encode at a time), the output's bytes and video bit
// rate, and the megabytes ten minutes of such a movie come to. The README's
// preset table and the presets' typical bit rates (the job list's size
// estimate) come from these figures.
//
//   sizes_bench <folder for the outputs> <movie>...
#include "BenchSupport.h"
#include "engine/Presets.h"
#include "jobs/MediaProbe.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using namespace Bench;

// The bit rate of the file's first video stream in kbit/s (of 1,000 bits), from
// its packets' sizes over the file's length; 0 when it cannot be read.
double VideoKbps(const QString& path, double seconds)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return 0;
    std::int64_t bytes = 0;
    const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    AVPacket* packet = av_packet_alloc();
    while (video >= 0 && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == video)
            bytes += packet->size;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    return seconds > 0 ? bytes * 8 / seconds / 1000 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: sizes_bench <folder for the outputs> <movie>...\n");
        return 2;
    }
    // Settings and run logs go to a private folder, never to the user's own.
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    UsePrivateHome(work);
    QCoreApplication app(argc, argv);

    const QString folder = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const EncoderTools encoders = EncoderLinks(work);
    if (encoders.empty()) {
        std::fprintf(stderr, "cannot link the encoders of tools/\n");
        return 1;
    }
    std::printf("%-18s %-16s %9s %12s %9s %10s %8s %8s\n", "preset", "movie", "picture", "bytes",
                "video kb/s", "MB/10 min", "wall s", "CPU s");
    int failed = 0;
    for (const EncodeProfile& profile : Presets::All()) {
        const QString& encoder = encoders.at(profile.backend).strPath;
        for (int i = 2; i < argc; ++i) {
            const StreamFile job = MovieJob(QString::fromLocal8Bit(argv[i]));
            const QString out = folder + QLatin1Char('/') + QString::number(i - 1);
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            const RunFigures run = EncodeThroughRun({job}, encoder, out, 1, profile.strName);
            const QString output = out + QLatin1Char('/') +
                                   QFileInfo(job.strFileName).completeBaseName() +
                                   profile.Extension();
            const qint64 bytes = QFileInfo(output).size();
            const MovieContent content = ProbeMovieContent(output);
            StreamFile made;
            ProbeMovieFile(output, made);
            failed += run.failed;
            const double seconds = content.dSeconds;
            std::printf("%-18s %-16s %4dx%-4d %12lld %9.0f %10.1f %8.1f %8.1f\n",
                        qPrintable(profile.strName), qPrintable(job.strFileName), made.nWidth,
                        made.nHeight, bytes, VideoKbps(output, seconds),
                        seconds > 0 ? bytes * 600.0 / seconds / 1e6 : 0.0, run.wall,
                        run.encoderCpu);
            std::fflush(stdout);
        }
    }
    if (failed) {
        std::printf("encodes failed: %d\n", failed);
        return 1;
    }
    return 0;
}
