// Segmented encodes (engine/SegmentPlan, SegmentCommand, SegmentWork) against
// encodes of the whole movie, with the real ffmpeg.
//
//   segments_bench compare <movie> <folder> <preset> <segment seconds> <at once>
//                  [longest wait for quiet, s]
//     The whole encode, then the segmented one with its segments (the longest
//     first) and its sound run <at once> side by side and the join after them;
//     each ffmpeg in a session of its own at nice +10, as the run starts
//     encoders. Prints each one's wall and CPU time, the machine's other
//     processes' share meanwhile, the plan, the frame counts, the bytes and the
//     end of sound and picture; the outputs are <folder>/whole.<ext> and
//     <folder>/joined.<ext>.
//   segments_bench kinds <folder> <preset>...
//     Every input kind of the tests (3 s, 160x120, numbered pictures, a key
//     frame every 12) through each preset in segments of a second: whether it
//     is cut, and when it is, whether the join shows the whole encode's
//     picture on every frame, at its times, with its sound.
//   segments_bench keyframes <movie>...
//     The key frame probe's time on each movie, three times.
#include "BenchSupport.h"
#include "engine/CommandLine.h"
#include "engine/FfmpegCommand.h"
#include "engine/Presets.h"
#include "engine/SegmentCommand.h"
#include "engine/SegmentPlan.h"
#include "engine/SegmentWork.h"
#include "jobs/KeyFrames.h"
#include "jobs/MediaProbe.h"
#include "tests/engine/test_run_support.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MovieInspector.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

using namespace Bench;

QStringList WithoutProgress(QStringList args)
{
    const qsizetype at = args.indexOf(QStringLiteral("-progress"));
    if (at >= 0)
        args.remove(at, 2);
    return args;
}

// Starts ffmpeg as the run starts an encoder: its own session, nice +10, its
// messages to log.
pid_t Start(const QStringList& args, const QString& log)
{
    NativeArgv argv(QStringList{QStringLiteral("ffmpeg")} + WithoutProgress(args));
    const QByteArray logName = QFile::encodeName(log);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        (void)!nice(10);
        const int null = open("/dev/null", O_RDWR);
        const int text = open(logName.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(null, 0);
        dup2(null, 1);
        dup2(text, 2);
        execvp(argv.Data()[0], argv.Data());
        _exit(127);
    }
    return pid;
}

struct Timed
{
    double wall = 0;
    double cpu = 0;
    double others = 0;
    bool ok = true;
};

