#pragma once

#include "engine/Backends.h"
#include "engine/RunPlan.h"
#include "shell/SettingsStore.h"

#include <chrono>
#include <vector>

#include <QString>
#include <QTemporaryDir>

// What the benchmarks that encode through the run share.
namespace Bench {

using Clock = std::chrono::steady_clock;

// This process's own CPU time (user and system), its children excluded.
double CpuSeconds();
// The CPU time of this process's ended children (the encoders the runs waited for).
double ChildCpuSeconds();
double Since(Clock::time_point start);

// The CPU time every process of the machine has used since it started (from
// /proc/stat): the benchmarks' own and that of whatever else the machine runs.
double MachineCpuSeconds();
// Waits, in windows of a few seconds, until the machine's other processes keep
// at most share of its cores busy, for at most limit seconds; whether they did.
// Between encodes nothing of the benchmark's own runs.
bool WaitForQuiet(double share, double limit);

// Other processes below this share of the cores leave an encode quiet.
inline constexpr double QuietShare = 0.1;

// One timed encode: its wall and CPU seconds, and the CPU seconds the machine's
// other processes took meanwhile.
struct TimedEncode
{
    double wall = 0;
    double cpu = 0;
    double others = 0;
};
// The others' share of the cores during the encode.
double OthersShare(const TimedEncode& encode);
bool AnyQuiet(const std::vector<TimedEncode>& encodes);
// Prints what's encodes (wall, CPU and the others' share each) and returns the
// means of the quiet ones (of all when quiet is false), and how many they are.
struct EncodeMeans
{
    double wall = 0;
    double cpu = 0;
    int counted = 0;
};
EncodeMeans PrintMeans(const char* what, const std::vector<TimedEncode>& encodes, bool quiet);

// Points the settings and the run logs into work, never at the user's own;
// before the QCoreApplication is made.
void UsePrivateHome(const QTemporaryDir& work);

// A link in work to a back end's program in tools/ with a name of this
// process's own, so that the run's sweep for leftover encoders only ever meets
// its own; empty when it cannot be made.
QString EncoderLink(const QTemporaryDir& work,
                    EncodeProfile::Backend backend = EncodeProfile::Backend::Mencoder);
// Such a link for every back end; empty when one cannot be made.
EncoderTools EncoderLinks(const QTemporaryDir& work);

// A movie as a job with what the job list's probes learn of it (width and
// height when they learn nothing).
StreamFile MovieJob(const QString& path, int width = 0, int height = 0);
// The movies of a folder whose names match pattern, in name order, as jobs with
// what the job list's probes learn of them (width and height when they learn
// nothing).
std::vector<StreamFile> MoviesIn(const QString& folder, int width, int height,
                                 const QString& pattern = QStringLiteral("*.mpg"));

// A batch encoded through the run into folder, with the stored "Parallel" set to
// parallel (0: one encoder per core), and the preset of that name (empty: the
// first, "Pocket PC Normal"); encoder is the link for the preset's back end.
struct RunFigures
{
    double wall = 0;
    double cpu = 0;        // the front end's own
    double encoderCpu = 0; // the encoders'
    double othersCpu = 0;  // the machine's other processes' meanwhile
    int failed = 0;
    std::vector<double> jobSeconds;

    TimedEncode Timed() const { return {wall, encoderCpu, othersCpu}; }
};
RunFigures EncodeThroughRun(const std::vector<StreamFile>& jobs, const QString& encoder,
                            const QString& folder, DWORD parallel,
                            const QString& preset = QString());

// The stored settings for a run into folder with the preset of that name (empty:
// "Pocket PC Normal") and "Parallel" set to parallel (0: Automatic).
void StoreRunSettings(const QString& folder, DWORD parallel, const QString& preset);

// A batch encoded through the run with the plan given (its jobs come from
// jobs), the finished files it would replace replaced; encoder is the link for
// the plan's back end. Each job is timed from its start to its end.
RunFigures EncodePlan(const std::vector<StreamFile>& jobs, const QString& encoder,
                      const RunPlan& plan);

} // namespace Bench
