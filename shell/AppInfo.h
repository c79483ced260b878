#pragma once

#include "shell/AppVersion.h"

#include <QString>

// Who the program is: its build version (MajorVersion, MinorVersion and
// BuildVersion), the maker's and its own names (MakerName, ProgramName), its
// desktop name (DesktopId), its application id (ApplicationId), the maker's
// home page and support mail address (HomePageUrl, SupportMailAddress), from
// the generated AppVersion.h; the
// caption of its main window and of every message box it shows, and the
// maker's other addresses.
// The addresses sit on the reserved ".example" domain, so no one else's host is
// ever contacted.
namespace AppInfo {

// The build version as text, the build number in four digits: "100314" without
// a separator (the number the update check compares), "1.0.0314" with "." (the
// about box).
QString VersionText(const char* separator = "");

inline const QString Caption =
    QStringLiteral("%1 %2").arg(QLatin1String(MakerName), QLatin1String(ProgramName));

// <folder>/Tolva
QString MakerFolderIn(const QString& folder);
// <folder>/Tolva/Clipvane
QString ProgramFolderIn(const QString& folder);

// The version page the update check downloads, and the download page it opens,
// on the maker's site.
inline const QString VersionPageUrl = QLatin1String(HomePageUrl) + QLatin1String("v_encoder.html");
inline const QString DownloadPageUrl = QLatin1String(HomePageUrl) + QLatin1String("sw.html");
// The "mailto:" address of SupportMailAddress.
QString SupportMailUrl();

} // namespace AppInfo
