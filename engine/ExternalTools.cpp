#include "ExternalTools.h"

#include "engine/CommandLine.h"
#include "shell/AppFolder.h"

namespace ExternalTools {

QString ToolPath(const QString& program)
{
    return GetAppDir() + QLatin1String("/tools/") + program;
}

QString PlayerPath()
{
    return ToolPath(QStringLiteral("mplayer"));
}

QString PlayerCommandLine(const QString& moviePath, const QString& playerPath)
{
    // The player path is quoted as well: an application folder with a space in it
    // would otherwise split into two arguments.
    return QStringLiteral("\"%1\" -geometry 325x265 \"%2\"")
        .arg(EscapeQuotedValue(playerPath), EscapeQuotedValue(moviePath));
}

} // namespace ExternalTools
