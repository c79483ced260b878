// Parallel-encoding benchmark: each batch through the run twice in one process,
// once with one encoder at a time ("Parallel" 1) and once automatically (one
// encoder per core), for two batches: movies of equal length, and one long
// movie listed last behind short ones whose lengths add up to it. Prints both
// wall times, the speed-up, the ideal (the smaller of the number of cores and
// of jobs) and the front end's own CPU time (this process, children excluded)
// as a share of the wall time, each against its target.
//
//   parallel_bench <equal batch folder> <mixed batch folder> [width height] [rounds]
#include "BenchSupport.h"
#include "engine/StoredSettings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QCoreApplication>
#include <QTemporaryDir>

namespace {

using namespace Bench;

struct Totals
{
    double wall = 0;
    double cpu = 0;
    int failed = 0;
    double longestJob = 0; // the longest job's own time, one at a time

    void Add(const RunFigures& run)
    {
        wall += run.wall;
        cpu += run.cpu;
        failed += run.failed;
        if (!run.jobSeconds.empty())
            longestJob += *std::max_element(run.jobSeconds.begin(), run.jobSeconds.end());
    }
};

const char* Verdict(bool met)
{
    return met ? "ok" : "MISSED";
}

void PrintWay(const char* way, const Totals& totals, int rounds, std::size_t jobs)
{
    std::printf("  %-14s wall %8.3f s, front-end CPU %.3f s (%.2f ms a job, %.3f %% of wall)\n",
                way, totals.wall / rounds, totals.cpu / rounds,
                1000.0 * totals.cpu / rounds / double(jobs), 100.0 * totals.cpu / totals.wall);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: parallel_bench <equal batch folder> <mixed batch folder> "
                             "[width height] [rounds]\n");
        return 2;
    }
    // Settings and run logs go to a private folder, never to the user's own.
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    UsePrivateHome(work);
    QCoreApplication app(argc, argv);

    const int width = argc > 4 ? std::atoi(argv[3]) : 640;
    const int height = argc > 4 ? std::atoi(argv[4]) : 480;
    const int rounds = argc > 5 ? std::max(1, std::atoi(argv[5])) : 1;
    const QString encoder = EncoderLink(work);
    if (encoder.isEmpty()) {
        std::fprintf(stderr, "cannot link tools/mencoder\n");
        return 1;
    }
    const int cores = StoredSettings::CoreCount();
    const int encoders = StoredSettings().EncodesAtOnce();
    std::printf("%d cores, %d encoders at once automatically, %dx%d, %d round(s)\n", cores,
                encoders, width, height, rounds);

    int failed = 0;
    double cpu = 0;
    double wall = 0;
    bool allMet = true;
    for (const bool mixed : {false, true}) {
        const QString folder = QString::fromLocal8Bit(argv[mixed ? 2 : 1]);
        const std::vector<StreamFile> jobs = MoviesIn(folder, width, height);
        if (jobs.empty()) {
            std::fprintf(stderr, "no .mpg movies in %s\n", qPrintable(folder));
            return 2;
        }
        Totals single, automatic;
        std::printf("%s batch:", mixed ? "mixed" : "equal");
        for (int round = 0; round < rounds; ++round) {
            // Alternate the order so that a drifting machine load favours neither way.
            const QString base = work.filePath(QStringLiteral("%1-round%2-").arg(mixed).arg(round));
            for (int way = 0; way < 2; ++way) {
                const bool one = (way + round) % 2 == 0;
                const RunFigures run = EncodeThroughRun(
                    jobs, encoder, base + (one ? QStringLiteral("one") : QStringLiteral("auto")),
                    one ? 1 : 0);
                (one ? single : automatic).Add(run);
                std::printf(" %s %.3f s", one ? "one" : "auto", run.wall);
            }
            std::printf(round + 1 < rounds ? ";" : "\n");
        }
        std::printf("  %zu movies, %s\n", jobs.size(),
                    mixed ? "a long one listed last behind short ones of the same total"
                          : "all of the same length");
        PrintWay("one at a time:", single, rounds, jobs.size());
        PrintWay("automatic:", automatic, rounds, jobs.size());
        const int ideal = std::min<int>(cores, int(jobs.size()));
        const double speedUp = single.wall / automatic.wall;
        std::printf("  speed-up %.3f, ideal %d", speedUp, ideal);
        if (!mixed) {
            const bool met = speedUp >= 0.9 * ideal;
            std::printf("  (target >= %.2f) %s\n", 0.9 * ideal, Verdict(met));
            allMet = allMet && met;
        } else {
            const double longest = single.longestJob / rounds;
            const double bound = 1.1 * std::max(longest, single.wall / rounds / cores);
            const bool met = automatic.wall / rounds <= bound;
            std::printf("\n  longest job %.3f s, sequential / cores %.3f s: automatic wall "
                        "%.3f s (target <= %.3f s) %s\n",
                        longest, single.wall / rounds / cores, automatic.wall / rounds, bound,
                        Verdict(met));
            allMet = allMet && met;
        }
        failed += single.failed + automatic.failed;
        cpu += automatic.cpu;
        wall += automatic.wall;
    }
    const double share = 100.0 * cpu / wall;
    std::printf("front-end CPU share, automatic runs: %.3f %% of wall (target <= 1 %%) %s\n", share,
                Verdict(share <= 1.0));
    allMet = allMet && share <= 1.0;
    std::printf("%s\n", allMet ? "all targets met" : "some targets MISSED");
    if (failed) {
        std::printf("encodes failed: %d\n", failed);
        return 1;
    }
    return 0;
}
