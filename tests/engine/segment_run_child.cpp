// A run of one movie with "Phone and Tablet" in segments of a second, as the
// window's Make starts it, in a process of its own that a test can kill:
//   segment_run_child <ffmpeg> <movie> <output folder>
// Exit 0 when the job finished.
#include "engine/EncodingRun.h"
#include "engine/Presets.h"
#include "jobs/MediaProbe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    RunPlan plan;
    plan.profile = *Presets::Find(QStringLiteral("Phone and Tablet"));
    plan.strOutputDir = args[3];
    QDir().mkpath(args[3]);
    plan.tools[EncodeProfile::Backend::Ffmpeg] = {args[1], QFileInfo(args[1]).fileName()};
    plan.segmentLimits = SegmentLimits{1.0, 2.0};
    StreamFile movie;
    movie.strFilePath = args[2];
    movie.strFileName = QFileInfo(args[2]).fileName();
    ProbeMovieFile(args[2], movie);
    plan.SetJobs({movie});
    CEncodingRun run;
    int finished = 0;
    QObject::connect(&run, &CEncodingRun::RunEnded, &app, [&](const RunEnd& end) {
        finished = end.nFinished;
        app.quit();
    });
    if (!run.Start(plan))
        return 2;
    if (run.IsRunning())
        app.exec();
    return finished == 1 ? 0 : 1;
}
