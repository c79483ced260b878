#include "WatchFolder.h"

#include "jobs/MediaProbe.h"
#include "jobs/MovieFolder.h"
#include "shell/AppFolder.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

const char* ResultName(BatchResult result)
{
    switch (result) {
    case BatchResult::Finished:
        return "finished";
    case BatchResult::Failed:
        return "failed";
    case BatchResult::Skipped:
        return "skipped";
    case BatchResult::Stopped:
        break;
    }
    return "stopped";
}

// The folder and its subfolders, hidden ones and links to folders left out as
// CollectMovies leaves them out.
QStringList FolderTree(const QString& folder)
{
    QStringList folders{folder};
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const QDir dir(folders[i]);
        for (const QString& name :
             dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks))
            folders << dir.filePath(name);
    }
    return folders;
}

// The path a folder is known by, whichever way it was named.
QString FolderKey(const QString& folder)
{
    const QFileInfo info(folder);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

} // namespace

FileLook FileLook::Of(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    return {info.size(), info.lastModified().toMSecsSinceEpoch()};
}

bool CSettleTracker::Settled(const QString& path, const FileLook& look, qint64 nowMs)
{
    auto it = m_seen.find(path);
    if (it == m_seen.end() || !(it->look == look)) {
        m_seen.insert(path, {look, nowMs});
        return false;
    }
    return look.nSize > 0 && nowMs - it->nSinceMs >= m_nSettleMs;
}

QString CWatchLedger::FilePathFor(const QString& folder)
{
    const QString key = FolderKey(folder);
    const QByteArray hash =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return GetStateDir() + QStringLiteral("/watch/") + QFileInfo(key).fileName() +
           QLatin1Char('-') + QString::fromLatin1(hash) + QStringLiteral(".json");
}

CWatchLedger::CWatchLedger(const QString& folder)
    : m_strFolder(FolderKey(folder))
    , m_strPath(FilePathFor(folder))
{
}

bool CWatchLedger::Load(QString* error)
{
    m_entries.clear();
    QFile file(m_strPath);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                              : QStringLiteral("not a record");
        return false;
    }
    const QJsonObject movies = document.object().value(QStringLiteral("movies")).toObject();
    for (auto it = movies.begin(); it != movies.end(); ++it) {
        const QJsonObject movie = it.value().toObject();
        m_entries[it.key()] = {{movie.value(QStringLiteral("size")).toInteger(-1),
                                movie.value(QStringLiteral("modified")).toInteger()},
                               movie.value(QStringLiteral("result")).toString(),
                               movie.value(QStringLiteral("output")).toString()};
    }
    return true;
}

bool CWatchLedger::IsDone(const QString& relativePath, const FileLook& look) const
{
    const auto it = m_entries.find(relativePath);
    return it != m_entries.end() && it->second.look == look;
}

bool CWatchLedger::Record(const QString& relativePath, const Entry& entry, QString* error)
{
    m_entries[relativePath] = entry;
    QJsonObject movies;
    for (const auto& [path, done] : m_entries)
        movies.insert(path, QJsonObject{{QStringLiteral("size"), done.look.nSize},
                                        {QStringLiteral("modified"), done.look.nModifiedMs},
                                        {QStringLiteral("result"), done.strResult},
                                        {QStringLiteral("output"), done.strOutput}});
    const QJsonObject record{{QStringLiteral("folder"), m_strFolder},
                             {QStringLiteral("movies"), movies}};
    QDir().mkpath(QFileInfo(m_strPath).path());
    QSaveFile file(m_strPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(record).toJson()) < 0 ||
        !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

CWatchFolder::CWatchFolder(const QString& folder, RunPlan plan, int settleSeconds,
                           CBatchFront& front, QObject* parent)
    : QObject(parent)
    , m_strFolder(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()))
    , m_plan(std::move(plan))
    , m_front(front)
    , m_ledger(folder)
    , m_tracker(qint64(settleSeconds) * 1000)
{
    m_rescanTimer.setInterval(RescanMs);
    m_pollTimer.setInterval(PollMs);
    // A copy of many files changes the folder many times: one scan after them.
    m_scanSoon.setSingleShot(true);
    m_scanSoon.setInterval(300);
    connect(&m_rescanTimer, &QTimer::timeout, this, &CWatchFolder::Scan);
    connect(&m_scanSoon, &QTimer::timeout, this, &CWatchFolder::Scan);
    connect(&m_pollTimer, &QTimer::timeout, this, &CWatchFolder::Poll);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_scanSoon,
            qOverload<>(&QTimer::start));
    connect(&m_front, &CBatchFront::MovieEnded, this, &CWatchFolder::OnMovieEnded);
    // Queued: the next run does not start inside the end of the last.
    connect(
        &m_front, &CBatchFront::Ended, this,
        [this] {
            m_running.clear();
            m_runPaths.clear();
            Scan();
        },
        Qt::QueuedConnection);
}

