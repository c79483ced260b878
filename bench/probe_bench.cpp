// Probing speed: every file of a folder is probed in this process the way the job
// list does it when a movie is added (size, subtitle, picture size and length),
// then once more by running ffprobe as a process per file, the way a front end
// without an in-process probe would. Prints the time of every file, the ratio of
// the means and the slowest in-process file, and whether the targets are met.
//
//   probe_bench <folder>     exit status 0 when both targets are met, 1 otherwise
#include "jobs/MediaProbe.h"
#include "jobs/SubtitleFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

namespace {

constexpr double TargetRatio = 20.0;
constexpr double TargetMaxMs = 20.0;

struct Sample
{
    QString name;
    double inProcessMs = 0;
    double ffprobeMs = 0;
    StreamFile job;
    int ffWidth = -1;
    int ffHeight = -1;
    int ffSeconds = -1;
};

double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void RunFfprobe(const QString& path, Sample& sample)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                   QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                   QStringLiteral("stream=width,height:format=duration"), QStringLiteral("-of"),
                   QStringLiteral("default=noprint_wrappers=1"), path});
    if (!ffprobe.waitForFinished(30000))
        return;
    for (const QByteArray& line : ffprobe.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> pair = line.trimmed().split('=');
        if (pair.size() != 2)
            continue;
        if (pair[0] == "width")
            sample.ffWidth = pair[1].toInt();
        else if (pair[0] == "height")
            sample.ffHeight = pair[1].toInt();
        else if (pair[0] == "duration")
            sample.ffSeconds = int(std::floor(pair[1].toDouble()));
    }
}

double Mean(const std::vector<Sample>& samples, double Sample::*field)
{
    double sum = 0;
    for (const Sample& s : samples)
        sum += s.*field;
    return samples.empty() ? 0 : sum / double(samples.size());
}

double Median(const std::vector<Sample>& samples, double Sample::*field)
{
    std::vector<double> values;
    for (const Sample& s : samples)
        values.push_back(s.*field);
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: probe_bench <folder of movies>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    if (names.isEmpty()) {
        std::fprintf(stderr, "no files in %s\n", argv[1]);
        return 2;
    }

    std::vector<Sample> samples;
    for (const QString& name : names) {
        Sample sample;
        sample.name = name;
        const QString path = folder.filePath(name);
        const auto start = std::chrono::steady_clock::now();
        sample.job.strFilePath = path;
        sample.job.dwFileSize = ProbeFileSize(path);
        sample.job.bHasSubtitle = ProbeSubtitle(path);
        ProbeMovieFile(path, sample.job);
        sample.inProcessMs = MsSince(start);
        samples.push_back(sample);
    }
    for (Sample& sample : samples) {
        const auto start = std::chrono::steady_clock::now();
        RunFfprobe(folder.filePath(sample.name), sample);
        sample.ffprobeMs = MsSince(start);
    }

    std::printf("%-32s %12s %12s  %-22s %s\n", "file", "in-process", "ffprobe", "probe (WxH s)",
                "ffprobe (WxH s)");
    int mismatches = 0;
    for (const Sample& s : samples) {
        const bool same = s.job.nWidth == s.ffWidth && s.job.nHeight == s.ffHeight &&
                          s.job.nDuration == s.ffSeconds;
        mismatches += same ? 0 : 1;
        std::printf("%-32s %9.3f ms %9.3f ms  %4dx%-4d %5d s      %4dx%-4d %5d s%s\n",
                    qPrintable(s.name), s.inProcessMs, s.ffprobeMs, s.job.nWidth, s.job.nHeight,
                    s.job.nDuration, s.ffWidth, s.ffHeight, s.ffSeconds, same ? "" : "  MISMATCH");
    }

    const auto slowest =
        std::max_element(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
            return a.inProcessMs < b.inProcessMs;
        });
    const double meanIn = Mean(samples, &Sample::inProcessMs);
    const double meanFf = Mean(samples, &Sample::ffprobeMs);
    const double ratio = meanIn > 0 ? meanFf / meanIn : 0;
    std::printf("\nfiles: %zu\n", samples.size());
    std::printf("in-process: mean %.3f ms, median %.3f ms, slowest %.3f ms (%s)\n", meanIn,
                Median(samples, &Sample::inProcessMs), slowest->inProcessMs,
                qPrintable(slowest->name));
    std::printf("ffprobe process: mean %.3f ms, median %.3f ms\n", meanFf,
                Median(samples, &Sample::ffprobeMs));
    std::printf("ratio (ffprobe mean / in-process mean): %.1fx (target >= %.0fx)\n", ratio,
                TargetRatio);
    std::printf("slowest in-process file: %.3f ms (target <= %.0f ms)\n", slowest->inProcessMs,
                TargetMaxMs);
    std::printf("results differing from ffprobe: %d\n", mismatches);
    const bool met = ratio >= TargetRatio && slowest->inProcessMs <= TargetMaxMs;
    std::printf("targets: %s\n", met ? "met" : "NOT met");
    return met ? 0 : 1;
}
