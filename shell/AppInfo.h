#pragma once

#include <QString>

// Who the program is: its build version, the caption of its main window and of
// every message box it shows, and the maker's addresses. The addresses sit on
// the reserved ".example" domain, so no one else's host is ever contacted.
namespace AppInfo {

inline constexpr int MajorVersion = 1;
inline constexpr int MinorVersion = 0;
inline constexpr int BuildVersion = 314;

inline const QString Caption = QStringLiteral("Tolva Clipvane");

// The maker's home page (the Web Site button and the about box).
inline constexpr char HomePageUrl[] = "http://www.tolva.example/";
// The version page the update check downloads, and the download page it opens.
inline constexpr char VersionPageUrl[] = "http://www.tolva.example/v_encoder.html";
inline constexpr char DownloadPageUrl[] = "http://www.tolva.example/sw.html";
// The support mail address shown in the about box.
inline constexpr char SupportMailAddress[] = "support@tolva.example";

} // namespace AppInfo
