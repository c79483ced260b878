#pragma once

#include "app/ViewHooks.h"
#include "jobs/MovieFolder.h"
#include "jobs/MovieProbeBatch.h"

#include <functional>

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVector>

class CMovieJobList;
class QProgressDialog;
class QWidget;

// How movies come into the main form's list: files and folders from the add
// dialogs, drops, list files, the command line and later starts of Clipvane.
// Paths already listed are skipped; the rest are probed off the UI thread
// (CMovieProbeBatch), with a progress dialog (and Cancel) when that takes a
// while, and files that cannot be read are named in one message at the end.
// The list cannot change during a run, so paths handed over then wait and are
// added when the run ends; none is lost when Clipvane quits. Lives on the UI
// thread.
class CMovieAdder final : public QObject
{
    Q_OBJECT

public:
    // owner: the progress dialog's parent; listBusy: whether the list is taken
    // (a run is active); messageBox: how the unreadable files are told.
    CMovieAdder(CMovieJobList& list, QWidget* owner, std::function<bool()> listBusy,
                std::function<void(const QString& text, MessageIcon icon)> messageBox);
    // Cancels a batch being added.
    ~CMovieAdder() override;

    // Adds sources in the given order (a folder stands for the movies under
    // it). Ignored while the list is busy or another batch is being added.
    void AddSources(const QVector<MovieSource>& sources);
    void AddFiles(const QStringList& paths);
    bool IsAdding() const { return m_probeBatch.IsRunning(); }
    // Ends the batch being added; what was added stays.
    void Cancel() { m_probeBatch.Cancel(); }

    // Paths from outside (absolute): added now, or once neither a run nor
    // another batch is going on.
    void OpenPaths(const QStringList& paths);
    int WaitingCount() const { return int(m_arrWaitingPaths.size()); }
    // Adds the waiting paths when the list is free again (the run's end).
    void AddWaiting();
    // Clipvane is about to quit: the waiting paths are no longer started
    // (KeepWaiting adds them).
    void HoldWaiting() { m_bQuitting = true; }
    // Clipvane is to quit: the waiting paths are added at once, on this thread,
    // and none waits any more.
    void KeepWaiting();

    // The probe's batch, whose probe tests replace.
    CMovieProbeBatch& ProbeBatch() { return m_probeBatch; }

signals:
    // The count of waiting paths changed.
    void WaitingChanged();

private:
    void OnJobProbed(const StreamFile& job);
    void OnProgress(int done, int total);
    void OnFinished();

    CMovieJobList& m_list;
    QWidget* const m_pOwner;
    const std::function<bool()> m_listBusy;
    const std::function<void(const QString&, MessageIcon)> m_messageBox;
    CMovieProbeBatch m_probeBatch;
    QPointer<QProgressDialog> m_pProgress;
    // Paths handed over while the list could not change, oldest first.
    QStringList m_arrWaitingPaths;
    // Files of the batch being added that could not be read.
    QStringList m_arrUnreadable;
    // Set once Clipvane is to quit: nothing waits any more.
    bool m_bQuitting = false;
};
