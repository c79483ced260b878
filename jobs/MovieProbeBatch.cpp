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
    if (m_bRunning)
        return false;
    // A cancelled batch's worker stops after its current file.
    JoinWorker();
    {
        std::lock_guard lock(m_mutex);
        m_results.clear();
        m_bWorkerDone = false;
    }
    m_cancel = false;
    m_bRunning = true;
    m_nDone = 0;
    m_nTotal = int(paths.size());
    // A deep copy, so that the worker shares no string data with this thread.
    QStringList copy;
    for (const QString& path : paths)
        copy.append(QString(path.constData(), path.size()));
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

void CMovieProbeBatch::Work(QStringList paths)
{
    for (const QString& path : paths) {
        if (m_cancel)
            break;
        StreamFile job = m_probe(path);
        std::lock_guard lock(m_mutex);
        if (m_cancel)
            break;
        m_results.push_back(std::move(job));
    }
    std::lock_guard lock(m_mutex);
    m_bWorkerDone = true;
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
