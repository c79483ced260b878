#pragma once

#include <QString>

// The texts of a job's status cell (column 0 of the job list): the list writes
// "Ready" when a job is added, the encoding run the others; "Missing" marks a
// restored job whose movie has gone since it was saved (the run skips it);
// "Skipped" a job of clipvane-batch left out because its output's name was in
// use (--overwrite skip, or replace of another process's output).
namespace JobStatus {

inline const QString Ready = QStringLiteral("Ready");
inline const QString Encoding = QStringLiteral("Encoding...");
inline const QString Finished = QStringLiteral("Finished");
inline const QString Failed = QStringLiteral("Failed");
inline const QString Stopped = QStringLiteral("Stopped");
inline const QString Missing = QStringLiteral("Missing");
inline const QString Skipped = QStringLiteral("Skipped");

} // namespace JobStatus
