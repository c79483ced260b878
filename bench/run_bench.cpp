// Encoding-run benchmark: the same movies encoded by the real encoder twice in
// one process, once through the run (CEncodingRun with its runner, parser and
// timer) and once by starting the same encoder argument vectors directly, one
// after another, with the same priority and session but no reader. The preset
// says which encoder (default "Pocket PC Normal", mencoder; "Phone and Tablet"
// measures the ffmpeg back end). Prints the
// wall-time ratio (front end / direct) and the front end's own CPU time (this
// process, children excluded) as a share of the run's wall time. The run checks
// each output for a whole movie (the jobs carry their probed lengths, as in
// the program); that check is also timed on its own. Each way first waits (up to
// ten minutes) until the machine's other processes leave it all but idle, and
// the ratio counts the rounds they left quiet when there are any.
//
//   run_bench <folder with .mpg movies> [width height] [rounds] [preset]
#include "BenchSupport.h"
#include "engine/CommandLine.h"
#include "engine/Encode.h"
#include "engine/Presets.h"
#include "jobs/MediaProbe.h"

#include <algorithm>
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

QString OutputIn(const QString& folder, const StreamFile& job, const EncodeProfile& profile)
{
    return folder + QLatin1Char('/') + QFileInfo(job.strFileName).completeBaseName() +
           profile.Extension();
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
    double others = 0;    // the machine's other processes' CPU time meanwhile

    void Add(const Figures& more)
    {
        wall += more.wall;
        cpu += more.cpu;
        failed += more.failed;
        checkWall += more.checkWall;
        others += more.others;
    }
};

Figures EncodeDirect(const std::vector<StreamFile>& jobs, const EncodeProfile& profile,
                     const QString& encoder, const QString& folder)
{
    QDir().mkpath(folder);
    Figures figures;
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    const double encoderCpu = ChildCpuSeconds();
    const double machineCpu = MachineCpuSeconds();
    for (const StreamFile& job : jobs) {
        // The command lines the run would start for the job, one after another.
        CEncode::Setup setup;
        setup.movie = job;
        setup.strOutput = OutputIn(folder, job, profile);
        setup.strProgram = encoder;
        const std::unique_ptr<CEncode> encode = MakeEncode(profile, setup);
        if (encode->Prepare()) {
            ++figures.failed;
            continue;
        }
        for (;;) {
            const int status = RunDirect(SplitCommandLine(encode->CommandLine()));
            if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
                ++figures.failed;
                break;
            }
            if (encode->StepSucceeded(QFileInfo(setup.strOutput).size()) == CEncode::StepEnd::Done)
                break;
        }
    }
    figures.cpu = CpuSeconds() - cpu;
    figures.wall = Since(start);
    figures.others = std::max(0.0, MachineCpuSeconds() - machineCpu - figures.cpu -
                                       (ChildCpuSeconds() - encoderCpu));
    return figures;
}

Figures EncodeThroughRun(const std::vector<StreamFile>& jobs, const EncodeProfile& profile,
                         const QString& encoder, const QString& folder)
{
    // One encoder at a time, as the direct encodes run (bench/parallel.sh
    // measures several at once).
    const RunFigures run = Bench::EncodeThroughRun(jobs, encoder, folder, 1, profile.strName);
    Figures figures;
    figures.wall = run.wall;
    figures.cpu = run.cpu;
    figures.failed = run.failed;
    figures.others = run.othersCpu;

    // The same probing the run's check did, once more, timed alone.
    const auto checkStart = Clock::now();
    for (const StreamFile& job : jobs) {
        const MovieContent content = ProbeMovieContent(OutputIn(folder, job, profile));
        figures.failed += !content.bHasPicture;
    }
    figures.checkWall = Since(checkStart);
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: run_bench <folder with .mpg movies> [width height] [rounds] "
                             "[preset]\n");
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
    const EncodeProfile* found =
        Presets::Find(argc > 5 ? QString::fromLocal8Bit(argv[5]) : Presets::All().front().strName);
    if (!found) {
        std::fprintf(stderr, "no preset named %s\n", argv[5]);
        return 2;
    }
    // The run evens loudness as the stored settings do by default.
    const EncodeProfile& profile = *found;

    const std::vector<StreamFile> jobs = MoviesIn(media, width, height);
    if (jobs.empty()) {
        std::fprintf(stderr, "no .mpg movies in %s\n", argv[1]);
        return 2;
    }
    const QString encoder = EncoderLink(work, profile.backend);
    if (encoder.isEmpty()) {
        std::fprintf(stderr, "cannot link tools/%s\n", Backends::Of(profile.backend).program);
        return 1;
    }

    std::printf("%zu movies, %dx%d, %d round(s), preset \"%s\" (%s); the encoder runs at nice "
                "+10 in both ways\n",
                jobs.size(), width, height, rounds, qPrintable(profile.strName),
                Backends::Of(profile.backend).program);
    const double cores = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    const auto quiet = [cores](const Figures& f) {
        return f.others <= QuietShare * f.wall * cores;
    };
    std::vector<std::pair<Figures, Figures>> all; // direct, through the run
    for (int round = 0; round < rounds; ++round) {
        // Alternate the order so that a drifting machine load favours neither way.
        const QString base = work.filePath(QStringLiteral("round%1-").arg(round));
        Figures d, f;
        const auto direct = [&] {
            WaitForQuiet(QuietShare, 600);
            d = EncodeDirect(jobs, profile, encoder, base + QStringLiteral("direct"));
        };
        const auto run = [&] {
            WaitForQuiet(QuietShare, 600);
            f = EncodeThroughRun(jobs, profile, encoder, base + QStringLiteral("run"));
        };
        if (round % 2 == 0) {
            direct();
            run();
        } else {
            run();
            direct();
        }
        std::printf("round %d: direct %.3f s (own CPU %.3f s, others %.0f%%), run %.3f s (own CPU "
                    "%.3f s, others %.0f%%), ratio %.4f\n",
                    round + 1, d.wall, d.cpu, 100 * d.others / (d.wall * cores), f.wall, f.cpu,
                    100 * f.others / (f.wall * cores), f.wall / d.wall);
        all.emplace_back(d, f);
    }
    // The rounds the machine's other processes left quiet, or all when none was.
    const bool anyQuiet = std::any_of(all.begin(), all.end(), [&quiet](const auto& round) {
        return quiet(round.first) && quiet(round.second);
    });
    Figures direct, frontEnd;
    int counted = 0;
    for (const auto& [d, f] : all) {
        if (anyQuiet && !(quiet(d) && quiet(f)))
            continue;
        direct.Add(d);
        frontEnd.Add(f);
        ++counted;
    }
    std::printf("%d %s round(s) counted\n", counted, anyQuiet ? "quiet" : "(none quiet)");

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
                1000.0 * frontEnd.checkWall / (counted * double(jobs.size())),
                100.0 * frontEnd.checkWall / frontEnd.wall);
    int failedDirect = 0, failedRun = 0;
    for (const auto& [d, f] : all) {
        failedDirect += d.failed;
        failedRun += f.failed;
    }
    if (failedDirect || failedRun) {
        std::printf("encodes failed: direct %d, run %d\n", failedDirect, failedRun);
        return 1;
    }
    return 0;
}
