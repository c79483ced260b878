#pragma once

#include "shell/HttpGetFile.h"

#include <functional>

#include <QIODevice>
#include <QString>

// The update check that runs at every start before any window exists: it
// downloads the maker's version file, compares the number on its second line
// with this build's own number and, when the file names a newer build, asks
// whether to update now. Every failure lets start-up go on without a word.
namespace UpdateCheck {

// The maker's pages are AppInfo::VersionPageUrl and AppInfo::DownloadPageUrl.
// The environment variables CLIPVANE_VERSION_URL and CLIPVANE_DOWNLOAD_URL
// replace them, for tests and for administrators who mirror the pages.
inline constexpr char VersionUrlVariable[] = "CLIPVANE_VERSION_URL";
inline constexpr char DownloadUrlVariable[] = "CLIPVANE_DOWNLOAD_URL";

inline const QString QuestionText =
    QStringLiteral("New version found!\nDo you wish to update at this time");

QString VersionPageUrl();
QString DownloadPageUrl();

// The downloaded copy of the version page, in the user's cache folder: the
// program's own folder may be read-only once installed.
QString LocalVersionFilePath();

// The address as it goes on the wire, or "" when it is not a usable HTTP or
// HTTPS address of fewer than 1024 characters.
QString CanonicalizeUrl(const QString& url);

// The number the leading digits of the second line give (0 without a second
// line or without digits), as the C library's text-to-integer conversion reads
// it: leading white space and a sign are accepted.
qint64 ReadRemoteVersion(QIODevice& file);

} // namespace UpdateCheck

// What the check needs from its surroundings, so that it runs without widgets.
struct UpdateCheckHooks
{
    // Shows the question (text, caption) with Yes and No; true for Yes. Without
    // it nothing is asked and start-up goes on.
    std::function<bool(const QString& text, const QString& caption)> askYesNo;
    // Opens the download page; GotoURL when empty.
    std::function<bool(const QString& url)> openUrl;
    HttpGetFileLimits limits;
};

// True to go on with start-up, false when the user chose to update and the
// download page was opened: the program is then to end.
bool CheckForUpdate(const UpdateCheckHooks& hooks);
