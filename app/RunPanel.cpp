#include "RunPanel.h"

#include "controls/StaticCQ.h"
#include "controls/TextProgressCtrl.h"
#include "engine/EncodingRun.h"
#include "engine/OutputNamer.h"
#include "jobs/MovieJobList.h"
#include "jobs/ui/MovieListView.h"
#include "shell/AppFolder.h"

#include <algorithm>

CRunPanel::CRunPanel(CEncodingRun& run, CMovieJobList& jobs, const Controls& controls,
                     const ViewHooks& hooks, QObject* parent)
    : QObject(parent)
    , m_run(run)
    , m_jobs(jobs)
    , m_controls(controls)
    , m_hooks(hooks)
{
    connect(&run, &CEncodingRun::RunStarted, this, &CRunPanel::OnRunStarted);
    connect(&run, &CEncodingRun::JobStarted, this, &CRunPanel::OnJobStarted);
    connect(&run, &CEncodingRun::JobResumes, this, &CRunPanel::OnJobResumes);
    connect(&run, &CEncodingRun::JobProgress, this, &CRunPanel::OnJobProgress);
    connect(&run, &CEncodingRun::JobEnded, this, &CRunPanel::OnJobEnded);
    connect(&run, &CEncodingRun::RunProgress, this, &CRunPanel::OnRunProgress);
    connect(&run, &CEncodingRun::RunEnded, this, &CRunPanel::OnRunEnded);
}

void CRunPanel::OnRunStarted()
{
    m_running.clear();
    m_outputs.clear();
    m_nShownJob = -1;
    m_bLastEndFinished = false;
}

void CRunPanel::OnJobStarted(int index, const QString& output)
{
    // The selection moves to the new job unless the user follows another
    // running one; with one slot, every job's row is shown in turn.
    const int selected = m_controls.list->SelectedRow();
    if (std::find(m_running.cbegin(), m_running.cend(), selected) == m_running.cend())
        m_controls.list->ShowRow(index);
    m_jobs.SetRowStatus(index, JobState::Encoding);
    m_running.push_back(index);
    m_outputs[index] = output;
    ShowCurrentFile();
}

void CRunPanel::OnJobResumes(int index, const QString& movie, int percent)
{
    // The list may have changed since the job was looked at.
    const std::optional<StreamFile> job = m_jobs.GetJob(index);
    if (job && job->strFilePath == movie)
        m_jobs.SetRowResume(index, percent);
}

void CRunPanel::OnJobProgress(int index, int percent)
{
    m_jobs.SetRowProgress(index, percent);
}

void CRunPanel::OnJobEnded(int index, const JobEnd& end)
{
    m_running.erase(std::remove(m_running.begin(), m_running.end(), index), m_running.end());
    m_jobs.SetRowStatus(index, end.state, end.Reason());
    if (end.state != JobState::Finished && end.state != JobState::Failed)
        return;
    m_bLastEndFinished = end.state == JobState::Finished;
    ShowCurrentFile();
}

void CRunPanel::ShowCurrentFile()
{
    if (m_running.empty())
        return;
    const int selected = m_controls.list->SelectedRow();
    const bool followsSelected =
        std::find(m_running.cbegin(), m_running.cend(), selected) != m_running.cend();
    const int shown = followsSelected ? selected : m_running.front();
    if (shown == m_nShownJob)
        return;
    m_nShownJob = shown;
    m_controls.input->SetText(m_run.Plan().jobs[shown].movie.strFilePath);
    m_controls.output->SetText(m_outputs[shown]);
    SetCurrentBar(m_run.Percent(shown));
}

void CRunPanel::FollowSelection()
{
    if (m_run.IsRunning())
        ShowCurrentFile();
}

void CRunPanel::SetCurrentBar(int percent)
{
    m_controls.current->SetPos(std::clamp(percent, 0, 100));
}

void CRunPanel::OnRunProgress(const CProgressTally::Reading& reading)
{
    m_controls.elapsed->SetText(FormatDuration(reading.elapsed));
    m_controls.remaining->SetText(FormatDuration(reading.remaining));
    SetCurrentBar(m_nShownJob >= 0 ? m_run.Percent(m_nShownJob) : 0);
    m_controls.total->SetPos(reading.totalPercent);
}

void CRunPanel::OnRunEnded(const RunEnd& end)
{
    switch (end.way) {
    case RunEnd::Way::Finished:
        // The current file's bar shows its end rather than the last tick's.
        if (m_bLastEndFinished && m_nShownJob >= 0)
            SetCurrentBar(100);
        if (m_run.Plan().bShutdown)
            m_hooks.shutdown([this](const QString& text) {
                m_hooks.messageBox(text, MessageIcon::Information);
            });
        m_hooks.messageBox(end.Message(), MessageIcon::Information);
        m_hooks.openFolder(m_run.Plan().strOutputDir);
        break;
    case RunEnd::Way::EncoderNotStarted:
        m_hooks.messageBox(end.Message(), MessageIcon::Information);
        break;
    case RunEnd::Way::Stopped:
        // Yes deletes the outputs the stopped encoders had begun; No keeps
        // each under its output's name.
        if (!m_run.IncompleteOutputs().isEmpty()) {
            const bool yes =
                m_hooks.askYesNo(OutputNamer::IncompleteOutputsQuestion(m_run.IncompleteOutputs()),
                                 MessageIcon::Question);
            m_run.SettleIncompleteOutputs(yes);
        }
        break;
    case RunEnd::Way::StoppedForQuit:
        break;
    }
}
