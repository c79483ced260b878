#pragma once

#include <QString>
#include <QStringList>

// The kinds of movie file the job list takes: those the Add Movies dialog offers
// and those a drop on the list accepts.
namespace MovieFileTypes {

// Without dots, in the dialog's order: asf mpeg mpg avi wmv vob ogm mkv ifo dat.
const QStringList& Extensions();

// The open dialog's filter: "Movie Files (*.asf *.mpeg ... *.dat)".
QString DialogFilter();

// Whether the file name ends in one of the extensions, in any letter case.
bool IsMovieFile(const QString& path);

} // namespace MovieFileTypes
