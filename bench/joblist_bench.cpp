// Saving the job list while movies are added: 1,000 files are added the way Add
// Movies adds them (probed on the worker thread, appended on this one), once
// with the list saved as it changes (CJobListStore) and once without, several
// rounds each. Prints the time until every file is listed, the longest time the
// event loop was kept from running (what a user would feel as a frozen window),
// the number of saves (the last one after the files are listed), the ratio of
// the two times and the cost of one save of the whole list.
//
//   joblist_bench <folder> [rounds]   exit status 0 when the target is met
#include "jobs/JobListStore.h"
#include "jobs/MovieJobList.h"
#include "jobs/MovieProbeBatch.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

namespace {

constexpr int Files = 1000;
// A window that does not answer for this long feels stuck.
constexpr double TargetStallMs = 50.0;

struct Round
{
    double totalMs = 0;
    double stallMs = 0;
    int saves = 0;
};

ino_t InodeOf(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

Round AddAll(const QStringList& paths, bool saving)
{
    QFile::remove(CJobListStore::FilePath());
    CMovieJobList list([] { return EncodingRates{15.0, 150, 64}; });
    std::unique_ptr<CJobListStore> store;
    if (saving)
        store = std::make_unique<CJobListStore>(list);
    CMovieProbeBatch batch;
    QEventLoop loop;
    QObject::connect(&batch, &CMovieProbeBatch::JobProbed, &list,
                     [&list](const StreamFile& job) { list.AppendJob(job); });

    Round round;
    QElapsedTimer clock, sinceTick;
    // Each save replaces the file: a new inode.
    ino_t inode = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        round.stallMs = std::max(round.stallMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
        const ino_t now = saving ? InodeOf(CJobListStore::FilePath()) : 0;
        if (now != inode) {
            inode = now;
            ++round.saves;
        }
        if (batch.IsRunning())
            return;
        if (round.totalMs == 0)
            round.totalMs = clock.nsecsElapsed() / 1e6;
        if (!(store && store->IsSavePending()))
            loop.quit();
    });
    clock.start();
    sinceTick.start();
    tick.start();
    batch.Start(paths);
    loop.exec();
    if (list.GetJobCount() != Files)
        std::fprintf(stderr, "only %d of %d files were listed\n", list.GetJobCount(), Files);
    return round;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: joblist_bench <folder> [rounds]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    // The saved list goes to the folder, not the user's own state folder.
    qputenv("XDG_STATE_HOME", QFile::encodeName(folder + "/state"));
    QDir().mkpath(folder + "/movies");
    QStringList paths;
    for (int i = 0; i < Files; ++i) {
        const QString path =
            QString::asprintf("%s/movies/movie %04d.avi", QFile::encodeName(folder).constData(), i);
        QFile file(path);
        if (!file.exists() && file.open(QIODevice::WriteOnly))
            file.write("not really a movie");
        paths << path;
    }

    std::vector<double> totals[2], stalls[2], saves;
    for (int r = 0; r < rounds; ++r) {
        for (const bool saving : {false, true}) {
            const Round round = AddAll(paths, saving);
            totals[saving].push_back(round.totalMs);
            stalls[saving].push_back(round.stallMs);
            if (saving)
                saves.push_back(round.saves);
        }
    }

    // One save of the whole list, as the store makes it at the end.
    CMovieJobList list({});
    for (const QString& path : paths) {
        StreamFile job;
        job.strFilePath = path;
        job.strFileName = path.section('/', -1);
        list.AppendJob(job);
    }
    CJobListStore store(list);
    std::vector<double> saveMs;
    for (int r = 0; r < 10; ++r) {
        QElapsedTimer clock;
        clock.start();
        store.SaveNow();
        saveMs.push_back(clock.nsecsElapsed() / 1e6);
    }

    const double without = Median(totals[0]), with = Median(totals[1]);
    const double worstStall = *std::max_element(stalls[1].begin(), stalls[1].end());
    std::printf("adding %d files, %d rounds each (medians)\n", Files, rounds);
    std::printf("  without saving: %8.1f ms, longest stall %5.1f ms\n", without, Median(stalls[0]));
    std::printf("  with saving:    %8.1f ms, longest stall %5.1f ms, %.0f saves\n", with,
                Median(stalls[1]), Median(saves));
    std::printf("  ratio with/without: %.2f\n", with / without);
    std::printf("  one save of the %d-job list: %.1f ms (median of 10)\n", Files, Median(saveMs));
    const bool met = worstStall < TargetStallMs;
    std::printf("target: longest stall while saving below %.0f ms (worst round %.1f ms): %s\n",
                TargetStallMs, worstStall, met ? "met" : "NOT met");
    return met ? 0 : 1;
}
