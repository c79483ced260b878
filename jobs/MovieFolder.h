#pragma once

#include <functional>

#include <QString>
#include <QVector>

// A file or a folder given to the job list (by Add Movies, Add Folder, a drop,
// the command line or a list file), with the folder under the output folder
// that its movies' outputs go to: "" for the output folder itself.
struct MovieSource
{
    QString strPath;
    QString strRelativeDir;
};

// Folders of movies: what a folder given to the job list adds, and the relative
// folders that keep its tree in the output folder.
namespace MovieFolder {

// Every movie file under folder (MovieFileTypes), in every subfolder: a
// folder's files first, then its subfolders, each in name order (numbers by
// their value, "Day 2" before "Day 10"). Hidden folders and files (a name
// that starts with ".") are passed over, and so are links to folders, which
// could lead in a circle. Each movie's relative folder is relativeDir, the
// folder's own name, then the subfolders down to the movie: "Trip/Day 1" for
// Trip/Day 1/a.mov when relativeDir is "". stop is asked between folders; once
// it says yes, what was found so far is returned.
QVector<MovieSource> CollectMovies(const QString& folder, const QString& relativeDir = QString(),
                                   const std::function<bool()>& stop = {});

// The files a source stands for: a folder that can be listed, its movies
// (CollectMovies); anything else, the source itself.
QVector<MovieSource> FilesOf(const MovieSource& source, const std::function<bool()>& stop = {});

// A relative folder made safe to put under the output folder: "/"-separated
// names without empty or "." parts. "" for one that would climb out of it
// ("..") and for an absolute one: a list file edited by hand cannot send an
// output elsewhere.
QString CleanRelativeDir(const QString& text);

// "a/b" of two relative folders, either of which may be "".
QString JoinRelativeDirs(const QString& first, const QString& second);

} // namespace MovieFolder
