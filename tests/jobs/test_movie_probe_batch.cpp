// Batches of movie files probed on a worker thread: records arrive on the owner's
// thread in the order of the paths, Cancel stops at once, a new batch after a
// cancelled one gets none of the old records, and destruction waits for the
// worker.
#include "jobs/MovieProbeBatch.h"
#include "tests/support/EventPump.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace {

// Everything a batch reports, in order.
struct Recorder
{
    explicit Recorder(CMovieProbeBatch& batch)
    {
        QObject::connect(&batch, &CMovieProbeBatch::JobProbed, [this](const StreamFile& job) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            jobs.push_back(job);
        });
        QObject::connect(&batch, &CMovieProbeBatch::Progress, [this](int done, int total) {
            progress.push_back({done, total});
        });
        QObject::connect(&batch, &CMovieProbeBatch::Finished,
                         [this](bool cancelled) { finished.push_back(cancelled); });
    }
    QStringList Paths() const
    {
        QStringList paths;
        for (const StreamFile& job : jobs)
            paths << job.strFilePath;
        return paths;
    }
    std::vector<StreamFile> jobs;
    std::vector<std::pair<int, int>> progress;
    std::vector<bool> finished;
};

// A probe that takes its time, counting its calls.
CMovieProbeBatch::Probe SlowProbe(int ms, std::atomic<int>* calls = nullptr)
{
    return [ms, calls](const QString& path) {
        if (calls)
            ++*calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        StreamFile job;
        job.strFilePath = path;
        return job;
    };
}

QStringList Names(const QString& prefix, int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths << QStringLiteral("/nowhere/%1%2.avi").arg(prefix).arg(i);
    return paths;
}

} // namespace

TEST(MovieProbeBatch, RealProbesArriveInOrderOnTheOwnersThread)
{
    ASSERT_TRUE(MediaFactory::HaveFfmpeg());
    QTemporaryDir dir;
    const QString movie = dir.filePath(QStringLiteral("a movie.mpg"));
    ASSERT_TRUE(MediaFactory::GenerateMovie(movie, MovieSpec{}));
    const QString garbage = dir.filePath(QStringLiteral("garbage.avi"));
    ASSERT_TRUE(MediaFactory::WriteFile(garbage, QByteArray(5000, 'g')));
    const QStringList paths = {garbage, movie, dir.filePath(QStringLiteral("missing.mkv")), movie};

    CMovieProbeBatch batch;
    Recorder recorder(batch);
    ASSERT_TRUE(batch.Start(paths));
    EXPECT_TRUE(batch.IsRunning());
    EXPECT_FALSE(batch.Start(paths));
    ASSERT_TRUE(PumpUntil([&] { return !recorder.finished.empty(); }));

    EXPECT_FALSE(batch.IsRunning());
    EXPECT_EQ(recorder.Paths(), paths);
    EXPECT_EQ(recorder.finished, std::vector<bool>{false});
    const std::vector<std::pair<int, int>> progress = {{1, 4}, {2, 4}, {3, 4}, {4, 4}};
    EXPECT_EQ(recorder.progress, progress);
    EXPECT_EQ(recorder.jobs[0].dwFileSize, 5000u);
    EXPECT_EQ(recorder.jobs[0].nWidth, 0);
    EXPECT_EQ(recorder.jobs[1].strFileName, QStringLiteral("a movie.mpg"));
    EXPECT_EQ(recorder.jobs[1].nWidth, 160);
    EXPECT_EQ(recorder.jobs[1].nHeight, 120);
    EXPECT_EQ(recorder.jobs[2].dwFileSize, StreamFile::UnknownSize);
}

TEST(MovieProbeBatch, CancelStopsDeliveringAndTheNextBatchIsClean)
{
    CMovieProbeBatch batch;
    Recorder recorder(batch);
    std::atomic<int> calls{0};
    batch.SetProbe(SlowProbe(10, &calls));
    ASSERT_TRUE(batch.Start(Names(QStringLiteral("old"), 100)));
    ASSERT_TRUE(PumpUntil([&] { return recorder.jobs.size() >= 3; }));
    batch.Cancel();
    EXPECT_FALSE(batch.IsRunning());
    EXPECT_EQ(recorder.finished, std::vector<bool>{true});
    const std::size_t kept = recorder.jobs.size();
    PumpFor(100);
    EXPECT_EQ(recorder.jobs.size(), kept);
    // The worker stops after the file it was probing.
    const int callsAfterCancel = calls;
    PumpFor(60);
    EXPECT_LE(calls, callsAfterCancel + 1);
    EXPECT_LT(calls, 100);

    recorder.jobs.clear();
    batch.SetProbe(SlowProbe(0));
    const QStringList fresh = Names(QStringLiteral("new"), 5);
    ASSERT_TRUE(batch.Start(fresh));
    ASSERT_TRUE(PumpUntil([&] { return recorder.finished.size() == 2; }));
    EXPECT_EQ(recorder.Paths(), fresh);
    EXPECT_FALSE(recorder.finished[1]);
    // Cancelling an idle batch reports nothing.
    batch.Cancel();
    EXPECT_EQ(recorder.finished.size(), 2u);
}

TEST(MovieProbeBatch, DestructionWaitsOnlyForTheFileBeingProbed)
{
    QElapsedTimer timer;
    {
        CMovieProbeBatch batch;
        batch.SetProbe(SlowProbe(30));
        ASSERT_TRUE(batch.Start(Names(QStringLiteral("x"), 200)));
        PumpFor(50);
        timer.start();
    }
    EXPECT_LT(timer.elapsed(), 1000);
}

TEST(MovieProbeBatch, AnEmptyBatchFinishesAtOnce)
{
    CMovieProbeBatch batch;
    Recorder recorder(batch);
    ASSERT_TRUE(batch.Start({}));
    ASSERT_TRUE(PumpUntil([&] { return !recorder.finished.empty(); }));
    EXPECT_TRUE(recorder.jobs.empty());
    EXPECT_EQ(recorder.finished, std::vector<bool>{false});
}
