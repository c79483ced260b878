#include "AppInfo.h"

namespace AppInfo {

QString VersionText(const char* separator)
{
    return QString::asprintf("%d%s%d%s%04d", MajorVersion, separator, MinorVersion, separator,
                             BuildVersion);
}

} // namespace AppInfo
