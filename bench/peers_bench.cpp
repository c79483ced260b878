// Peer benchmark: one movie encoded with a Clipvane preset through the run (as
// Make does: the stored "Parallel" Automatic, the real ffmpeg, the output
// check) and by HandBrakeCLI with one of its presets, in turns within one
// process. Both encoders run in a session of their own at nice +10, as the run
// starts its encoders, so that the machine's other work treats them alike.
// Each encode first waits (up to a limit) until the machine's other processes
// leave it all but idle. Prints each encode's wall time, CPU time (the
// encoder's, children included) and the share of the cores the machine's other
// processes took meanwhile, the command line the run started, and where the
// outputs and HandBrake's log are; bench/peers.sh compares the outputs' bytes and
// pictures.
//
//   peers_bench <movie> <folder for the outputs> [rounds] [preset] [HandBrake preset]
//               [longest wait for quiet, s]
#include "BenchSupport.h"
#include "engine/CommandLine.h"
#include "engine/Presets.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

using namespace Bench;

struct Encode : TimedEncode
{
    bool ok = false;
};

// HandBrakeCLI on movie into output, its console text into log: started the way
// the run starts an encoder (own session, nice +10) and waited for.
Encode RunHandBrake(const QString& movie, const QString& output, const QString& log,
                    const QString& preset)
{
    NativeArgv argv({QStringLiteral("HandBrakeCLI"), QStringLiteral("-i"), movie,
                     QStringLiteral("-o"), output, QStringLiteral("--preset"), preset});
    const QByteArray logName = QFile::encodeName(log);
    const double machine = MachineCpuSeconds();
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        (void)!nice(10);
        const int null = open("/dev/null", O_RDWR);
        const int text = open(logName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(null, 0);
        dup2(text, 1);
        dup2(text, 2);
        execvp(argv.Data()[0], argv.Data());
        _exit(127);
    }
    Encode encode;
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        encode.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        encode.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && QFileInfo(output).size() > 0;
    }
    encode.wall = Since(start);
    encode.others = std::max(0.0, MachineCpuSeconds() - machine - encode.cpu);
    return encode;
}

// The encoder command lines of the run logs in folder, as the log wrote them.
QStringList LoggedCommands(const QString& folder)
{
    QStringList commands;
    QDirIterator logs(folder, {QStringLiteral("*.log")}, QDir::Files, QDirIterator::Subdirectories);
    while (logs.hasNext()) {
        QFile file(logs.next());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.startsWith(QLatin1String("Command: ")))
                commands << line.mid(9);
        }
    }
    commands.removeDuplicates();
    return commands;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: peers_bench <movie> <folder for the outputs> [rounds] "
                             "[preset] [HandBrake preset]\n");
        return 2;
    }
    // Settings and run logs go to a private folder, never to the user's own.
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    UsePrivateHome(work);
    QCoreApplication app(argc, argv);

    const QFileInfo movie(QString::fromLocal8Bit(argv[1]));
    const QString folder = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    const QString preset =
        argc > 4 ? QString::fromLocal8Bit(argv[4]) : QStringLiteral("Phone and Tablet");
    const QString peerPreset =
        argc > 5 ? QString::fromLocal8Bit(argv[5]) : QStringLiteral("Fast 720p30");
    const double longestWait = argc > 6 ? std::atof(argv[6]) : 600;
    const EncodeProfile* profile = Presets::Find(preset);
    if (!profile || profile->backend != EncodeProfile::Backend::Ffmpeg) {
        std::fprintf(stderr, "no ffmpeg preset named %s\n", qPrintable(preset));
        return 2;
    }
    const std::vector<StreamFile> jobs{MovieJob(movie.absoluteFilePath())};
    const QString encoder = EncoderLink(work, EncodeProfile::Backend::Ffmpeg);
    if (jobs.front().nDuration <= 0 || encoder.isEmpty()) {
        std::fprintf(stderr, "cannot read %s or link tools/ffmpeg\n", argv[1]);
        return 1;
    }

    const QString ours = folder + QStringLiteral("/clipvane");
    const QString theirs = folder + QStringLiteral("/handbrake.mp4");
    const QString log = folder + QStringLiteral("/handbrake.log");
    QDir().mkpath(ours);
    std::vector<Encode> clipvane, handbrake;
    for (int round = 0; round < rounds; ++round) {
        // Alternate the order so that a drifting machine load favours neither.
        for (int turn = 0; turn < 2; ++turn) {
            WaitForQuiet(QuietShare, longestWait);
            if ((turn + round) % 2 == 0) {
                QFile::remove(theirs);
                handbrake.push_back(
                    RunHandBrake(movie.absoluteFilePath(), theirs, log, peerPreset));
                continue;
            }
            const RunFigures run = EncodeThroughRun(jobs, encoder, ours, 0, preset);
            clipvane.push_back({run.Timed(), run.failed == 0});
        }
    }

    std::printf("%s (%dx%d, %d s); Clipvane \"%s\" through the run, HandBrakeCLI --preset \"%s\"\n",
                qPrintable(movie.fileName()), jobs.front().nWidth, jobs.front().nHeight,
                jobs.front().nDuration, qPrintable(preset), qPrintable(peerPreset));
    for (const QString& command : LoggedCommands(work.path()))
        std::printf("the run started: %s\n", qPrintable(command));
    // The quiet encodes (others below a tenth of the cores) when both have one.
    const auto timed = [](const std::vector<Encode>& encodes) {
        return std::vector<TimedEncode>(encodes.begin(), encodes.end());
    };
    const bool quiet = AnyQuiet(timed(clipvane)) && AnyQuiet(timed(handbrake));
    const EncodeMeans ourMeans = PrintMeans("Clipvane", timed(clipvane), quiet);
    const EncodeMeans theirMeans = PrintMeans("HandBrake", timed(handbrake), quiet);
    const double wall = ourMeans.wall, cpu = ourMeans.cpu;
    const double peerWall = theirMeans.wall, peerCpu = theirMeans.cpu;
    if (!quiet)
        std::printf("no quiet encode of each: the wall times are unreliable\n");
    std::printf("wall Clipvane / HandBrake: %.3f (target <= 0.7) %s; CPU: %.3f\n", wall / peerWall,
                wall / peerWall <= 0.7 ? "ok" : "MISSED", cpu / peerCpu);
    int failed = 0;
    for (const auto* encodes : {&clipvane, &handbrake}) {
        for (const Encode& e : *encodes)
            failed += !e.ok;
    }
    std::printf("outputs: %s/%s.mp4 and %s (HandBrake's log: %s)\n", qPrintable(ours),
                qPrintable(movie.completeBaseName()), qPrintable(theirs), qPrintable(log));
    if (failed) {
        std::printf("encodes failed: %d\n", failed);
        return 1;
    }
    return 0;
}
