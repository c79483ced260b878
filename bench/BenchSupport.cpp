#include "BenchSupport.h"

#include "engine/EncodingRun.h"
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

std::optional<StreamFile> BenchForm::JobAt(int index) const
{
    if (index < 0 || index >= JobCount())
        return std::nullopt;
    return jobs[static_cast<std::size_t>(index)];
}

std::uint64_t BenchForm::TotalBytes() const
{
    std::uint64_t total = 0;
    for (const StreamFile& job : jobs)
        total += job.CountedSize();
    return total;
}

void BenchForm::SetRowStatus(int index, const QString& status, const QString&)
{
    m_started.resize(jobs.size());
    jobSeconds.resize(jobs.size());
    if (status == QLatin1String("Encoding...")) {
        m_started[static_cast<std::size_t>(index)] = Clock::now();
        return;
    }
    jobSeconds[static_cast<std::size_t>(index)] = Since(m_started[static_cast<std::size_t>(index)]);
    failed += status == QLatin1String("Failed");
}

void UsePrivateHome(const QTemporaryDir& work)
{
    setenv("XDG_CONFIG_HOME",
           QFile::encodeName(work.filePath(QStringLiteral("config"))).constData(), 1);
    setenv("XDG_STATE_HOME", QFile::encodeName(work.filePath(QStringLiteral("state"))).constData(),
           1);
}

QString EncoderLink(const QTemporaryDir& work, const QString& tool)
{
    const QString encoder =
        work.filePath(QStringLiteral("cvb%1%2").arg(tool.left(2)).arg(getpid()).left(15));
    return QFile::link(GetAppDir() + QStringLiteral("/tools/") + tool, encoder) ? encoder
                                                                                : QString();
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
    BenchForm form;
    form.jobs = jobs;
    CEncodingRun run(form);
    for (const auto backend : {EncodeProfile::Backend::Mencoder, EncodeProfile::Backend::Ffmpeg})
        run.SetEncoder(backend, encoder, QFileInfo(encoder).fileName());
    QEventLoop loop;
    QObject::connect(&run, &CEncodingRun::RunEnded, &loop, &QEventLoop::quit);

    RunFigures figures;
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    const double encoderCpu = ChildCpuSeconds();
    const double machineCpu = MachineCpuSeconds();
    run.Start(plan);
    if (run.IsRunning())
        loop.exec();
    figures.cpu = CpuSeconds() - cpu;
    figures.encoderCpu = ChildCpuSeconds() - encoderCpu;
    figures.othersCpu =
        std::max(0.0, MachineCpuSeconds() - machineCpu - figures.cpu - figures.encoderCpu);
    figures.wall = Since(start);
    figures.failed = form.failed;
    figures.jobSeconds = form.jobSeconds;
    return figures;
}

} // namespace Bench
