#include "BenchSupport.h"

#include "engine/EncodingRun.h"
#include "engine/ExternalTools.h"
#include "engine/StoredSettings.h"
#include "jobs/MediaProbe.h"
#include "shell/AppFolder.h"

#include <algorithm>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

namespace Bench {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ChildCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double MachineCpuSeconds()
{
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // "cpu user nice system idle iowait irq softirq steal ...", in clock ticks.
    const QList<QByteArray> ticks = stat.readLine().simplified().split(' ');
    double busy = 0;
    for (const int field : {1, 2, 3, 6, 7, 8})
        busy += ticks.value(field).toDouble();
    return busy / double(sysconf(_SC_CLK_TCK));
}

bool WaitForQuiet(double share, double limit)
{
    const auto start = Clock::now();
    const double cores = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    constexpr unsigned Window = 3;
    for (;;) {
        const double before = MachineCpuSeconds();
        const auto windowStart = Clock::now();
        sleep(Window);
        const double busy = (MachineCpuSeconds() - before) / (Since(windowStart) * cores);
        if (busy <= share)
            return true;
        if (Since(start) >= limit)
            return false;
    }
}

double OthersShare(const TimedEncode& encode)
{
    const double cores = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    return encode.others / (std::max(encode.wall, 1e-9) * cores);
}

bool AnyQuiet(const std::vector<TimedEncode>& encodes)
{
    return std::any_of(encodes.begin(), encodes.end(),
                       [](const TimedEncode& e) { return OthersShare(e) <= QuietShare; });
}

EncodeMeans PrintMeans(const char* what, const std::vector<TimedEncode>& encodes, bool quiet)
{
    EncodeMeans means;
    std::printf("%-10s", what);
    for (const TimedEncode& e : encodes) {
        const double others = OthersShare(e);
        std::printf(" %6.2f s (CPU %6.2f s, others %2.0f%%)", e.wall, e.cpu, 100 * others);
        if (quiet && others > QuietShare)
            continue;
        means.wall += e.wall;
        means.cpu += e.cpu;
        ++means.counted;
    }
    means.wall /= std::max(1, means.counted);
    means.cpu /= std::max(1, means.counted);
    std::printf("\n%-10s mean of %d %s encode(s): %.2f s, CPU %.2f s\n", "", means.counted,
                quiet ? "quiet" : "", means.wall, means.cpu);
    return means;
}

void UsePrivateHome(const QTemporaryDir& work)
{
    setenv("XDG_CONFIG_HOME",
           QFile::encodeName(work.filePath(QStringLiteral("config"))).constData(), 1);
    setenv("XDG_STATE_HOME", QFile::encodeName(work.filePath(QStringLiteral("state"))).constData(),
           1);
}

QString EncoderLink(const QTemporaryDir& work, EncodeProfile::Backend backend)
{
    const QString tool = QLatin1String(Backends::Of(backend).program);
    const QString encoder =
        work.filePath(QStringLiteral("cvb%1%2").arg(tool.left(2)).arg(getpid()).left(15));
    return QFile::link(ExternalTools::ToolPath(tool), encoder) ? encoder : QString();
}

EncoderTools EncoderLinks(const QTemporaryDir& work)
{
    EncoderTools links;
    for (const BackendInfo& backend : Backends::All()) {
        const QString link = EncoderLink(work, backend.id);
        if (link.isEmpty())
            return {};
        links[backend.id] = {link, QFileInfo(link).fileName()};
    }
    return links;
}

StreamFile MovieJob(const QString& path, int width, int height)
{
    const QFileInfo file(path);
    StreamFile job;
    job.strFilePath = file.absoluteFilePath();
    job.strFileName = file.fileName();
    job.dwFileSize = static_cast<std::uint64_t>(file.size());
    job.nWidth = width;
    job.nHeight = height;
    ProbeMovieFile(job.strFilePath, job);
    return job;
}

std::vector<StreamFile> MoviesIn(const QString& folder, int width, int height,
                                 const QString& pattern)
{
    std::vector<StreamFile> jobs;
    for (const QFileInfo& file : QDir(folder).entryInfoList({pattern}, QDir::Files, QDir::Name))
        jobs.push_back(MovieJob(file.absoluteFilePath(), width, height));
    return jobs;
}

void StoreRunSettings(const QString& folder, DWORD parallel, const QString& preset)
{
    using S = StoredSettings;
    S::StoreValue(&S::strOutputDir, folder);
    S::StoreValue(&S::strPrefix, QString());
    S::StoreValue(&S::nParallel, parallel);
    S::StoreValue(&S::nMode, DWORD(S::ModePreset));
    S::StoreValue(&S::strPreset, preset);
}

RunFigures EncodeThroughRun(const std::vector<StreamFile>& jobs, const QString& encoder,
                            const QString& folder, DWORD parallel, const QString& preset)
{
    StoreRunSettings(folder, parallel, preset);
    return EncodePlan(jobs, encoder, RunPlan::FromSettings(StoredSettings::Load(), false));
}

RunFigures EncodePlan(const std::vector<StreamFile>& jobs, const QString& encoder,
                      const RunPlan& plan)
{
    RunPlan batch = plan;
    batch.tools[batch.profile.backend] = {encoder, QFileInfo(encoder).fileName()};
    RunFigures figures;
    if (batch.OutputFolderProblem())
        return figures;
    batch.SetJobs(jobs);
    batch.ReplaceExisting(batch.ExistingOutputs());
    CEncodingRun run;
    QEventLoop loop;
    QObject::connect(&run, &CEncodingRun::RunEnded, &loop, &QEventLoop::quit);
    std::vector<Clock::time_point> started(jobs.size());
    figures.jobSeconds.assign(jobs.size(), 0);
    QObject::connect(&run, &CEncodingRun::JobStarted,
                     [&](int index) { started[std::size_t(index)] = Clock::now(); });
    QObject::connect(&run, &CEncodingRun::JobEnded, [&](int index, const JobEnd& end) {
        if (started[std::size_t(index)] != Clock::time_point())
            figures.jobSeconds[std::size_t(index)] = Since(started[std::size_t(index)]);
        figures.failed += end.state == JobState::Failed ? 1 : 0;
    });

    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    const double encoderCpu = ChildCpuSeconds();
    const double machineCpu = MachineCpuSeconds();
    if (run.Start(std::move(batch)) && run.IsRunning())
        loop.exec();
    figures.cpu = CpuSeconds() - cpu;
    figures.encoderCpu = ChildCpuSeconds() - encoderCpu;
    figures.othersCpu =
        std::max(0.0, MachineCpuSeconds() - machineCpu - figures.cpu - figures.encoderCpu);
    figures.wall = Since(start);
    return figures;
}

} // namespace Bench
