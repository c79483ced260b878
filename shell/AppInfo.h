#pragma once

#include <QString>

// Who the program is: its build version and the caption of its main window and
// of every message box it shows.
namespace AppInfo {

inline constexpr int MajorVersion = 1;
inline constexpr int MinorVersion = 0;
inline constexpr int BuildVersion = 314;

inline const QString Caption = QStringLiteral("Tolva Clipvane");

} // namespace AppInfo