bool CWatchFolder::Start(QString* error)
{
    const QString root = FolderKey(m_strFolder);
    const QString output = FolderKey(m_plan.strOutputDir);
    if (output == root || output.startsWith(root + QLatin1Char('/'))) {
        *error = QStringLiteral("the output folder '%1' lies inside the watched folder '%2'")
                     .arg(m_plan.strOutputDir, m_strFolder);
        return false;
    }
    QString why;
    if (!m_ledger.Load(&why)) {
        *error = QStringLiteral("the record of the watched folder '%1' cannot be read (%2); move "
                                "it away to encode the folder's movies again")
                     .arg(m_ledger.FilePath(), why);
        return false;
    }
    m_rescanTimer.start();
    m_pollTimer.start();
    Scan();
    return true;
}

void CWatchFolder::Stop()
{
    m_bStopped = true;
    m_rescanTimer.stop();
    m_pollTimer.stop();
    m_scanSoon.stop();
}

QString CWatchFolder::RelativePath(const QString& path) const
{
    return QDir(m_strFolder).relativeFilePath(path);
}

void CWatchFolder::Scan()
{
    if (m_bStopped)
        return;
    const QStringList watched = m_watcher.directories();
    QStringList added;
    for (const QString& folder : FolderTree(m_strFolder)) {
        if (!watched.contains(folder))
            added << folder;
    }
    if (!added.isEmpty())
        m_watcher.addPaths(added);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const MovieSource& movie : MovieFolder::CollectMovies(m_strFolder))
        Look(movie.strPath, now);
    StartRun();
}

void CWatchFolder::Poll()
{
    if (m_bStopped)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const QString& path : m_tracker.Paths())
        Look(path, now);
    StartRun();
}

void CWatchFolder::Look(const QString& path, qint64 nowMs)
{
    if (m_running.count(path))
        return;
    const FileLook look = FileLook::Of(path);
    if (look.nSize < 0 || m_ledger.IsDone(RelativePath(path), look)) {
        m_tracker.Forget(path);
        m_ready.erase(path);
        return;
    }
    if (m_tracker.Settled(path, look, nowMs))
        m_ready[path] = look;
    else
        m_ready.erase(path);
}

void CWatchFolder::StartRun()
{
    if (m_bStopped || m_ready.empty() || m_front.IsRunning())
        return;
    std::vector<StreamFile> jobs;
    for (const auto& [path, look] : m_ready) {
        StreamFile job = ProbeMovieJob(path);
        job.strRelativeDir = MovieFolder::CleanRelativeDir(QFileInfo(RelativePath(path)).path());
        jobs.push_back(job);
        m_runPaths.push_back(path);
    }
    m_running = std::exchange(m_ready, {});
    m_front.Prepare(m_plan, std::move(jobs));
    if (m_front.Start())
        return;
    // No run (the output folder cannot be written now): the movies are looked
    // at again, and taken once they have settled again.
    for (const auto& [path, look] : m_running)
        m_tracker.Forget(path);
    m_running.clear();
    m_runPaths.clear();
}

void CWatchFolder::OnMovieEnded(int index, BatchResult result)
{
    // A stopped movie is done again after a restart.
    if (result == BatchResult::Stopped || index < 0 || index >= int(m_runPaths.size()))
        return;
    const QString& path = m_runPaths[index];
    QString error;
    if (!m_ledger.Record(
            RelativePath(path),
            {m_running[path], QLatin1String(ResultName(result)), m_front.Output(index)}, &error))
        std::fprintf(stderr, "%s",
                     BatchOptions::Complaint(
                         QStringLiteral("cannot write '%1': %2").arg(m_ledger.FilePath(), error))
                         .toLocal8Bit()
                         .constData());
}
