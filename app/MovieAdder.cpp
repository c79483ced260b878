#include "MovieAdder.h"

#include "engine/StoredSettings.h"
#include "jobs/MediaProbe.h"
#include "jobs/MovieJobList.h"
#include "shell/AppInfo.h"

#include <utility>

#include <QFileInfo>
#include <QProgressDialog>
#include <QSet>

namespace {

// At most this many unreadable files are named in the message, then how many
// more there were.
constexpr int NamedUnreadableFiles = 20;

} // namespace

CMovieAdder::CMovieAdder(CMovieJobList& list, QWidget* owner, std::function<bool()> listBusy,
                         std::function<void(const QString& text, MessageIcon icon)> messageBox)
    : m_list(list)
    , m_pOwner(owner)
    , m_listBusy(std::move(listBusy))
    , m_messageBox(std::move(messageBox))
{
    connect(&m_probeBatch, &CMovieProbeBatch::JobProbed, this, &CMovieAdder::OnJobProbed);
    connect(&m_probeBatch, &CMovieProbeBatch::Progress, this, &CMovieAdder::OnProgress);
    connect(&m_probeBatch, &CMovieProbeBatch::Finished, this, &CMovieAdder::OnFinished);
}

CMovieAdder::~CMovieAdder()
{
    m_probeBatch.Cancel();
}

void CMovieAdder::AddFiles(const QStringList& paths)
{
    QVector<MovieSource> sources;
    for (const QString& path : paths)
        sources.append({path, QString()});
    AddSources(sources);
}

void CMovieAdder::AddSources(const QVector<MovieSource>& sources)
{
    if (m_listBusy() || IsAdding())
        return;
    if (!sources.isEmpty())
        StoredSettings::StoreValue(&StoredSettings::strLastFolder,
                                   QFileInfo(sources.last().strPath).absolutePath());
    QVector<MovieSource> fresh;
    QSet<QString> seen;
    for (const MovieSource& source : sources) {
        // A folder's movies are checked as they come.
        if (m_list.Contains(source.strPath) || seen.contains(source.strPath))
            continue;
        seen.insert(source.strPath);
        fresh.append(source);
    }
    if (fresh.isEmpty())
        return;

    // Shown only when the probing takes a while; Cancel keeps what was added.
    m_pProgress = new QProgressDialog(QStringLiteral("Adding movie files..."),
                                      QStringLiteral("Cancel"), 0, int(fresh.size()), m_pOwner);
    m_pProgress->setWindowTitle(AppInfo::Caption);
    m_pProgress->setWindowModality(Qt::ApplicationModal);
    m_pProgress->setMinimumDuration(300);
    m_pProgress->setAutoClose(false);
    m_pProgress->setAutoReset(false);
    connect(m_pProgress, &QProgressDialog::canceled, &m_probeBatch, &CMovieProbeBatch::Cancel);
    m_probeBatch.StartSources(fresh);
}

void CMovieAdder::OnJobProbed(const StreamFile& job)
{
    if (job.HasKnownSize())
        m_list.AppendJob(job);
    else
        m_arrUnreadable << job.strFilePath;
}

void CMovieAdder::OnProgress(int done, int total)
{
    if (!m_pProgress)
        return;
    // A folder's movies make the batch longer as they are found.
    m_pProgress->setMaximum(total);
    m_pProgress->setValue(done);
}

void CMovieAdder::OnFinished()
{
    // Deleted later: a Cancel click ends up here from inside the dialog.
    if (m_pProgress)
        m_pProgress->deleteLater();
    m_pProgress = nullptr;
    if (!m_arrUnreadable.isEmpty()) {
        QStringList named = m_arrUnreadable.mid(0, NamedUnreadableFiles);
        if (m_arrUnreadable.size() > NamedUnreadableFiles)
            named << QStringLiteral("... and %1 more.")
                         .arg(m_arrUnreadable.size() - NamedUnreadableFiles);
        m_arrUnreadable.clear();
        m_messageBox(QStringLiteral("These files could not be read and were not added:\n\n") +
                         named.join(QLatin1Char('\n')),
                     MessageIcon::Information);
    }
    AddWaiting();
}

void CMovieAdder::OpenPaths(const QStringList& paths)
{
    m_arrWaitingPaths << paths;
    emit WaitingChanged();
    AddWaiting();
}

void CMovieAdder::AddWaiting()
{
    if (m_bQuitting || m_arrWaitingPaths.isEmpty() || m_listBusy() || IsAdding())
        return;
    const QStringList paths = std::exchange(m_arrWaitingPaths, {});
    emit WaitingChanged();
    AddFiles(paths);
}

void CMovieAdder::KeepWaiting()
{
    m_bQuitting = true;
    const QStringList paths = std::exchange(m_arrWaitingPaths, {});
    for (const QString& path : paths) {
        for (const MovieSource& file : MovieFolder::FilesOf({path, QString()})) {
            if (m_list.Contains(file.strPath))
                continue;
            StreamFile job = ProbeMovieJob(file.strPath);
            job.strRelativeDir = file.strRelativeDir;
            if (job.HasKnownSize())
                m_list.AppendJob(job);
        }
    }
}