// Runs the commands, at most atOnce at a time, in order; then the last one
// (the join) alone when join is set.
Timed RunAll(const std::vector<QStringList>& commands, int atOnce, const QString& log)
{
    Timed timed;
    const double machine = MachineCpuSeconds();
    const auto start = Clock::now();
    std::deque<QStringList> waiting(commands.begin(), commands.end());
    int running = 0;
    while (!waiting.empty() || running > 0) {
        while (running < atOnce && !waiting.empty()) {
            if (Start(waiting.front(), log) < 0)
                timed.ok = false;
            else
                ++running;
            waiting.pop_front();
        }
        int status = 0;
        rusage usage{};
        if (wait4(-1, &status, 0, &usage) < 0)
            break;
        --running;
        timed.cpu += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        timed.ok = timed.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    timed.wall = Since(start);
    timed.others = std::max(0.0, MachineCpuSeconds() - machine - timed.cpu);
    return timed;
}

void Print(const char* what, const Timed& timed)
{
    const double cores = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("%-34s wall %8.2f s  CPU %8.2f s  others %3.0f %% of the cores%s\n", what,
                timed.wall, timed.cpu, 100 * timed.others / (timed.wall * cores),
                timed.ok ? "" : "  FAILED");
}

FfmpegCommand::Request RequestFor(const QString& movie, const QString& output,
                                  const QString& preset)
{
    FfmpegCommand::Request request;
    request.profile = *Presets::Find(preset);
    request.strInput = movie;
    request.strOutput = output;
    request.source = ProbeMovieTiming(movie);
    return request;
}

// The segmented encode's runs: the sound and the segments side by side, then the
// join. What the plan and the work folder say goes to the console.
Timed EncodeSegmented(const FfmpegCommand::Request& request, const SegmentLimits& limits,
                      const QString& folder, int atOnce, const QString& log, SegmentPlan* planned)
{
    Timed total;
    const auto start = Clock::now();
    const double machine = MachineCpuSeconds();
    const KeyFrames keys =
        ProbeKeyFrames(request.strInput, request.source.nVideoStream, request.source.nAudioStream);
    const SegmentPlan plan = PlanSegments(request, keys, limits);
    *planned = plan;
    if (!plan.IsSegmented()) {
        total.ok = false;
        return total;
    }
    CSegmentWork work(folder, request, plan);
    if (!work.Open()) {
        total.ok = false;
        return total;
    }
    // The longest first and the sound, which takes the least time, last: the
    // slots then run out of work together.
    std::vector<int> order = work.Unfinished();
    std::stable_sort(order.begin(), order.end(), [&plan](int a, int b) {
        return plan.arrSegments[a].dSeconds > plan.arrSegments[b].dSeconds;
    });
    std::vector<QStringList> commands;
    for (const int i : order)
        commands.push_back(SegmentCommand::SegmentArguments(request, plan, i, work.PartPath(i)));
    if (request.source.nAudioStream >= 0)
        commands.push_back(SegmentCommand::SoundArguments(request, work.SoundPartPath()));
    const Timed pieces = RunAll(commands, atOnce, log);
    bool ok = pieces.ok;
    for (const int i : work.Unfinished()) {
        if (const std::optional<QString> problem = work.Finish(i)) {
            std::printf("  %s\n", qPrintable(*problem));
            ok = false;
        }
    }
    if (request.source.nAudioStream >= 0 && work.FinishSound())
        ok = false;
    SegmentCommand::JoinPieces join;
    if (const std::optional<QString> problem = work.CheckJoin(join)) {
        std::printf("  %s\n", qPrintable(*problem));
        ok = false;
    }
    const Timed joined = RunAll({SegmentCommand::JoinArguments(request, join)}, 1, log);
    std::printf("  the pieces %.2f s, the join %.2f s\n", pieces.wall, joined.wall);
    total.wall = Since(start);
    total.cpu = pieces.cpu + joined.cpu;
    total.others = std::max(0.0, MachineCpuSeconds() - machine - total.cpu);
    total.ok = ok && joined.ok;
    work.Remove();
    return total;
}

int Compare(const QStringList& args)
{
    const QString movie = args.value(0);
    const QString folder = args.value(1);
    const QString preset = args.value(2);
    const double segment = args.value(3).toDouble();
    const int atOnce = std::max(1, args.value(4).toInt());
    const double wait = args.size() > 5 ? args.value(5).toDouble() : 600;
    if (!Presets::Find(preset) || !(segment > 0))
        return 2;
    QDir().mkpath(folder);
    const QString extension = Presets::Find(preset)->Extension();
    const QString whole = folder + QStringLiteral("/whole") + extension;
    const QString joined = folder + QStringLiteral("/joined") + extension;
    const QString log = folder + QStringLiteral("/ffmpeg.log");
    const FfmpegCommand::Request wholeRequest = RequestFor(movie, whole, preset);
    FfmpegCommand::Request joinedRequest = RequestFor(movie, joined, preset);
    // The segments' encoder threads (-threads); 0 leaves them to ffmpeg.
    joinedRequest.nThreads = qEnvironmentVariableIntValue("SEGMENTS_BENCH_THREADS");

    std::printf("%s, %.1f s, \"%s\", segments of %.0f s, %d at once, %d threads each (0: "
                "ffmpeg's own)\n",
                qPrintable(QFileInfo(movie).fileName()), wholeRequest.source.dSeconds,
                qPrintable(preset), segment, atOnce, joinedRequest.nThreads);
    if (!WaitForQuiet(QuietShare, wait))
        std::printf("  (the machine did not quieten within %.0f s)\n", wait);
    const Timed wholeTimed = RunAll({FfmpegCommand::Arguments(wholeRequest)}, 1, log);
    Print("whole encode", wholeTimed);
    if (!WaitForQuiet(QuietShare, wait))
        std::printf("  (the machine did not quieten within %.0f s)\n", wait);
    SegmentPlan plan;
    const Timed segmented = EncodeSegmented(joinedRequest, SegmentLimits{segment, 0},
                                            folder + QStringLiteral("/work"), atOnce, log, &plan);
    std::printf("plan: %s\n", qPrintable(DescribePlan(plan)));
    Print(qPrintable(QStringLiteral("segmented, %1 at once, with join").arg(atOnce)), segmented);
    if (wholeTimed.wall > 0)
        std::printf("segmented / whole: wall %.3f (target <= 0.9), CPU %.3f\n",
                    segmented.wall / wholeTimed.wall, segmented.cpu / wholeTimed.cpu);

    using namespace MovieInspector;
    for (const auto& [name, path] : {std::pair{"whole", whole}, std::pair{"joined", joined}}) {
        const Packets video = PacketTimes(path, AVMEDIA_TYPE_VIDEO);
        const Packets sound = PacketTimes(path, AVMEDIA_TYPE_AUDIO);
        std::printf("%-6s frames %6zu  bytes %11lld  picture-ends %.3f  sound-ends %.3f\n", name,
                    video.times.size(), static_cast<long long>(QFileInfo(path).size()),
                    video.EndSeconds(), sound.EndSeconds());
    }
    return wholeTimed.ok && segmented.ok ? 0 : 1;
}

int Kinds(const QStringList& args)
{
    const QString folder = args.value(0);
    QDir().mkpath(folder);
    const QString log = folder + QStringLiteral("/ffmpeg.log");
    using namespace MovieInspector;
    const auto numbers = [](const QString& path) {
        std::vector<int> n;
        for (const Luma& luma : DecodeAllLuma(path))
            n.push_back(FrameNumber(luma));
        return n;
    };
    std::printf("%-28s %-18s %-50s %s\n", "input kind", "preset", "plan", "join");
    const QString only = qEnvironmentVariable("SEGMENTS_BENCH_KIND");
    for (const InputKind& kind : InputKinds) {
        if (!QLatin1String(kind.name).contains(only))
            continue;
        MovieSpec spec;
        spec.seconds = 3;
        spec.numbered = true;
        spec.outputArgs = kind.args + QStringList{QStringLiteral("-g"), QStringLiteral("12")};
        const QString movie = folder + QLatin1Char('/') + QLatin1String(kind.name);
        if (!QFileInfo::exists(movie) && !MediaFactory::GenerateMovie(movie, spec)) {
            std::printf("%-28s could not be made\n", kind.name);
            continue;
        }
        for (const QString& preset : args.mid(1)) {
            const QString stem =
                folder + QLatin1Char('/') + QLatin1String(kind.name) + QLatin1Char(' ') + preset;
            const QString extension = Presets::Find(preset)->Extension();
            const FfmpegCommand::Request whole =
                RequestFor(movie, stem + " whole" + extension, preset);
            const FfmpegCommand::Request joined =
                RequestFor(movie, stem + " joined" + extension, preset);
            SegmentPlan plan;
            const Timed segmented =
                EncodeSegmented(joined, SegmentLimits{1.0, 2.0}, stem + " work", 2, log, &plan);
            QString verdict = QStringLiteral("-");
            if (plan.IsSegmented()) {
                const bool made = RunAll({FfmpegCommand::Arguments(whole)}, 1, log).ok;
                const Packets wv = PacketTimes(whole.strOutput, AVMEDIA_TYPE_VIDEO);
                const Packets jv = PacketTimes(joined.strOutput, AVMEDIA_TYPE_VIDEO);
                const bool pictures = numbers(whole.strOutput) == numbers(joined.strOutput);
                const bool times = wv.times == jv.times;
                const bool sound = PacketTimes(whole.strOutput, AVMEDIA_TYPE_AUDIO).times ==
                                   PacketTimes(joined.strOutput, AVMEDIA_TYPE_AUDIO).times;
                verdict = !made || !segmented.ok
                              ? QStringLiteral("FAILED")
                              : QStringLiteral("%1 frames: pictures %2, times %3, sound %4")
                                    .arg(jv.times.size())
                                    .arg(pictures ? "same" : "DIFFER", times ? "same" : "DIFFER",
                                         sound ? "same" : "DIFFER");
            }
            std::printf("%-28s %-18s %-50s %s\n", kind.name, qPrintable(preset),
                        qPrintable(DescribePlan(plan)), qPrintable(verdict));
            std::fflush(stdout);
        }
    }
    return 0;
}

int KeyFramesTime(const QStringList& movies)
{
    for (const QString& movie : movies) {
        for (int round = 0; round < 3; ++round) {
            const auto start = Clock::now();
            const KeyFrames keys = ProbeKeyFrames(movie);
            std::printf("%-40s %7.3f s  %s, %lld pictures, %zu key frames%s\n",
                        qPrintable(QFileInfo(movie).fileName()), Since(start),
                        keys.bFromIndex ? "index" : "every packet",
                        static_cast<long long>(keys.nFrames), keys.arrKeyPts.size(),
                        keys.bSteady ? "" : ", unsteady times");
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(2);
    const QString mode = app.arguments().value(1);
    if (mode == QLatin1String("compare") && args.size() >= 5)
        return Compare(args);
    if (mode == QLatin1String("kinds") && args.size() >= 2)
        return Kinds(args);
    if (mode == QLatin1String("keyframes") && !args.isEmpty())
        return KeyFramesTime(args);
    std::fprintf(stderr, "usage: segments_bench compare|kinds|keyframes ... (see the source)\n");
    return 2;
}
