#include "jobs/MovieJobList.h"

#include "jobs/MediaProbe.h"
#include "jobs/SubtitleFile.h"
#include "shell/AppFolder.h"

#include <algorithm>

#include <QMetaObject>
#include <QThread>

const int CMovieJobList::ColumnWidths[ColumnCount] = {95, 175, 60, 70, 80, 75, 110};

QString CMovieJobList::ColumnHeading(int column)
{
    switch (column) {
    case ColStatus:
        return QStringLiteral("Status");
    case ColFileName:
        return QStringLiteral("File Name");
    case ColSubtitle:
        return QStringLiteral("Subtitle");
    case ColDimensions:
        return QStringLiteral("Dimensions");
    case ColDuration:
        return QStringLiteral("Duration");
    case ColFileSize:
        return QStringLiteral("File Size(MB)");
    case ColEncodingSize:
        return QStringLiteral("Encoding Size(MB)");
    default:
        return QString();
    }
}

Qt::Alignment CMovieJobList::ColumnAlignment(int column)
{
    switch (column) {
    case ColFileName:
        return Qt::AlignLeft | Qt::AlignVCenter;
    case ColFileSize:
    case ColEncodingSize:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignCenter;
    }
}

CMovieJobList::CMovieJobList(std::function<EncodingRates()> rates, QObject* parent)
    : QAbstractTableModel(parent)
    , m_rates(std::move(rates))
{
}

bool CMovieJobList::Contains(const QString& path) const
{
    return std::any_of(m_arrStreamFiles.cbegin(), m_arrStreamFiles.cend(),
                       [&path](const StreamFile& job) { return job.strFilePath == path; });
}

void CMovieJobList::AddMovieFile(const QString& path)
{
    // Checked before probing, so that a file chosen twice is not probed twice.
    if (Contains(path))
        return;
    AppendJob(ProbeMovieJob(path));
}

bool CMovieJobList::AppendJob(const StreamFile& job)
{
    const EncodingRates rates = m_rates ? m_rates() : EncodingRates();
    return RestoreJob(job, JobState::Ready, QString(), EncodingSizeText(job.nDuration, rates));
}

bool CMovieJobList::RestoreJob(const StreamFile& job, JobState status, const QString& reason,
                               const QString& encodingSize)
{
    if (Contains(job.strFilePath))
        return false;
    const int row = int(m_arrStreamFiles.size());
    beginInsertRows(QModelIndex(), row, row);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_arrStreamFiles.append(job);
        m_ullTotalBytes += job.CountedSize();
        m_arrRowStatus.append(status);
        m_arrRowReason.append(reason);
        m_arrEncodingSize.append(encodingSize);
        m_arrRowProgress.append(-1);
        m_arrRowResume.append(0);
    }
    endInsertRows();
    return true;
}

void CMovieJobList::RemoveRow(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ullTotalBytes -= m_arrStreamFiles[row].CountedSize();
        m_arrStreamFiles.removeAt(row);
        m_arrRowStatus.removeAt(row);
        m_arrRowReason.removeAt(row);
        m_arrEncodingSize.removeAt(row);
        m_arrRowProgress.removeAt(row);
        m_arrRowResume.removeAt(row);
    }
    endRemoveRows();
}

void CMovieJobList::RemoveSelectedMovies(const QList<int>& selectedRows)
{
    QList<int> rows = selectedRows;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    // From the last row down, so that the rows still to be removed keep their index.
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        if (*it >= 0 && *it < m_arrStreamFiles.size())
            RemoveRow(*it);
    }
}

void CMovieJobList::RemoveAllMovies()
{
    beginResetModel();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_arrStreamFiles.clear();
        m_arrRowStatus.clear();
        m_arrRowReason.clear();
        m_arrEncodingSize.clear();
        m_arrRowProgress.clear();
        m_arrRowResume.clear();
        m_ullTotalBytes = 0;
    }
    endResetModel();
}

void CMovieJobList::UpdateEncodingSize(int row)
{
    if (row < 0 || row >= m_arrStreamFiles.size())
        return;
    const EncodingRates rates = m_rates ? m_rates() : EncodingRates();
    const QString text = EncodingSizeText(m_arrStreamFiles[row].nDuration, rates);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_arrEncodingSize[row] = text;
    }
    const QModelIndex cell = index(row, ColEncodingSize);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

int CMovieJobList::GetJobCount() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_arrStreamFiles.size());
}

std::optional<StreamFile> CMovieJobList::GetJob(int index) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (index < 0 || index >= m_arrStreamFiles.size())
        return std::nullopt;
    return m_arrStreamFiles[index];
}

std::uint64_t CMovieJobList::GetTotalBytes() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_ullTotalBytes;
}

