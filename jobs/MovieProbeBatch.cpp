#include "MovieProbeBatch.h"

#include "jobs/MediaProbe.h"

#include <optional>

CMovieProbeBatch::CMovieProbeBatch(QObject* parent)
    : QObject(parent)
    , m_probe(ProbeMovieJob)
{
    m_pollTimer.setInterval(PollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &CMovieProbeBatch::DeliverResults);
}

CMovieProbeBatch::~CMovieProbeBatch()
{
    m_cancel = true;
    JoinWorker();
}

void CMovieProbeBatch::JoinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

bool CMovieProbeBatch::Start(const QStringList& paths)
{
    QVector<MovieSource> sources;
    for (const QString& path : paths)
        sources.append({path, QString()});
    return StartSources(sources);
}

bool CMovieProbeBatch::StartSources(const QVector<MovieSource>& sources)
{
    if (m_bRunning)
        return false;
    // A cancelled batch's worker stops after its current file.
    JoinWorker();
    {
        std::lock_guard lock(m_mutex);
        m_results.clear();
        m_bWorkerDone = false;
        m_nFoundInFolders = 0;
    }
    m_cancel = false;
    m_bRunning = true;
    m_nDone = 0;
    m_nSources = int(sources.size());
    m_nTotal = m_nSources;
    // A deep copy, so that the worker shares no string data with this thread.
    const auto deep = [](const QString& text) { return QString(text.constData(), text.size()); };
    QVector<MovieSource> copy;
    for (const MovieSource& source : sources)
        copy.append({deep(source.strPath), deep(source.strRelativeDir)});
    m_worker = std::thread(&CMovieProbeBatch::Work, this, std::move(copy));
    m_pollTimer.start();
    return true;
}

void CMovieProbeBatch::Cancel()
{
    if (!m_bRunning)
        return;
    m_cancel = true;
    m_bRunning = false;
    m_pollTimer.stop();
    {
        std::lock_guard lock(m_mutex);
        m_results.clear();
    }
    emit Finished(true);
}

void CMovieProbeBatch::Work(QVector<MovieSource> sources)
{
    for (const MovieSource& source : sources) {
        const QVector<MovieSource> files =
            MovieFolder::FilesOf(source, [this] { return m_cancel.load(); });
        {
            std::lock_guard lock(m_mutex);
            m_nFoundInFolders += int(files.size()) - 1;
        }
        for (const MovieSource& file : files) {
            if (!ProbeAndQueue(file))
                break;
        }
        if (m_cancel)
            break;
    }
    std::lock_guard lock(m_mutex);
    m_bWorkerDone = true;
}

bool CMovieProbeBatch::ProbeAndQueue(const MovieSource& source)
{
    if (m_cancel)
        return false;
    StreamFile job = m_probe(source.strPath);
    job.strRelativeDir = source.strRelativeDir;
    std::lock_guard lock(m_mutex);
    if (m_cancel)
        return false;
    m_results.push_back(std::move(job));
    return true;
}

void CMovieProbeBatch::DeliverResults()
{
    // A receiver that runs the event loop (a modal progress dialog does) can call
    // this again from inside; the outer call hands over everything, in order.
    if (m_bDelivering)
        return;
    m_bDelivering = true;
    while (m_bRunning) {
        std::optional<StreamFile> job;
        bool workerDone = false;
        {
            std::lock_guard lock(m_mutex);
            m_nTotal = m_nSources + m_nFoundInFolders;
            if (m_results.empty()) {
                workerDone = m_bWorkerDone;
            } else {
                job = std::move(m_results.front());
                m_results.pop_front();
            }
        }
        if (!job) {
            if (workerDone) {
                m_bRunning = false;
                m_pollTimer.stop();
                emit Finished(false);
            }
            break;
        }
        ++m_nDone;
        emit JobProbed(*job);
        emit Progress(m_nDone, m_nTotal);
    }
    m_bDelivering = false;
}
