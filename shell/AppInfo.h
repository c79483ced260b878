#pragma once

#include "shell/AppVersion.h"

#include <QString>

// Who the program is: its build version (MajorVersion, MinorVersion and
// BuildVersion), its desktop name (DesktopId) and the maker's home page
// (HomePageUrl), from the generated AppVersion.h; the caption of its main
// window and of every message box it shows, and the maker's other addresses.
// The addresses sit on the reserved ".example" domain, so no one else's host is
// ever contacted.
namespace AppInfo {

// The build version as text, the build number in four digits: "100314" without
// a separator (the number the update check compares), "1.0.0314" with "." (the
// about box).
QString VersionText(const char* separator = "");

inline const QString Caption = QStringLiteral("Tolva Clipvane");

// The maker's and the program's names as the program's folders spell them: the
// settings file <config>/Tolva/Clipvane.conf, the folders <cache>/Tolva/Clipvane
// and <state>/Tolva/Clipvane, and the first output folder <documents>/Tolva/...
inline constexpr char MakerName[] = "Tolva";
inline constexpr char ProgramName[] = "Clipvane";

// <folder>/Tolva
QString MakerFolderIn(const QString& folder);
// <folder>/Tolva/Clipvane
QString ProgramFolderIn(const QString& folder);

// The version page the update check downloads, and the download page it opens.
inline constexpr char VersionPageUrl[] = "http://www.tolva.example/v_encoder.html";
inline constexpr char DownloadPageUrl[] = "http://www.tolva.example/sw.html";
// The support mail address shown in the about box, and its "mailto:" address.
inline constexpr char SupportMailAddress[] = "support@tolva.example";
QString SupportMailUrl();

} // namespace AppInfo
