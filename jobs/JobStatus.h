#pragma once

#include <optional>

#include <QString>

// A job's status: "Ready" when a job is added, "Encoding..." while its encoder
// runs, then how it ended; "Missing" marks a restored job whose movie has gone
// since it was saved (a run leaves it out); "Skipped" a job left out because
// its output's name was in use (clipvane-batch's --overwrite skip, or replace
// of another process's output).
enum class JobState
{
    Ready,
    Encoding,
    Finished,
    Failed,
    Stopped,
    Missing,
    Skipped
};

// The words of each status: what the job list's status cell (column 0) shows,
// and what the kept list's file stores.
namespace JobStatus {

QString Text(JobState state);
// The status these words stand for; nothing for any other text.
std::optional<JobState> FromText(const QString& text);
// What a Ready job's cell says when it continues a segmented encode that is
// percent done: "Resumes at 63 %". Shown only: the stored status stays.
QString ResumesText(int percent);

} // namespace JobStatus
