// Arrangement benchmark: one batch of movies encoded through the run with an
// ffmpeg preset under each way of sharing the cores, in one process: 1, 2, 4
// and one per core encodes at once, each with the threads the run gives an
// encoder when that many run at once (the cores divided among them) and with
// ffmpeg's own thread count, and "Automatic" (what the stored "Parallel" 0
// makes of this machine). Each round runs the arrangements in turn, every
// other round in reverse order, so that a drifting machine load favours none.
// Prints each arrangement's wall time, the encoders' CPU time, the share of the
// cores they kept busy and the load average, then Automatic against the
// fastest arrangement (target: at most 1.05 times its wall time).
//
//   arrange_bench <folder with .mp4 movies> [rounds] [preset]
#include "BenchSupport.h"
#include "engine/Presets.h"
#include "engine/StoredSettings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

using namespace Bench;

struct Arrangement
{
    QString name;
    bool automatic = false;
    RunPlan::Arrangement cores; // unused for Automatic
    double wall = 0;
    double cpu = 0;
    double load = 0;
    int failed = 0;
    std::vector<double> walls;
    std::vector<double> cpus;
};

// The one-minute load average, the machine's other work included.
double LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readLine().split(' ').value(0).toDouble();
}

QString ThreadsText(int threads)
{
    return threads > 0 ? QStringLiteral("%1 thread%2").arg(threads).arg(threads > 1 ? "s" : "")
                       : QStringLiteral("ffmpeg's own threads");
}

std::vector<Arrangement> Arrangements(int cores)
{
    std::vector<Arrangement> all;
    for (const int encodes : std::set<int>{1, 2, 4, cores}) {
        for (const int threads : {std::max(1, cores / encodes), 0}) {
            Arrangement a;
            a.name = QStringLiteral("%1 at once, %2").arg(encodes).arg(ThreadsText(threads));
            a.cores = {encodes, threads};
            all.push_back(a);
        }
    }
    Arrangement automatic;
    automatic.automatic = true;
    all.push_back(automatic);
    return all;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: arrange_bench <folder with .mp4 movies> [rounds] [preset]\n");
        return 2;
    }
    // Settings and run logs go to a private folder, never to the user's own.
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    UsePrivateHome(work);
    QCoreApplication app(argc, argv);

    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const QString preset =
        argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("Phone and Tablet");
    const EncodeProfile* profile = Presets::Find(preset);
    if (!profile || profile->backend != EncodeProfile::Backend::Ffmpeg) {
        std::fprintf(stderr, "no ffmpeg preset named %s\n", qPrintable(preset));
        return 2;
    }
    const std::vector<StreamFile> jobs =
        MoviesIn(QString::fromLocal8Bit(argv[1]), 0, 0, QStringLiteral("*.mp4"));
    if (jobs.empty()) {
        std::fprintf(stderr, "no .mp4 movies in %s\n", argv[1]);
        return 2;
    }
    const QString encoder = EncoderLink(work, QStringLiteral("ffmpeg"));
    if (encoder.isEmpty()) {
        std::fprintf(stderr, "cannot link tools/ffmpeg\n");
        return 1;
    }

    const int cores = StoredSettings::CoreCount();
    StoreRunSettings(work.filePath(QStringLiteral("out")), 0, preset);
    const RunPlan automaticPlan = RunPlan::FromSettings(StoredSettings::Load(), false);
    RunPlan batch = automaticPlan;
    batch.jobs = jobs;
    std::vector<Arrangement> all = Arrangements(cores);
    all.back().name = QStringLiteral("Automatic: %1 at once, %2")
                          .arg(batch.nEncodesAtOnce)
                          .arg(ThreadsText(batch.ThreadsPerEncoder()));
    std::printf("%zu movies %dx%d, preset \"%s\", %d cores, %d round(s); the encoders run at "
                "nice +10\n",
                jobs.size(), jobs.front().nWidth, jobs.front().nHeight, qPrintable(preset), cores,
                rounds);

    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d:", round + 1);
        for (std::size_t i = 0; i < all.size(); ++i) {
            Arrangement& a = all[round % 2 == 0 ? i : all.size() - 1 - i];
            const QString folder = work.filePath(QStringLiteral("out"));
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
            RunPlan plan = automaticPlan;
            if (!a.automatic) {
                plan.nEncodesAtOnce = a.cores.nEncodesAtOnce;
                plan.nThreadsPerEncoder = a.cores.nThreadsPerEncoder;
            }
            const double load = LoadAverage();
            const RunFigures run = EncodePlan(jobs, encoder, plan);
            a.wall += run.wall;
            a.cpu += run.encoderCpu;
            a.load += load;
            a.failed += run.failed;
            a.walls.push_back(run.wall);
            a.cpus.push_back(run.encoderCpu);
            std::printf(" %.1f", run.wall);
            std::fflush(stdout);
        }
        std::printf(" s\n");
    }
    QDir(work.filePath(QStringLiteral("out"))).removeRecursively();

    std::printf("%-42s %9s %9s %7s %6s  %s\n", "arrangement", "wall s", "CPU s", "busy", "load",
                "each round: wall/CPU s");
    const Arrangement* best = nullptr;
    const Arrangement* leanest = nullptr;
    int failed = 0;
    for (const Arrangement& a : all) {
        QStringList walls;
        for (std::size_t r = 0; r < a.walls.size(); ++r)
            walls << QString::number(a.walls[r], 'f', 1) + QLatin1Char('/') +
                         QString::number(a.cpus[r], 'f', 1);
        // The share of all cores the encoders kept busy over the wall time.
        const double busy = 100.0 * a.cpu / (a.wall * cores);
        std::printf("%-42s %9.1f %9.1f %6.0f%% %6.2f  %s\n", qPrintable(a.name), a.wall / rounds,
                    a.cpu / rounds, busy, a.load / rounds, qPrintable(walls.join(' ')));
        failed += a.failed;
        if (a.automatic)
            continue;
        if (!best || a.wall < best->wall)
            best = &a;
        if (!leanest || a.cpu < leanest->cpu)
            leanest = &a;
    }
    const Arrangement& automatic = all.back();
    const double ratio = automatic.wall / best->wall;
    std::printf("fastest: %s; least CPU: %s\n", qPrintable(best->name), qPrintable(leanest->name));
    std::printf("Automatic / fastest wall: %.3f (target <= 1.05) %s; CPU against the least: %.3f\n",
                ratio, ratio <= 1.05 ? "ok" : "MISSED", automatic.cpu / leanest->cpu);
    if (failed) {
        std::printf("encodes failed: %d\n", failed);
        return 1;
    }
    return 0;
}
