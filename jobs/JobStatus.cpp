#include "jobs/JobStatus.h"

namespace {

struct StatusWords
{
    JobState state;
    const char* words;
};

constexpr StatusWords Words[] = {
    {JobState::Ready, "Ready"},       {JobState::Encoding, "Encoding..."},
    {JobState::Finished, "Finished"}, {JobState::Failed, "Failed"},
    {JobState::Stopped, "Stopped"},   {JobState::Missing, "Missing"},
    {JobState::Skipped, "Skipped"},
};

} // namespace

namespace JobStatus {

QString Text(JobState state)
{
    for (const StatusWords& entry : Words) {
        if (entry.state == state)
            return QString::fromLatin1(entry.words);
    }
    return QString();
}

QString ResumesText(int percent)
{
    return QStringLiteral("Resumes at %1 %").arg(percent);
}

std::optional<JobState> FromText(const QString& text)
{
    for (const StatusWords& entry : Words) {
        if (text == QLatin1String(entry.words))
            return entry.state;
    }
    return std::nullopt;
}

} // namespace JobStatus
