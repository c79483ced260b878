#pragma once

#include "engine/RunForm.h"
#include "tests/support/EventPump.h"

#include <deque>
#include <functional>
#include <map>
#include <vector>

#include <QString>
#include <QStringList>

class ScopedTempHome;

// The text of the newest run log (the one with the greatest name) in a
// temporary home; empty when there is none.
QString LatestRunLog(const ScopedTempHome& home);

// A form without a window: a job list in memory, and every display call, message
// and question recorded. Questions are answered from a queue (default: Yes).
// Events lists what happened in order ("status 0 Finished", "message ...",
// "question ...", "shutdown", "open ...").
class FakeForm : public RunForm
{
public:
    std::vector<StreamFile> m_jobs;
    std::deque<bool> m_answers;
    bool m_bDefaultAnswer = true;

    QStringList m_events;
    QStringList m_messages;
    QStringList m_questions;
    std::vector<MessageIcon> m_questionIcons;
    std::map<int, QStringList> m_statusHistory;
    // The reason written with each row's last status.
    std::map<int, QString> m_reasons;
    std::map<ValueLabel, QString> m_labels;
    std::map<ProgressBar, std::vector<int>> m_progress;
    int m_nShutdowns = 0;
    QStringList m_openedFolders;
    int m_nOutOfRangeStatusWrites = 0;
    std::vector<int> m_shownRows;
    // The selected row: ShowRow selects, as the list view does.
    int m_nSelectedRow = -1;
    // Each row's bar percentages in order; a status write adds -1 (no bar).
    std::map<int, std::vector<int>> m_rowProgress;
    // Called after each status write, to change the world at that moment.
    std::function<void(int row, const QString& status)> m_onStatus;

    // Adds a job; size is the recorded size (the run reads the file's own size
    // for the current job).
    void AddJob(const QString& path, std::uint64_t size, bool hasSubtitle = false);

    // The last status written to row, and to every row of the list.
    QString Status(int row) const;
    QStringList Statuses() const;
    int LastProgress(ProgressBar bar) const;
    // The bar behind a row's status text now; -1 for none.
    int RowProgress(int row) const;

    int JobCount() const override { return static_cast<int>(m_jobs.size()); }
    std::optional<StreamFile> JobAt(int index) const override;
    std::uint64_t TotalBytes() const override;
    void ShowRow(int index) override;
    int SelectedRow() const override { return m_nSelectedRow; }
    void SetRowStatus(int index, const QString& status, const QString& reason) override;
    void SetRowProgress(int index, int percent) override
    {
        m_rowProgress[index].push_back(percent);
    }
    void SetValueLabel(ValueLabel label, const QString& text) override { m_labels[label] = text; }
    void SetProgress(ProgressBar bar, int percent) override { m_progress[bar].push_back(percent); }
    void MessageBox(const QString& text, MessageIcon icon) override;
    bool AskYesNo(const QString& text, MessageIcon icon) override;
    void ShutdownComputer() override;
    void OpenFolder(const QString& path) override;
};
