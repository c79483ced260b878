#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Small test movies generated with ffmpeg's lavfi sources (testsrc2 and sine).
struct MovieSpec
{
    int width = 160;
    int height = 120;
    double seconds = 2.0;
    int fps = 25;
    bool audio = true;
    // Inserted before the output path, e.g. {"-c:v", "mpeg2video", "-f", "vob"}.
    QStringList outputArgs;
};

namespace MediaFactory {

// True when ffmpeg is on PATH.
bool HaveFfmpeg();

// Writes a movie to path; false (with ffmpeg's complaint in *error) on failure.
bool GenerateMovie(const QString& path, const MovieSpec& spec, QString* error = nullptr);

// Writes raw bytes to a file, creating it anew.
bool WriteFile(const QString& path, const QByteArray& bytes);

QByteArray ReadFile(const QString& path);

} // namespace MediaFactory
