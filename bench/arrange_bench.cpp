// Arrangement benchmark: a batch of movies, and the same without its last movie
// (a batch that does not divide among the encodes, so that one movie ends up
// encoding alone), encoded through the run with an ffmpeg preset under each way
// of sharing the cores, in one process: 1, 2, 4
// and one per core encodes at once, each with the threads the run gives an
// encoder when that many run at once (the cores divided among them) and with
// ffmpeg's own thread count, and "Automatic" (what the stored "Parallel" 0
// makes of this machine). Each round runs the arrangements in turn, each round
// starting one later, so that a drifting machine favours none; the figures
// compared are each arrangement's medians over the rounds.
//
// On a machine shared with other work the wall times rank the arrangements by
// how many processes they run rather than by their merit (each encoder has a
// session, and so a scheduling group, of its own: more encoders get a larger
// share of a busy machine). So each arrangement waits until the machine's other
// processes are all but idle, the CPU time they take meanwhile is measured, and
// the comparison uses the quiet encodes (others below a tenth of the cores)
// where every arrangement has one. Prints each arrangement's wall time, the
// encoders' CPU time, the share of the cores they kept busy and the others'
// share, then Automatic against the fastest (target: at most 1.05 times).
//
//   arrange_bench <folder with .mp4 movies> [rounds] [preset] [longest wait for quiet, s]
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
#include <QTemporaryDir>

namespace {

using namespace Bench;

struct Arrangement
{
    QString name;
    bool automatic = false;
    RunPlan::Arrangement cores; // unused for Automatic
    std::vector<RunFigures> runs;

