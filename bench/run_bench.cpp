// Encoding-run benchmark: the same movies encoded by the real encoder twice in
// one process, once through the run (CEncodingRun with its runner, parser and
// timer) and once by starting the same encoder argument vectors directly, one
// after another, with the same priority and session but no reader. Prints the
// wall-time ratio (front end / direct) and the front end's own CPU time (this
// process, children excluded) as a share of the run's wall time. The run checks
// each output for a whole movie (the jobs carry their probed lengths, as in
// the program); that check is also timed on its own.
//
//   run_bench <folder with .mpg movies> [width height] [rounds]
#include "BenchSupport.h"
#include "engine/CommandLine.h"
#include "engine/EncodeSetting.h"
#include "jobs/MediaProbe.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

using namespace Bench;

QString OutputIn(const QString& folder, const StreamFile& job)
{
    return folder + QLatin1Char('/') + QFileInfo(job.strFileName).completeBaseName() +
           QStringLiteral(".avi");
}

// Starts one encoder the way the runner does (own session, nice +10) but with
// its output going nowhere, and waits for it. Returns its exit status.
int RunDirect(const QStringList& args)
{
    NativeArgv argv(args);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        (void)!nice(10);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv.Data()[0], argv.Data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

struct Figures
{
    double wall = 0;
    double cpu = 0;
    int failed = 0;
    double checkWall = 0; // the output check alone, all jobs
};

Figures EncodeDirect(const std::vector<StreamFile>& jobs, const QString& encoder,
                     const QString& folder)
{
    QDir().mkpath(folder);
    Figures figures;
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    for (const StreamFile& job : jobs) {
        const QString arguments =
            EncodeSetting().BuildCommandLine({}, OutputIn(folder, job), false, job);
        const int status = RunDirect(SplitCommandLine(MakeProcessCommandLine(encoder, arguments)));
        figures.failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    figures.cpu = CpuSeconds() - cpu;
    figures.wall = Since(start);
    return figures;
}

Figures EncodeThroughRun(const std::vector<StreamFile>& jobs, const QString& encoder,
                         const QString& folder)
{
    // One encoder at a time, as the direct encodes run (bench/parallel.sh
    // measures several at once).
    const RunFigures run = Bench::EncodeThroughRun(jobs, encoder, folder, 1);
    Figures figures;
    figures.wall = run.wall;
    figures.cpu = run.cpu;
    figures.failed = run.failed;

    // The same probing the run's check did, once more, timed alone.
    const auto checkStart = Clock::now();
    for (const StreamFile& job : jobs) {
        const MovieContent content = ProbeMovieContent(OutputIn(folder, job));
        figures.failed += !content.bHasPicture;
    }
    figures.checkWall = Since(checkStart);
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: run_bench <folder with .mpg movies> [width height] [rounds]\n");
        return 2;
    }
    // Settings and run logs go to a private folder, never to the user's own.
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    UsePrivateHome(work);
    QCoreApplication app(argc, argv);

    const QString media = QString::fromLocal8Bit(argv[1]);
    const int width = argc > 3 ? std::atoi(argv[2]) : 640;
    const int height = argc > 3 ? std::atoi(argv[3]) : 480;
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 1;

    const std::vector<StreamFile> jobs = MoviesIn(media, width, height);
    if (jobs.empty()) {
        std::fprintf(stderr, "no .mpg movies in %s\n", argv[1]);
        return 2;
    }
    const QString encoder = EncoderLink(work);
    if (encoder.isEmpty()) {
        std::fprintf(stderr, "cannot link tools/mencoder\n");
        return 1;
    }

    std::printf("%zu movies, %dx%d, %d round(s); the encoder runs at nice +10 in both ways\n",
                jobs.size(), width, height, rounds);
    Figures direct, frontEnd;
    for (int round = 0; round < rounds; ++round) {
        // Alternate the order so that a drifting machine load favours neither way.
        const QString base = work.filePath(QStringLiteral("round%1-").arg(round));
        Figures d, f;
        if (round % 2 == 0) {
            d = EncodeDirect(jobs, encoder, base + QStringLiteral("direct"));
            f = EncodeThroughRun(jobs, encoder, base + QStringLiteral("run"));
        } else {
            f = EncodeThroughRun(jobs, encoder, base + QStringLiteral("run"));
            d = EncodeDirect(jobs, encoder, base + QStringLiteral("direct"));
        }
        std::printf(
            "round %d: direct %.3f s (own CPU %.3f s), run %.3f s (own CPU %.3f s), ratio %.4f\n",
            round + 1, d.wall, d.cpu, f.wall, f.cpu, f.wall / d.wall);
        direct.wall += d.wall;
        direct.cpu += d.cpu;
        direct.failed += d.failed;
        frontEnd.wall += f.wall;
        frontEnd.cpu += f.cpu;
        frontEnd.failed += f.failed;
        frontEnd.checkWall += f.checkWall;
    }

    const double ratio = frontEnd.wall / direct.wall;
    const double cpuShare = 100.0 * frontEnd.cpu / frontEnd.wall;
    std::printf("direct (baseline):        wall %.3f s, own CPU %.3f s\n", direct.wall, direct.cpu);
    std::printf("through the run:          wall %.3f s, own CPU %.3f s\n", frontEnd.wall,
                frontEnd.cpu);
    std::printf("wall ratio run / direct:  %.4f  (target <= 1.02) %s\n", ratio,
                ratio <= 1.02 ? "ok" : "MISSED");
    std::printf("front-end CPU share:      %.3f %% of wall  (target <= 1 %%) %s\n", cpuShare,
                cpuShare <= 1.0 ? "ok" : "MISSED");
    std::printf("output check:             %.3f ms per movie, %.4f %% of the run's wall time\n",
                1000.0 * frontEnd.checkWall / (rounds * double(jobs.size())),
                100.0 * frontEnd.checkWall / frontEnd.wall);
    if (direct.failed || frontEnd.failed) {
        std::printf("encodes failed: direct %d, run %d\n", direct.failed, frontEnd.failed);
        return 1;
    }
    return 0;
}
