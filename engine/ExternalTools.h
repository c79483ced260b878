#pragma once

#include <QString>

// What Clipvane fixes about the outside programs it drives: where they lie
// (the tools folder inside the application folder), how the player's command
// line looks and the encoder's image name. Nothing else in the program spells
// these out.
namespace ExternalTools {

// Image name of the encoder, as /proc/<pid>/comm shows it.
inline constexpr char EncoderImageName[] = "mencoder";

// <application folder>/tools/mencoder
QString EncoderPath();

// The second encoder, which makes the movies of today's devices.
inline constexpr char FfmpegImageName[] = "ffmpeg";

// <application folder>/tools/ffmpeg
QString FfmpegPath();

// <application folder>/tools/mplayer
QString PlayerPath();

// "\"<player path>\" -geometry 325x265 \"<movie path>\"", both paths escaped so
// that they split back whole (see CommandLine.h). The form passes PlayerPath(),
// tests a stand-in.
QString PlayerCommandLine(const QString& moviePath, const QString& playerPath);

} // namespace ExternalTools