    // The runs the comparison uses: the quiet ones, or all when quiet is false.
    std::vector<const RunFigures*> Runs(bool quiet, int cores) const
    {
        std::vector<const RunFigures*> chosen;
        for (const RunFigures& run : runs) {
            if (!quiet || run.othersCpu <= QuietShare * run.wall * cores)
                chosen.push_back(&run);
        }
        return chosen;
    }
    // The median of the chosen runs: one round slowed by the machine weighs
    // less than in a mean.
    double Median(bool quiet, int cores, double RunFigures::*figure) const
    {
        std::vector<double> values;
        for (const RunFigures* run : Runs(quiet, cores))
            values.push_back(run->*figure);
        if (values.empty())
            return 0;
        std::sort(values.begin(), values.end());
        const std::size_t middle = values.size() / 2;
        return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    }
};

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

struct Setup
{
    QString folder; // the outputs
    QString encoder;
    RunPlan automatic; // what the stored settings make, without jobs
    int cores = 1;
    int rounds = 1;
    double longestWait = 600;
};

// Runs the batch under every arrangement and prints the comparison; the number
// of failed encodes, and whether Automatic met its target, through met.
int CompareArrangements(const Setup& bench, const std::vector<StreamFile>& jobs, bool& met)
{
    const int cores = bench.cores;
    RunPlan batch = bench.automatic;
    // As many jobs, for the threads they are given.
    batch.jobs.resize(jobs.size());
    std::vector<Arrangement> all = Arrangements(cores);
    all.back().name = QStringLiteral("Automatic: %1 at once, %2")
                          .arg(batch.nEncodesAtOnce)
                          .arg(ThreadsText(batch.ThreadsPerEncoder()));
    std::printf("\nA batch of %zu movies:\n", jobs.size());
    int failed = 0;
    for (int round = 0; round < bench.rounds; ++round) {
        std::printf("round %d (wall s, others' share of the cores):", round + 1);
        for (std::size_t i = 0; i < all.size(); ++i) {
            // Each round starts one arrangement later, so that each takes
            // every place in a round in turn.
            Arrangement& a = all[(i + std::size_t(round)) % all.size()];
            QDir(bench.folder).removeRecursively();
            QDir().mkpath(bench.folder);
            RunPlan plan = bench.automatic;
            if (!a.automatic) {
                plan.nEncodesAtOnce = a.cores.nEncodesAtOnce;
                plan.nThreadsPerEncoder = a.cores.nThreadsPerEncoder;
            }
            WaitForQuiet(QuietShare, bench.longestWait);
            const RunFigures run = EncodePlan(jobs, bench.encoder, plan);
            a.runs.push_back(run);
            failed += run.failed;
            std::printf(" %.1f (%.0f%%)", run.wall, 100 * run.othersCpu / (run.wall * cores));
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    QDir(bench.folder).removeRecursively();
    // Quiet encodes where every arrangement has one, otherwise all of them.
    const bool quiet = std::all_of(all.begin(), all.end(), [cores](const Arrangement& a) {
        return !a.Runs(true, cores).empty();
    });
    std::printf("medians of the %s encodes (%s):\n", quiet ? "quiet" : "",
                quiet ? "the machine's other processes below a tenth of its cores"
                      : "not every arrangement had a quiet one: wall times are unreliable");
    std::printf("%-42s %7s %7s %6s %7s %7s  %s\n", "arrangement", "wall s", "CPU s", "busy",
                "others", "encodes", "each round: wall/CPU s/others");
    const Arrangement* best = nullptr;
    const Arrangement* leanest = nullptr;
    for (const Arrangement& a : all) {
        QStringList each;
        for (const RunFigures& run : a.runs)
            each << QStringLiteral("%1/%2/%3%")
                        .arg(run.wall, 0, 'f', 1)
                        .arg(run.encoderCpu, 0, 'f', 1)
                        .arg(100 * run.othersCpu / (run.wall * cores), 0, 'f', 0);
        const double wall = a.Median(quiet, cores, &RunFigures::wall);
        const double cpu = a.Median(quiet, cores, &RunFigures::encoderCpu);
        const double others = a.Median(quiet, cores, &RunFigures::othersCpu);
        // The share of all cores the encoders, and the other processes, kept busy.
        std::printf("%-42s %7.1f %7.1f %5.0f%% %6.0f%% %7zu  %s\n", qPrintable(a.name), wall, cpu,
                    100 * cpu / (wall * cores), 100 * others / (wall * cores),
                    a.Runs(quiet, cores).size(), qPrintable(each.join(' ')));
        if (a.automatic)
            continue;
        if (!best || wall < best->Median(quiet, cores, &RunFigures::wall))
            best = &a;
        if (!leanest || cpu < leanest->Median(quiet, cores, &RunFigures::encoderCpu))
            leanest = &a;
    }
    const Arrangement& automatic = all.back();
    const double ratio = automatic.Median(quiet, cores, &RunFigures::wall) /
                         best->Median(quiet, cores, &RunFigures::wall);
    std::printf("fastest: %s; least CPU: %s\n", qPrintable(best->name), qPrintable(leanest->name));
    met = ratio <= 1.05;
    std::printf("Automatic / fastest wall: %.3f (target <= 1.05) %s; CPU against the least: %.3f\n",
                ratio, met ? "ok" : "MISSED",
                automatic.Median(quiet, cores, &RunFigures::encoderCpu) /
                    leanest->Median(quiet, cores, &RunFigures::encoderCpu));
    return failed;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: arrange_bench <folder with .mp4 movies> [rounds] [preset] "
                             "[longest wait for quiet, s]\n");
        return 2;
    }
    // Settings and run logs go to a private folder, never to the user's own.
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    UsePrivateHome(work);
    QCoreApplication app(argc, argv);

    Setup bench;
    bench.rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const QString preset =
        argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("Phone and Tablet");
    bench.longestWait = argc > 4 ? std::atof(argv[4]) : 600;
    const EncodeProfile* profile = Presets::Find(preset);
    if (!profile || profile->backend != EncodeProfile::Backend::Ffmpeg) {
        std::fprintf(stderr, "no ffmpeg preset named %s\n", qPrintable(preset));
        return 2;
    }
    std::vector<StreamFile> jobs =
        MoviesIn(QString::fromLocal8Bit(argv[1]), 0, 0, QStringLiteral("*.mp4"));
    if (jobs.size() < 2) {
        std::fprintf(stderr, "fewer than 2 .mp4 movies in %s\n", argv[1]);
        return 2;
    }
    bench.encoder = EncoderLink(work, EncodeProfile::Backend::Ffmpeg);
    if (bench.encoder.isEmpty()) {
        std::fprintf(stderr, "cannot link tools/ffmpeg\n");
        return 1;
    }

    bench.cores = StoredSettings::CoreCount();
    bench.folder = work.filePath(QStringLiteral("out"));
    StoreRunSettings(bench.folder, 0, preset);
    bench.automatic = RunPlan::FromSettings(StoredSettings::Load(), false);
    std::printf("movies %dx%d, preset \"%s\", %d cores, %d round(s); the encoders run at nice "
                "+10; each arrangement waits up to %.0f s for the machine's other processes to "
                "use less than %.0f %% of it\n",
                jobs.front().nWidth, jobs.front().nHeight, qPrintable(preset), bench.cores,
                bench.rounds, bench.longestWait, 100 * QuietShare);

    // The whole batch, then all but its last movie: a batch that does not
    // divide among the encodes ends with one encoding alone.
    bool met = true;
    int failed = 0;
    for (const std::size_t count : {jobs.size(), jobs.size() - 1}) {
        bool batchMet = false;
        failed += CompareArrangements(
            bench, std::vector<StreamFile>(jobs.begin(), jobs.begin() + long(count)), batchMet);
        met = met && batchMet;
    }
    std::printf("\n%s\n",
                met ? "Automatic met its target in both batches" : "Automatic MISSED its target");
    if (failed) {
        std::printf("encodes failed: %d\n", failed);
        return 1;
    }
    return 0;
}
