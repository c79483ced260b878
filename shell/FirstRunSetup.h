#pragma once

#include <QString>

// The output folder a fresh installation starts with: "Tolva/Encoded Movies" in
// the user's documents folder.
QString DefaultMovieDir();

// Runs once per installation, after the main window is shown. When the setting
// "Started" is empty it writes "Started" = "Yes", the build version, the output
// folder (DefaultMovieDir, created with its parents), "Prefix" = "[Tolva]",
// "Option" = 0 and, unless a preset is stored, "Preset" =
// RegValue::FirstStartPreset, and returns true. Otherwise it writes nothing and returns false,
// so that a user's own folder and prefix survive. A folder that cannot be
// created is left to the first encoding run to report.
bool FirstRunSetup();
