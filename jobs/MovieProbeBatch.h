#pragma once

#include "jobs/MovieFolder.h"
#include "jobs/StreamFile.h"

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include <QObject>
#include <QStringList>
#include <QTimer>

// Probes a batch of movie files on a worker thread, one after the other, and
// hands each record to the thread that owns the object (the UI thread) in the
// order of the paths, so that adding many files never freezes the window. A
// folder in the batch stands for the movies under it (MovieFolder::CollectMovies),
// found on the worker too; one that cannot be listed is probed as it is (and
// comes out with an unknown size, as an unreadable file does). The
// worker touches no Qt object: records wait in a locked queue that a timer of
// the owner's thread empties while the batch runs, so that nothing crosses
// threads through Qt's event queue, whose locking ThreadSanitizer cannot see.
class CMovieProbeBatch final : public QObject
{
    Q_OBJECT

public:
    using Probe = std::function<StreamFile(const QString& path)>;

    explicit CMovieProbeBatch(QObject* parent = nullptr);
    // Cancels a running batch and waits for the file being probed.
    ~CMovieProbeBatch() override;

    // Starts probing the sources in order, each record with its source's
    // relative folder (a folder's movies with theirs); false, and nothing
    // started, while a batch is running. An empty batch finishes at once.
    bool StartSources(const QVector<MovieSource>& sources);
    // The same for paths given by themselves (relative folder "").
    bool Start(const QStringList& paths);

    // Ends the batch now: no further record is delivered (the file being probed
    // is finished in the background and dropped). Emits Finished(true) when a
    // batch was running.
    void Cancel();

    bool IsRunning() const { return m_bRunning; }

    // Replaces the probe (ProbeMovieJob by default); it runs on the worker thread.
    // Not while a batch is running.
    void SetProbe(Probe probe) { m_probe = std::move(probe); }

signals:
    // On the owner's thread, in the order of the paths.
    void JobProbed(const StreamFile& job);
    // total: the files known so far (it grows as folders are looked through).
    void Progress(int done, int total);
    // After the last record, or at Cancel.
    void Finished(bool cancelled);

private:
    static constexpr int PollIntervalMs = 15;

    void Work(QVector<MovieSource> sources);
    // Probes one file on the worker and queues its record; false once cancelled.
    bool ProbeAndQueue(const MovieSource& source);
    // On the owner's thread: hands over what the worker left in the queue.
    void DeliverResults();
    void JoinWorker();

    Probe m_probe;
    std::thread m_worker;
    std::atomic<bool> m_cancel{false};

    // Owner's thread only.
    QTimer m_pollTimer;
    bool m_bRunning = false;
    bool m_bDelivering = false;
    int m_nDone = 0;
    int m_nTotal = 0;
    int m_nSources = 0;

    // Shared with the worker, under m_mutex.
    std::mutex m_mutex;
    std::deque<StreamFile> m_results;
    bool m_bWorkerDone = false;
    // Files found in the batch's folders beyond the folders themselves.
    int m_nFoundInFolders = 0;
};
