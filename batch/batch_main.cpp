// clipvane-batch: Clipvane's encoding run for terminals, scripts and services,
// without a window or a display. The options are BatchOptions, the run's front
// end CBatchFront, the watch folder CWatchFolder, one long movie's segments
// over several processes or machines CBatchSegments.
#include "batch/BatchFront.h"
#include "batch/BatchOptions.h"
#include "batch/BatchSegments.h"
#include "batch/WatchFolder.h"
#include "engine/StoredSettings.h"
#include "shell/QuitSignals.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

#include <QCoreApplication>

namespace {

void Print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void Complain(const QString& text)
{
    Print(stderr, BatchOptions::Complaint(text));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const BatchParsed parsed = BatchOptions::Parse(app.arguments(), ::isatty(STDIN_FILENO) == 1);
    Print(stdout, parsed.strOut);
    Print(stderr, parsed.strError);
    if (!parsed.options)
        return parsed.nExitCode;
    const BatchOptions& options = *parsed.options;

    if (options.segmentStep != BatchOptions::SegmentStep::None) {
        StoredSettings::FirstRunSetup();
        CBatchSegments segments(options, options.Plan(StoredSettings::Load()));
        // SIGINT, SIGTERM and SIGHUP (Slurm's time limit, scancel) stop the
        // encoder, and what it wrote is removed.
        CQuitSignals quitSignals;
        QObject::connect(&quitSignals, &CQuitSignals::QuitRequested, &segments,
                         &CBatchSegments::StopForQuit);
        return segments.Run();
    }

    std::unique_ptr<BatchSources> sources;
    if (options.strWatchDir.isEmpty()) {
        sources = std::make_unique<BatchSources>(CollectSources(options));
        if (!sources->strError.isEmpty()) {
            Complain(sources->strError);
            return 2;
        }
        if (options.bListMovies) {
            for (const MovieSource& movie : sources->movies)
                Print(stdout, movie.strPath + QLatin1Char(options.bNull ? '\0' : '\n'));
            return 0;
        }
        for (const QString& note : sources->arrNotes)
            Complain(note);
    }

    // Someone who never started the window gets what its first start sets: the
    // output folder in the documents folder and the maker's prefix.
    StoredSettings::FirstRunSetup();
    const RunPlan plan = options.Plan(StoredSettings::Load());
    const CBatchFront::Report report = options.bJson ? CBatchFront::Report::Json
                                       : ::isatty(STDOUT_FILENO) == 1
                                           ? CBatchFront::Report::TextWithProgressLine
                                           : CBatchFront::Report::Text;
    CBatchFront front(options.overwrite, report);
    std::unique_ptr<CWatchFolder> watch;
    // A batch ends with its movies; a watch only with a signal.
    QObject::connect(
        &front, &CBatchFront::Ended, &app,
        [&watch](const BatchSummary& summary) {
            if (!watch || summary.nSignal != 0)
                QCoreApplication::exit(summary.ExitCode());
        },
        Qt::QueuedConnection);
    if (sources) {
        // The question of --overwrite ask comes here, before the signals are
        // caught, so that Ctrl+C still ends the program while it waits.
        front.Prepare(plan, ProbeSources(sources->movies));
    }

    // SIGINT, SIGTERM and SIGHUP stop a run as the window's quit does.
    CQuitSignals quitSignals;
    QObject::connect(&quitSignals, &CQuitSignals::QuitRequested, &app, [&](int signal) {
        if (watch)
            watch->Stop();
        if (front.IsRunning())
            front.StopForQuit(signal);
        else
            QCoreApplication::exit(128 + signal);
    });

    if (!options.strWatchDir.isEmpty()) {
        watch = std::make_unique<CWatchFolder>(options.strWatchDir, plan, options.nSettleSeconds,
                                               front);
        QString error;
        if (!watch->Start(&error)) {
            Complain(error);
            return 2;
        }
        Complain(QStringLiteral("watching '%1'; the outputs go to '%2'")
                     .arg(options.strWatchDir, plan.strOutputDir));
    } else if (!front.Start()) {
        return 1;
    }
    return app.exec();
}
