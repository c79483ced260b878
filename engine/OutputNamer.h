#pragma once

#include "jobs/StreamFile.h"

#include <vector>

#include <QString>
#include <QStringList>

// Where a run's outputs go and what it asks about them: the output path of
// each job, kept unique within a batch, and the two questions about files
// (outputs that exist already, outputs a Stop left incomplete).
namespace OutputNamer {

// An output path as the names of a batch are compared: absolute, and without
// regard to case, as the FAT and NTFS disks that movies are often written to
// compare them.
QString PathKey(const QString& path);

// Output folder, "/", the job's relative folder and "/" (a movie added
// through a folder), prefix, the movie's name with extension (".avi",
// ".mp4", ...) for its own; for copy 2 and on " (<copy>)" before the
// extension. A file name longer than the file system allows (255 bytes) loses
// the end of the movie's name, cut between two characters; the prefix, the
// copy number and the extension stay.
QString PathFor(const QString& folder, const QString& prefix, const QString& extension,
                const StreamFile& job, int copy = 1);

// The output paths of a batch, in job order: a job whose output an earlier job
// of the batch writes already (the same name with another extension or folder,
// or a name that differs only in case) gets the first free copy number, so
// that no two jobs write the same file; so does a job whose output would be one
// of the batch's movies. With keepExisting, so does a job whose output exists
// already: no file on disk is overwritten.
QStringList PathsFor(const QString& folder, const QString& prefix, const QString& extension,
                     const std::vector<StreamFile>& jobs, bool keepExisting = false);

// "The output file <path> already exists.\nWould you want to overwrite it?",
// or for several the count, the folder and the first few names.
QString ExistingOutputsQuestion(const QStringList& existing);

// "Below file is incomplete encoding. Delete this file?\n<path>", or the
// plural with a path per line.
QString IncompleteOutputsQuestion(const QStringList& incomplete);

} // namespace OutputNamer
