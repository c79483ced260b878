#include "UpdateCheck.h"

#include "shell/AppInfo.h"
#include "shell/GotoURL.h"
#include "shell/Numbers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace {

constexpr int MaxUrlLength = 1023;
// A version line is a few digits; reads stop here so that a page of one huge
// line cannot fill the memory.
constexpr qint64 MaxLineBytes = 4096;

QString urlFromEnvironment(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable).trimmed();
    return value.isEmpty() ? fallback : value;
}

// Reads one line in bounded pieces; returns its first MaxLineBytes bytes.
QByteArray readLine(QIODevice& file)
{
    QByteArray first;
    bool firstPiece = true;
    while (true) {
        const QByteArray piece = file.readLine(MaxLineBytes + 1);
        if (firstPiece)
            first = piece;
        firstPiece = false;
        if (piece.isEmpty() || piece.endsWith('\n'))
            break;
    }
    return first;
}

} // namespace

namespace UpdateCheck {

QString VersionPageUrl()
{
    return urlFromEnvironment(VersionUrlVariable, AppInfo::VersionPageUrl);
}

QString DownloadPageUrl()
{
    return urlFromEnvironment(DownloadUrlVariable, AppInfo::DownloadPageUrl);
}

QString LocalVersionFilePath()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return QString();
    return AppInfo::ProgramFolderIn(cache) + QStringLiteral("/version");
}

QString CanonicalizeUrl(const QString& url)
{
    const QUrl parsed(url.trimmed(), QUrl::TolerantMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return QString();
    const QString scheme = parsed.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return QString();
    const QString canonical = QString::fromLatin1(parsed.toEncoded());
    return canonical.size() > MaxUrlLength ? QString() : canonical;
}

qint64 ReadRemoteVersion(QIODevice& file)
{
    readLine(file);
    const QByteArray line = readLine(file);
    return LeadingNumber<qint64>(line.toStdString());
}

} // namespace UpdateCheck

bool CheckForUpdate(const UpdateCheckHooks& hooks)
{
    const qint64 own = AppInfo::VersionText().toLongLong();
    const QString localPath = UpdateCheck::LocalVersionFilePath();
    if (localPath.isEmpty())
        return true;
    QDir().mkpath(QFileInfo(localPath).absolutePath());

    const QString page = UpdateCheck::CanonicalizeUrl(UpdateCheck::VersionPageUrl());
    if (!page.isEmpty())
        HttpGetFile(localPath, nullptr, page, hooks.limits);

    // A failed download leaves an empty or partial file, which names no newer
    // version. The copy goes away whatever it held, before anything is asked.
    qint64 remote = 0;
    bool readable = false;
    {
        QFile file(localPath);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            readable = true;
            remote = UpdateCheck::ReadRemoteVersion(file);
        }
    }
    QFile::remove(localPath);
    if (!readable || remote <= own)
        return true;

    if (!hooks.askYesNo || !hooks.askYesNo(UpdateCheck::QuestionText, AppInfo::Caption))
        return true;
    const auto open = hooks.openUrl ? hooks.openUrl : GotoURL;
    // When no browser takes the page, ending the program would leave the user
    // with nothing at all: start-up goes on instead.
    return !open(UpdateCheck::DownloadPageUrl());
}
