#pragma once

#include <cstdint>

#include <QString>

// The application folder and the small text helpers that several parts of the
// program share, so that numbers and paths are formatted the same everywhere.

// Folder of the running executable, without a trailing separator. The path is
// kept exactly as the file system spells it: file names are case-sensitive.
QString GetAppDir();

// The program's own state folder: $XDG_STATE_HOME/Tolva/Clipvane, where an unset,
// empty or relative XDG_STATE_HOME means ~/.local/state (the XDG base directory
// rules; Qt 6.4's QStandardPaths has no state location, so the rule is here).
// It holds the run logs and the saved job list.
QString GetStateDir();

// "%d"
QString FormatInt(int value);

// "%.3f", always with a "." as the decimal separator.
QString FormatReal(double value);

// "%02d:%02d:%02d" of hours (not wrapped), minutes and seconds.
QString FormatDuration(std::int64_t seconds);

// The extension of the last path component, dot included ("" when there is none).
QString PathExtension(const QString& path);

// The last path component: file name and extension without the folder.
QString PathFileName(const QString& path);

// Processes the events waiting for the calling thread and returns when none is left.
void PumpMessages();
