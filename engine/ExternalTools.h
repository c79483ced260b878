#pragma once

#include <QString>

// Where Clipvane finds the outside programs it drives: the tools folder inside
// the application folder, which holds the encoders (each named by its row in
// Backends.h) and the preview player, and how the player's command line looks.
// Nothing else in the program spells these out.
namespace ExternalTools {

// <application folder>/tools/<program>
QString ToolPath(const QString& program);

// <application folder>/tools/mplayer
QString PlayerPath();

// "\"<player path>\" -geometry 325x265 \"<movie path>\"", both paths escaped so
// that they split back whole (see CommandLine.h). The form passes PlayerPath(),
// tests a stand-in.
QString PlayerCommandLine(const QString& moviePath, const QString& playerPath);

} // namespace ExternalTools
