#include "jobs/JobListStore.h"

#include "jobs/JobStatus.h"
#include "jobs/MovieJobList.h"
#include "shell/AppFolder.h"

#include <optional>
#include <vector>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

// A saved job: the record and the row as it was shown.
struct SavedRow
{
    StreamFile job;
    JobState status = JobState::Ready;
    QString reason;
    QString encodingSize;
};

QJsonObject RowToJson(const CMovieJobList& list, int row)
{
    const StreamFile& job = list.Jobs()[row];
    QJsonObject entry{{"path", job.strFilePath},
                      {"name", job.strFileName},
                      {"width", job.nWidth},
                      {"height", job.nHeight},
                      {"duration", job.nDuration},
                      {"subtitle", job.bHasSubtitle},
                      {"status", JobStatus::Text(list.GetRowStatus(row).value_or(JobState::Ready))},
                      {"reason", list.GetRowReason(row)},
                      {"estimate", list.CellText(row, CMovieJobList::ColEncodingSize)}};
    // JSON numbers are doubles: sizes up to 2^53 bytes are exact. An unknown size
    // is left out.
    if (job.HasKnownSize())
        entry.insert("size", double(job.dwFileSize));
    if (!job.strRelativeDir.isEmpty())
        entry.insert("folder", job.strRelativeDir);
    return entry;
}

// The saved rows, or nothing when the text is not a saved job list.
std::optional<std::vector<SavedRow>> ParseRows(const QByteArray& text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text);
    const QJsonValue jobs = document.object().value("jobs");
    if (!jobs.isArray())
        return std::nullopt;
    std::vector<SavedRow> rows;
    for (const QJsonValue& value : jobs.toArray()) {
        const QJsonObject entry = value.toObject();
        SavedRow row;
        row.job.strFilePath = entry.value("path").toString();
        if (row.job.strFilePath.isEmpty())
            return std::nullopt;
        row.job.strFileName = entry.value("name").toString();
        row.job.nWidth = entry.value("width").toInt();
        row.job.nHeight = entry.value("height").toInt();
        row.job.nDuration = entry.value("duration").toInt();
        row.job.bHasSubtitle = entry.value("subtitle").toBool();
        // Lists saved before outputs kept their folders have none.
        row.job.strRelativeDir = MovieFolder::CleanRelativeDir(entry.value("folder").toString());
        const QJsonValue size = entry.value("size");
        row.job.dwFileSize = size.isDouble() && size.toDouble() >= 0
                                 ? std::uint64_t(size.toDouble())
                                 : StreamFile::UnknownSize;
        // Words this version does not know leave the job to be done.
        row.status =
            JobStatus::FromText(entry.value("status").toString()).value_or(JobState::Ready);
        row.reason = entry.value("reason").toString();
        row.encodingSize = entry.value("estimate").toString();
        rows.push_back(std::move(row));
    }
    return rows;
}

// The saved rows of a file; nothing, with the reason in *error, when it cannot
// be read or is not a saved job list.
std::optional<std::vector<SavedRow>> ReadRows(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    std::optional<std::vector<SavedRow>> rows = ParseRows(file.readAll());
    if (!rows && error)
        *error = QStringLiteral("not a job list");
    return rows;
}

} // namespace

QString CJobListStore::FilePath()
{
    return GetStateDir() + QStringLiteral("/jobs.json");
}

CJobListStore::CJobListStore(CMovieJobList& list, QObject* parent)
    : QObject(parent)
    , m_list(list)
    , m_strPath(FilePath())
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(SaveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &CJobListStore::SaveNow);
    connect(&list, &QAbstractItemModel::rowsInserted, this, &CJobListStore::ScheduleSave);
    connect(&list, &QAbstractItemModel::rowsRemoved, this, &CJobListStore::ScheduleSave);
    connect(&list, &QAbstractItemModel::modelReset, this, &CJobListStore::ScheduleSave);
    // A running row's bar moves every second; the saved list does not hold it.
    connect(&list, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
                if (roles != QList<int>{CMovieJobList::ProgressRole})
                    ScheduleSave();
            });
}

CJobListStore::~CJobListStore()
{
    if (IsSavePending())
        SaveNow();
}

void CJobListStore::ScheduleSave()
{
    // Later changes ride along with the save the first one started.
    if (!m_bLoading && !m_saveTimer.isActive())
        m_saveTimer.start();
}

int CJobListStore::Load()
{
    if (!QFile::exists(m_strPath))
        return 0;
    QString error;
    const std::optional<std::vector<SavedRow>> rows = ReadRows(m_strPath, &error);
    if (!rows) {
        SetAside(error);
        return 0;
    }
    m_bLoading = true;
    int restored = 0;
    for (const SavedRow& row : *rows) {
        // The program ended during that row's encode: it is to be done again.
        JobState status = row.status == JobState::Encoding ? JobState::Ready : row.status;
        QString reason = row.reason;
        if (!QFileInfo::exists(row.job.strFilePath)) {
            status = JobState::Missing;
            reason.clear();
        }
        restored += m_list.RestoreJob(row.job, status, reason, row.encodingSize) ? 1 : 0;
    }
    m_bLoading = false;
    return restored;
}

void CJobListStore::SetAside(const QString& why)
{
    const QString aside = m_strPath + QStringLiteral(".damaged");
    QFile::remove(aside);
    const bool moved = QFile::rename(m_strPath, aside);
    qWarning().noquote() << QStringLiteral("Clipvane: the saved job list %1 could not be loaded "
                                           "(%2); the list starts empty%3")
                                .arg(m_strPath, why,
                                     moved ? " and the file is kept as " + aside : QString());
}

bool CJobListStore::SaveNow()
{
    m_saveTimer.stop();
    QDir().mkpath(QFileInfo(m_strPath).absolutePath());
    QString error;
    const bool saved = WriteListFile(m_list, m_strPath, &error);
    if (!saved && !m_bReportedWriteFailure) {
        qWarning().noquote() << QStringLiteral(
                                    "Clipvane: the job list could not be saved to %1 (%2)")
                                    .arg(m_strPath, error);
        m_bReportedWriteFailure = true;
    }
    return saved;
}

bool CJobListStore::WriteListFile(const CMovieJobList& list, const QString& path, QString* error)
{
    QJsonArray jobs;
    for (int row = 0; row < list.GetJobCount(); ++row)
        jobs.append(RowToJson(list, row));
    const QByteArray text =
        QJsonDocument(QJsonObject{{"jobs", jobs}}).toJson(QJsonDocument::Compact);
    QSaveFile file(path);
    const bool saved =
        file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
    if (!saved && error)
        *error = file.errorString();
    return saved;
}

std::optional<QVector<MovieSource>> CJobListStore::ReadListFile(const QString& path, QString* error)
{
    const std::optional<std::vector<SavedRow>> rows = ReadRows(path, error);
    if (!rows)
        return std::nullopt;
    QVector<MovieSource> movies;
    for (const SavedRow& row : *rows)
        movies.append({row.job.strFilePath, row.job.strRelativeDir});
    return movies;
}
