#pragma once

#include <QString>
#include <QStringList>

// The kinds of movie file the job list takes: those the Add Movies dialog offers,
// those a drop on the list accepts and those a folder's movies are picked by.
namespace MovieFileTypes {

// Without dots, in the dialog's order: asf mpeg mpg avi wmv vob ogm mkv ifo dat,
// then what phones and cameras record: mp4 mov m4v 3gp mts m2ts ts webm.
const QStringList& Extensions();

// The open dialog's filter: "Movie Files (*.asf *.mpeg ... *.dat)".
QString DialogFilter();

// Whether the file name ends in one of the extensions, in any letter case.
bool IsMovieFile(const QString& path);

} // namespace MovieFileTypes
