#pragma once

#include "jobs/JobCellText.h"
#include "jobs/JobStatus.h"
#include "jobs/StreamFile.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

// The movie job list: the jobs in the order they were added, their byte total and
// the row of each job as the list view shows it (row i is job i), its status cell
// in the words of JobStatus. The list changes only on the thread that owns the
// object (the UI thread); jobs may be read by index from any thread, and row
// statuses set through SetRowStatus.
class CMovieJobList final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        ColStatus,
        ColFileName,
        ColSubtitle,
        ColDimensions,
        ColDuration,
        ColFileSize,
        ColEncodingSize,
        ColumnCount
    };

    // Widths in pixels and the headings of the seven columns, in column order.
    static const int ColumnWidths[ColumnCount];
    static QString ColumnHeading(int column);
    static Qt::Alignment ColumnAlignment(int column);

    // The status cell's percentage (an int from 0 to 100) while a bar is drawn
    // behind its text; no value otherwise.
    static constexpr int ProgressRole = Qt::UserRole + 1;

    // rates gives the encoding settings at the moment a job is added; the estimate
    // of a row is made once, then kept.
    explicit CMovieJobList(std::function<EncodingRates()> rates, QObject* parent = nullptr);

    // Probes the file and appends a job with status "Ready", unless a job with
    // exactly this path (case-sensitive, not normalised) is already in the list.
    void AddMovieFile(const QString& path);

    // Appends a job already filled in (by the probes or otherwise), under the same
    // duplicate rule as AddMovieFile. False when the path was already listed.
    bool AppendJob(const StreamFile& job);
    // The same for a job as it was shown before (a saved list): with its status,
    // its reason and its "Encoding Size(MB)" text.
    bool RestoreJob(const StreamFile& job, JobState status, const QString& reason,
                    const QString& encodingSize);

    // Whether a job has exactly this path (the duplicate rule of AddMovieFile).
    bool Contains(const QString& path) const;

    // Removes the jobs of the given rows; rows outside the list and repeats are
    // ignored, so any selection can be passed as it is.
    void RemoveSelectedMovies(const QList<int>& selectedRows);

    void RemoveAllMovies();

    // Recomputes the "Encoding Size(MB)" cell of a row from the current rates.
    void UpdateEncodingSize(int row);

    // Safe from any thread.
    int GetJobCount() const;
    std::optional<StreamFile> GetJob(int index) const;
    std::uint64_t GetTotalBytes() const;

    // Writes a row's status cell and its reason (why the job failed: the cell's
    // tooltip; empty for no tooltip); the new status has no bar behind it. From
    // another thread the write is queued to the list's own thread. False
    // (nothing written) for a row outside the list.
    bool SetRowStatus(int row, JobState status, const QString& reason = QString());
    // Nothing for a row outside the list.
    std::optional<JobState> GetRowStatus(int row) const;
    QString GetRowReason(int row) const;
    // A bar of percent (0 to 100) behind a row's status text, on the list's
    // thread; -1 for no bar. False for a row outside the list.
    bool SetRowProgress(int row, int percent);
    int GetRowProgress(int row) const;
    // A row that waits for a run and whose job continues a segmented encode
    // that far done says "Resumes at 63 %" (0: its status again) until its
    // status changes; the status itself (what the kept list stores) stays. On
    // the list's thread. False for a row outside the list or being encoded.
    bool SetRowResume(int row, int percent);

    // The job record and cell text of a row, on the list's thread.
    const QVector<StreamFile>& Jobs() const { return m_arrStreamFiles; }
    QString CellText(int row, int column) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // A status write: row, status, reason.
    struct StatusWrite
    {
        int row = 0;
        JobState status = JobState::Ready;
        QString reason;
    };

    // Writes the statuses other threads handed over. Invoked by name through a
    // queued call, so that the data itself never travels inside Qt's event queue,
    // whose locking ThreadSanitizer cannot see.
    Q_INVOKABLE void FlushPendingStatuses();

    void RemoveRow(int row);

    std::function<EncodingRates()> m_rates;

    // Written on the list's thread under m_mutex; read there without it, and from
    // other threads under it.
    mutable std::mutex m_mutex;
    QVector<StreamFile> m_arrStreamFiles;
    std::uint64_t m_ullTotalBytes = 0;
    QVector<JobState> m_arrRowStatus;
    QStringList m_arrRowReason;
    QStringList m_arrEncodingSize;
    QVector<int> m_arrRowProgress;
    QVector<int> m_arrRowResume;
    // Status writes from other threads, oldest first, under m_mutex.
    QVector<StatusWrite> m_pendingStatuses;
};
