#pragma once

#include <optional>

#include <QString>

// What a run checks before it starts anything, and each job before its encoder
// starts: that the movie can be read and that the output folder can be written.
// An encoder started without them fails with its own words, after the whole
// batch has been started.
namespace StartChecks {

// Why the movie at path cannot be encoded: "The movie file is gone." or "The
// movie file cannot be read: <the system's reason>."; nothing when it can be
// opened for reading.
std::optional<QString> MovieProblem(const QString& path);

// Makes the folder (with its parents) when create is set and it is missing,
// then makes a small file in it and removes it again. The system's reason when
// one of these fails ("Read-only file system"), nothing when the folder can be
// written. A folder that is not there is not made without create: a stick
// pulled out would leave its mount point, and the outputs would fill the disk
// below it.
std::optional<QString> FolderWriteError(const QString& folder, bool create);

// "The output folder cannot be written: <folder>": with the system's reason on
// the next line, the message of Make and Sampling, and a job's reason.
QString FolderNotWritable(const QString& folder);

} // namespace StartChecks
