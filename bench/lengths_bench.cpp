// How much shorter than its input a whole output is, for the whole-movie
// check's tolerance: every input kind of the tests (InputKinds), generated at
// each length given, through the run with each preset, and a Sampling run of
// each kind at a length past the sample. For each output it prints the input's
// length (ProbeMovieTiming, what the check expects) and the output's
// (ProbeMovieContent, what the check measures), and for each preset and length
// the largest shortfall, in seconds and in the output's frames.
//
//   lengths_bench <folder for the movies and outputs> <seconds>... [--sample <seconds>]
#include "BenchSupport.h"
#include "engine/EncodeSetting.h"
#include "engine/Presets.h"
#include "engine/StoredSettings.h"
#include "jobs/MediaProbe.h"
#include "tests/engine/test_run_support.h"
#include "tests/support/MediaFactory.h"

#include <algorithm>
#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

using namespace Bench;

// The movies of every input kind at this length, generated once into folder.
std::vector<StreamFile> InputsOf(const QString& folder, double seconds)
{
    QDir().mkpath(folder);
    std::vector<StreamFile> jobs;
    for (const InputKind& kind : InputKinds) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(kind.name);
        MovieSpec spec;
        spec.seconds = seconds;
        spec.outputArgs = kind.args;
        QString error;
        if (!QFileInfo(path).isFile() && !MediaFactory::GenerateMovie(path, spec, &error)) {
            std::fprintf(stderr, "%s: %s\n", kind.name, qPrintable(error));
            continue;
        }
        jobs.push_back(MovieJob(path));
    }
    return jobs;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList lengths;
    double sample = 0;
    for (int i = 2; i < argc; ++i) {
        if (QLatin1String(argv[i]) == QLatin1String("--sample") && i + 1 < argc)
            sample = QString::fromLocal8Bit(argv[++i]).toDouble();
        else
            lengths << QString::fromLocal8Bit(argv[i]);
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: lengths_bench <folder> <seconds>... [--sample <seconds>]\n");
        return 2;
    }
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    UsePrivateHome(work);
    QCoreApplication app(argc, argv);
    const QString folder = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const EncoderTools encoders = EncoderLinks(work);
    if (encoders.empty()) {
        std::fprintf(stderr, "cannot link the encoders of tools/\n");
        return 1;
    }

    struct Batch
    {
        QString length;
        bool sampling;
    };
    std::vector<Batch> batches;
    for (const QString& length : lengths)
        batches.push_back({length, false});
    if (sample > 0)
        batches.push_back({QString::number(sample), true});

    std::printf("%-18s %-28s %8s %8s %8s %8s\n", "preset", "input", "input s", "output s",
                "short s", "frames");
    int failed = 0;
    for (const EncodeProfile& profile : Presets::All()) {
        const QString& encoder = encoders.at(profile.backend).strPath;
        for (const Batch& batch : batches) {
            const std::vector<StreamFile> jobs =
                InputsOf(folder + QStringLiteral("/in-") + batch.length, batch.length.toDouble());
            const QString out = folder + QStringLiteral("/out-") + batch.length;
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            StoreRunSettings(out, 2, profile.strName);
            const RunFigures run = EncodePlan(
                jobs, encoder, RunPlan::FromSettings(StoredSettings::Load(), batch.sampling));
            failed += run.failed;
            double worst = 0;
            double worstFrames = 0;
            for (const StreamFile& job : jobs) {
                const QString output = out + QLatin1Char('/') +
                                       QFileInfo(job.strFileName).completeBaseName() +
                                       profile.Extension();
                const double input = ProbeMovieTiming(job.strFilePath).dSeconds;
                const double expected =
                    batch.sampling ? std::min<double>(input, SampleSeconds) : input;
                const MovieContent content = ProbeMovieContent(output);
                const MovieTiming made = ProbeMovieTiming(output);
                const double shortBy = expected - content.dSeconds;
                const double frames = shortBy * made.dFrameRate;
                if (content.dSeconds > 0) {
                    worst = std::max(worst, shortBy);
                    worstFrames = std::max(worstFrames, frames);
                }
                std::printf("%-18s %-28s %8.3f %8.3f %8.3f %8.1f%s\n", qPrintable(profile.strName),
                            qPrintable(job.strFileName + (batch.sampling ? " (sample)" : "")),
                            expected, content.dSeconds, shortBy, frames,
                            content.dSeconds > 0 ? "" : "  (no output)");
            }
            std::printf("%-18s %-28s largest shortfall %.3f s, %.1f frames\n\n",
                        qPrintable(profile.strName),
                        qPrintable(batch.length + (batch.sampling ? " s, sampled" : " s")), worst,
                        worstFrames);
            std::fflush(stdout);
        }
    }
    if (failed)
        std::printf("encodes failed: %d\n", failed);
    return failed ? 1 : 0;
}
