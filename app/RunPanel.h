#pragma once

#include "app/ViewHooks.h"
#include "engine/ProgressTally.h"
#include "engine/RunEvents.h"

#include <map>
#include <vector>

#include <QObject>
#include <QString>

class CEncodingRun;
class CMovieJobList;
class CMovieListView;
class CStaticCQ;
class CTextProgressCtrl;

// What the main form shows of a run, from the run's events: each row's status,
// reason and bar; the Current File panel, which shows the selected row while
// its job is being encoded, else the running job that started first; the
// elapsed and remaining times and both bars; and at the run's end the
// shut-down, the finish message and the output folder, or after a Stop the
// question whether to delete the incomplete outputs. Lives on the UI thread.
class CRunPanel final : public QObject
{
    Q_OBJECT

public:
    // The controls the panel writes.
    struct Controls
    {
        CMovieListView* list = nullptr;
        CStaticCQ* input = nullptr;
        CStaticCQ* output = nullptr;
        CStaticCQ* elapsed = nullptr;
        CStaticCQ* remaining = nullptr;
        CTextProgressCtrl* current = nullptr;
        CTextProgressCtrl* total = nullptr;
    };

    // Listens to run from now on: connect it before whatever must come after
    // the finish message or the Stop question.
    CRunPanel(CEncodingRun& run, CMovieJobList& jobs, const Controls& controls,
              const ViewHooks& hooks, QObject* parent = nullptr);

    // The list's selection changed: during a run the Current File panel
    // follows it (ShowCurrentFile).
    void FollowSelection();

private:
    void OnRunStarted();
    void OnJobStarted(int index, const QString& output);
    void OnJobResumes(int index, const QString& movie, int percent);
    void OnJobProgress(int index, int percent);
    void OnJobEnded(int index, const JobEnd& end);
    void OnRunProgress(const CProgressTally::Reading& reading);
    void OnRunEnded(const RunEnd& end);
    // Points the Current File panel at the job it is to follow, if that
    // changed; with no job running it keeps the one that ended last.
    void ShowCurrentFile();
    void SetCurrentBar(int percent);

    CEncodingRun& m_run;
    CMovieJobList& m_jobs;
    const Controls m_controls;
    const ViewHooks& m_hooks;
    // The running jobs in the order they started, and each started job's
    // output.
    std::vector<int> m_running;
    std::map<int, QString> m_outputs;
    // The job the Current File panel shows; -1 for none.
    int m_nShownJob = -1;
    // The last job that ended finished (else it failed).
    bool m_bLastEndFinished = false;
};
