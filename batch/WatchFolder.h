#pragma once

#include "batch/BatchFront.h"
#include "engine/RunPlan.h"

#include <map>

#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

// A file of a watched folder as it looked: its size and modification time.
struct FileLook
{
    qint64 nSize = -1;
    qint64 nModifiedMs = 0;

    bool operator==(const FileLook&) const = default;
    // How the file looks now; nSize -1 when it is gone or not a file.
    static FileLook Of(const QString& path);
};

// Which files have stopped changing: a file is settled once it has looked the
// same (size and modification time) for the settle time, counted from the
// first time it was seen so. An empty file is never settled: it is being
// made. Times are given, in milliseconds, so that nothing here waits.
class CSettleTracker
{
public:
    explicit CSettleTracker(qint64 settleMs)
        : m_nSettleMs(settleMs)
    {
    }

    // The file looked so at nowMs; true when it is settled.
    bool Settled(const QString& path, const FileLook& look, qint64 nowMs);
    void Forget(const QString& path) { m_seen.remove(path); }
    // The files seen and not forgotten.
    QStringList Paths() const { return m_seen.keys(); }

private:
    struct Seen
    {
        FileLook look;
        qint64 nSinceMs = 0;
    };
    qint64 m_nSettleMs;
    QHash<QString, Seen> m_seen;
};

// What a watched folder's movies came to, so that a restart does not encode
// them again: for each movie (its path relative to the folder) how it looked
// when it was taken, its result ("finished", "failed", "skipped") and output.
// One JSON file per watched folder in the state folder, written anew and
// renamed over the old one after each movie.
class CWatchLedger
{
public:
    struct Entry
    {
        FileLook look;
        QString strResult;
        QString strOutput;
    };

    // GetStateDir()/watch/<folder's name>-<hash of its path>.json
    static QString FilePathFor(const QString& folder);

    explicit CWatchLedger(const QString& folder);

    // Reads the file; a missing one is an empty record. False, with why in
    // *error, when it cannot be read: then nothing is known to be done, and
    // encoding everything again is not what the person wants.
    bool Load(QString* error);
    // Whether the movie was done as it looks now; one that has changed since
    // is to be done again.
    bool IsDone(const QString& relativePath, const FileLook& look) const;
    // Records a movie and writes the file; false, with why, when it could not.
    bool Record(const QString& relativePath, const Entry& entry, QString* error);
    const QString& FilePath() const { return m_strPath; }

private:
    QString m_strFolder;
    QString m_strPath;
    std::map<QString, Entry> m_entries;
};

// clipvane-batch --watch: encodes every movie that appears under a folder,
// once, after it has stopped changing, into the plan's output folder with the
// folder's tree kept (a/b.mov to <output>/a/b.mp4). Notifications of the
// file system (QFileSystemWatcher on the folder and its subfolders) start a
// scan; a scan every minute finds what network shares do not tell. Files that
// are still changing are looked at every second. The movies that settle while
// a run is going wait for its end, then go in the next run. The sources are
// never moved or deleted.
class CWatchFolder final : public QObject
{
    Q_OBJECT

public:
    static constexpr int RescanMs = 60 * 1000;
    static constexpr int PollMs = 1000;

    CWatchFolder(const QString& folder, RunPlan plan, int settleSeconds, CBatchFront& front,
                 QObject* parent = nullptr);

    // Reads the record and starts watching, with a scan at once. False, with
    // why in *error, when the output folder lies inside the watched one (the
    // outputs would be taken for new movies) or the record cannot be read.
    bool Start(QString* error);
    // No further run starts (a quit signal).
    void Stop();

private:
    // Lists the folder's movies and subfolders: the subfolders are watched,
    // the movies not done yet are looked at.
    void Scan();
    // Looks again at the files that were still changing.
    void Poll();
    // Takes a file that looks so now, if it has settled.
    void Look(const QString& path, qint64 nowMs);
    // Starts a run of the settled movies when none is going.
    void StartRun();
    void OnMovieEnded(int index, BatchResult result);
    QString RelativePath(const QString& path) const;

    QString m_strFolder;
    RunPlan m_plan;
    CBatchFront& m_front;
    CWatchLedger m_ledger;
    CSettleTracker m_tracker;
    QFileSystemWatcher m_watcher;
    QTimer m_rescanTimer;
    QTimer m_pollTimer;
    QTimer m_scanSoon;
    // Settled movies waiting for a run, and those of the run going now, with
    // how each looked when it was taken.
    std::map<QString, FileLook> m_ready;
    std::map<QString, FileLook> m_running;
    std::vector<QString> m_runPaths;
    bool m_bStopped = false;
};
