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
    // The lavfi picture source: "testsrc2" moves in every frame, "smptebars" is
    // still.
    QString source = QStringLiteral("testsrc2");
    // A still white disc on black instead of the source's picture, centred, its
    // radius a fifth of the shorter side, stored as 4:2:0 (odd sizes kept): the
    // shape of the picture can be measured on it (MovieInspector::BrightBox).
    bool disc = false;
    // Each picture shows its number (counted from 0) in binary instead of the
    // source's picture: twelve upright bars across it, bar k white when bit k
    // is set (MovieInspector::FrameNumber reads it back after any encode).
    bool numbered = false;
    // Inserted before the output path, e.g. {"-c:v", "mpeg2video", "-f", "vob"}.
    QStringList outputArgs;
};

namespace MediaFactory {

// True when ffmpeg is on PATH.
bool HaveFfmpeg();

// Writes a movie to path; false (with ffmpeg's complaint in *error) on failure.
bool GenerateMovie(const QString& path, const MovieSpec& spec, QString* error = nullptr);

// Runs program (looked up on PATH unless it holds a "/") with args and waits for
// it; true when it exits with code 0. Its output goes to the test's own. Started
// with posix_spawn, not QProcess (see GenerateMovie).
bool Run(const QString& program, const QStringList& args, QString* error = nullptr);

// Writes the display matrix of an MP4 or QuickTime file's video tracks in
// place, as phones record it: a player shows the pictures flipped left to right
// when mirrored, then turned clockwise by rotation degrees (0, 90, 180, 270).
bool SetDisplayMatrix(const QString& path, int rotation, bool mirrored);

// Makes the first sound track of an MP4 or QuickTime file with AAC sound one
// that ffmpeg cannot decode, as newer iPhones' spatial sound: its sample entry
// is renamed "apac" and its decoder configuration hidden.
bool MakeFirstSoundUndecodable(const QString& path);
// Gives an MP4 file's first track the Dolby Vision configuration box that
// phones write (dvcC: version 1.0, the profile, level 6, an RPU and a base
// layer, the base layer's signal compatibility id), which ffmpeg 5.1 writes
// only when it copies one. The file's index must follow its data, as ffmpeg
// writes it without +faststart. False when the file is not such an MP4.
bool AddDolbyVisionConfig(const QString& path, int profile, int compatibility);

// Writes raw bytes to a file, creating it anew.
bool WriteFile(const QString& path, const QByteArray& bytes);

QByteArray ReadFile(const QString& path);

} // namespace MediaFactory
