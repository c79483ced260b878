#pragma once

#include <QLocale>
#include <QString>

// Finding a movie's subtitle file beside it, by its name.

// The extensions of the subtitle files beside a movie, in the order they are
// looked for: SAMI, MicroDVD, SubRip.
inline constexpr const char* SubtitleExtensions[] = {".smi", ".sub", ".srt"};

// The subtitle file of a movie. Its name is the movie's without the file name's
// own extension (a "." in a folder name is not one; a name without extension is
// taken whole), then one of SubtitleExtensions in any letter case ("Movie.SRT"),
// with or without a language between them ("Movie.en.srt", "Movie.kor.smi",
// "Movie.English.srt": see SubtitleNameLanguage); an entry that is a folder does
// not count. Of several: one in the system's language (QLocale()'s, which is the
// system's), then one without a language, then the others; within each, by the
// order of SubtitleExtensions, then by name. Empty when there is none. The job
// list and the encoding run both find subtitles through this one function, so
// they always agree.
QString FindSubtitleFile(const QString& path);

// The language that the name of a movie's subtitle file carries between the
// movie's name and the extension: a two- or three-letter ISO 639-1 or 639-2 code
// ("en", "eng", "ger", "deu") or a language's English name ("Korean"), in any
// letter case. AnyLanguage when the name carries none, or is not one of the
// movie's subtitle names ("Movie.final.srt", "Movie.2.srt").
QLocale::Language SubtitleNameLanguage(const QString& moviePath, const QString& subtitlePath);

// Whether FindSubtitleFile finds a file.
bool ProbeSubtitle(const QString& path);
