// HDR benchmark: the same movie as PQ HDR and as SDR encoded with a preset
// through the run (as Make does: "Automatic", the real ffmpeg, the output
// check), in turns within one process; the HDR movie is tone mapped, the SDR
// one only scaled. Each encode first waits (up to a limit) until the machine's
// other processes leave it all but idle. Prints each encode's wall time, the
// encoders' CPU time and the share of the cores the machine's other processes
// took meanwhile, then the HDR movie's time over the SDR one's.
//
//   hdr_bench <SDR movie> <HDR movie> <folder for the outputs> [rounds] [preset]
//             [longest wait for quiet, s]
#include "BenchSupport.h"
#include "engine/Presets.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

using namespace Bench;

// The most the tone map may add: the HDR movie's time over the SDR one's.
constexpr double TargetRatio = 1.4;

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: hdr_bench <SDR movie> <HDR movie> <folder for the outputs> "
                             "[rounds] [preset] [longest wait for quiet, s]\n");
        return 2;
    }
    // Settings and run logs go to a private folder, never to the user's own.
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    UsePrivateHome(work);
    QCoreApplication app(argc, argv);

    const QString folder = QFileInfo(QString::fromLocal8Bit(argv[3])).absoluteFilePath();
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    const QString preset =
        argc > 5 ? QString::fromLocal8Bit(argv[5]) : QStringLiteral("Phone and Tablet");
    const double longestWait = argc > 6 ? std::atof(argv[6]) : 600;
    const EncodeProfile* profile = Presets::Find(preset);
    if (!profile || profile->backend != EncodeProfile::Backend::Ffmpeg) {
        std::fprintf(stderr, "no ffmpeg preset named %s\n", qPrintable(preset));
        return 2;
    }
    const QString encoder = EncoderLink(work, EncodeProfile::Backend::Ffmpeg);
    const StreamFile movies[] = {
        MovieJob(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath()),
        MovieJob(QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath())};
    if (movies[0].nDuration <= 0 || movies[1].nDuration <= 0 || encoder.isEmpty()) {
        std::fprintf(stderr, "cannot read the movies or link tools/ffmpeg\n");
        return 1;
    }
    const QString outputs[] = {folder + QStringLiteral("/sdr"), folder + QStringLiteral("/hdr")};
    std::vector<TimedEncode> runs[2];
    int failed = 0;
    for (int round = 0; round < rounds; ++round) {
        // Alternate the order so that a drifting machine load favours neither.
        for (int turn = 0; turn < 2; ++turn) {
            const int which = (turn + round) % 2;
            QDir(outputs[which]).removeRecursively();
            QDir().mkpath(outputs[which]);
            WaitForQuiet(QuietShare, longestWait);
            const RunFigures run =
                EncodeThroughRun({movies[which]}, encoder, outputs[which], 0, preset);
            runs[which].push_back(run.Timed());
            failed += run.failed;
        }
    }

    std::printf("%dx%d, %d s, \"%s\" through the run; SDR %s, HDR %s\n", movies[0].nWidth,
                movies[0].nHeight, movies[0].nDuration, qPrintable(preset), argv[1], argv[2]);
    // The quiet encodes (others below a tenth of the cores) when both have one.
    const bool quiet = AnyQuiet(runs[0]) && AnyQuiet(runs[1]);
    const EncodeMeans sdr = PrintMeans("SDR", runs[0], quiet);
    const EncodeMeans hdr = PrintMeans("HDR", runs[1], quiet);
    if (!quiet)
        std::printf("no quiet encode of each: the wall times are unreliable\n");
    const double ratio = hdr.wall / sdr.wall;
    std::printf("wall HDR / SDR: %.3f (target <= %.1f) %s; CPU: %.3f\n", ratio, TargetRatio,
                ratio <= TargetRatio ? "ok" : "MISSED", hdr.cpu / sdr.cpu);
    std::printf("outputs: %s and %s\n", qPrintable(outputs[0]), qPrintable(outputs[1]));
    if (failed) {
        std::printf("encodes failed: %d\n", failed);
        return 1;
    }
    return 0;
}