bool CMovieJobList::SetRowStatus(int row, JobState status, const QString& reason)
{
    if (QThread::currentThread() != thread()) {
        bool wake = false;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            wake = m_pendingStatuses.isEmpty();
            m_pendingStatuses.append({row, status, reason});
        }
        if (wake)
            QMetaObject::invokeMethod(this, "FlushPendingStatuses", Qt::QueuedConnection);
        return true;
    }
    if (row < 0 || row >= m_arrRowStatus.size())
        return false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_arrRowStatus[row] = status;
        m_arrRowReason[row] = reason;
        m_arrRowProgress[row] = -1;
        m_arrRowResume[row] = 0;
    }
    const QModelIndex cell = index(row, ColStatus);
    emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::ToolTipRole, ProgressRole});
    return true;
}

bool CMovieJobList::SetRowProgress(int row, int percent)
{
    if (row < 0 || row >= m_arrRowProgress.size())
        return false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_arrRowProgress[row] = percent < 0 ? -1 : std::min(percent, 100);
    }
    const QModelIndex cell = index(row, ColStatus);
    emit dataChanged(cell, cell, {ProgressRole});
    return true;
}

int CMovieJobList::GetRowProgress(int row) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return row < 0 || row >= m_arrRowProgress.size() ? -1 : m_arrRowProgress[row];
}

void CMovieJobList::FlushPendingStatuses()
{
    QVector<StatusWrite> pending;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        pending.swap(m_pendingStatuses);
    }
    for (const StatusWrite& write : pending)
        SetRowStatus(write.row, write.status, write.reason);
}

bool CMovieJobList::SetRowResume(int row, int percent)
{
    if (row < 0 || row >= m_arrRowResume.size() || m_arrRowStatus[row] == JobState::Encoding)
        return false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_arrRowResume[row] = std::clamp(percent, 0, 100);
    }
    const QModelIndex cell = index(row, ColStatus);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
    return true;
}

std::optional<JobState> CMovieJobList::GetRowStatus(int row) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (row < 0 || row >= m_arrRowStatus.size())
        return std::nullopt;
    return m_arrRowStatus[row];
}

QString CMovieJobList::GetRowReason(int row) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (row < 0 || row >= m_arrRowReason.size())
        return QString();
    return m_arrRowReason[row];
}

QString CMovieJobList::CellText(int row, int column) const
{
    if (row < 0 || row >= m_arrStreamFiles.size())
        return QString();
    const StreamFile& job = m_arrStreamFiles[row];
    switch (column) {
    case ColStatus:
        if (m_arrRowResume[row] > 0)
            return JobStatus::ResumesText(m_arrRowResume[row]);
        return JobStatus::Text(m_arrRowStatus[row]);
    case ColFileName:
        return job.strFileName;
    case ColSubtitle:
        return job.bHasSubtitle ? QStringLiteral("Exist") : QStringLiteral("None");
    case ColDimensions:
        return DimensionsText(job.nWidth, job.nHeight);
    case ColDuration:
        return DurationText(job.nDuration);
    case ColFileSize:
        return FileSizeText(job.dwFileSize);
    case ColEncodingSize:
        return m_arrEncodingSize[row];
    default:
        return QString();
    }
}

int CMovieJobList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_arrStreamFiles.size());
}

int CMovieJobList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CMovieJobList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return CellText(index.row(), index.column());
    case Qt::TextAlignmentRole:
        return int(ColumnAlignment(index.column()));
    case ProgressRole:
        if (index.column() != ColStatus || index.row() >= m_arrRowProgress.size() ||
            m_arrRowProgress[index.row()] < 0)
            return QVariant();
        return m_arrRowProgress[index.row()];
    case Qt::ToolTipRole:
        if (index.row() >= m_arrStreamFiles.size())
            return QVariant();
        // The full path, which the narrow "File Name" column cannot show.
        if (index.column() == ColFileName)
            return m_arrStreamFiles[index.row()].strFilePath;
        // Why a job failed.
        if (index.column() == ColStatus && !m_arrRowReason[index.row()].isEmpty())
            return m_arrRowReason[index.row()];
        // Which subtitle file the encode takes, found as the run finds it.
        if (index.column() == ColSubtitle && m_arrStreamFiles[index.row()].bHasSubtitle) {
            const QString subtitle = FindSubtitleFile(m_arrStreamFiles[index.row()].strFilePath);
            return subtitle.isEmpty() ? QVariant() : QVariant(PathFileName(subtitle));
        }
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant CMovieJobList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QVariant();
    if (role == Qt::DisplayRole)
        return ColumnHeading(section);
    if (role == Qt::TextAlignmentRole)
        return int(ColumnAlignment(section));
    return QVariant();
}

Qt::ItemFlags CMovieJobList::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
