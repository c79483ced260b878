#include "AppInfo.h"

namespace AppInfo {

QString VersionText(const char* separator)
{
    return QString::asprintf("%d%s%d%s%04d", MajorVersion, separator, MinorVersion, separator,
                             BuildVersion);
}

QString SupportMailUrl()
{
    return QStringLiteral("mailto:") + QLatin1String(SupportMailAddress);
}

QString MakerFolderIn(const QString& folder)
{
    return folder + QLatin1Char('/') + QLatin1String(MakerName);
}

QString ProgramFolderIn(const QString& folder)
{
    return MakerFolderIn(folder) + QLatin1Char('/') + QLatin1String(ProgramName);
}

} // namespace AppInfo
