#pragma once

#include "subtitles/SubtitleCopy.h"

#include <memory>

#include <QLocale>
#include <QString>

class QTemporaryFile;

// A movie's subtitle as an encoder is given it (PrepareSubtitleCopy). Copies
// share the UTF-8 copy on disk, which is removed when the last of them goes: a
// run keeps its job's subtitle while the job's encoder runs.
struct EncoderSubtitle
{
    // What the encoder reads: the movie's subtitle file, or its UTF-8 copy;
    // empty without a subtitle.
    QString strPath;
    // The movie's subtitle file exists: the subtitle options are added. A copy
    // that failed has been removed, and the encoder then draws no subtitle.
    bool bExists = false;
    // The font pattern for the language of the subtitle's text where the text
    // tells one (Korean, Japanese, Chinese); empty: the setting's font.
    QString strFont;
    // The language of the copy's text where its letters tell one (Korean,
    // Japanese, Chinese, the script of Chinese), else AnyLanguage.
    QLocale::Language language = QLocale::AnyLanguage;
    QLocale::Script script = QLocale::AnyScript;
    // Seconds by which the encoder shifts the cues: the movie's start time, at
    // which its timestamps begin; 0 for none.
    double dDelaySeconds = 0;
    // The UTF-8 copy at strPath, if one was made.
    std::shared_ptr<const QTemporaryFile> pCopy;
};

// The subtitle file at subtitlePath (empty: none) as a renderer is given it: a
// ".smi", ".sub" or ".srt" file is copied (MakeSubtitleCopy) into a file of its
// own in the per-process subtitle folder (SubtitleWorkDir), so that jobs never
// share one, named by the copy's format; any other file is given in place.
// The copy's path is set even when the copy failed, and that file is gone.
EncoderSubtitle PrepareSubtitleCopy(const QString& subtitlePath,
                                    const SubtitleCopyOptions& options);

// A folder only this process uses (mode 0700), made on first use and removed at
// exit; empty when it cannot be made. The UTF-8 copies of subtitles live there.
QString SubtitleWorkDir();
