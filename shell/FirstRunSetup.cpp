#include "FirstRunSetup.h"

#include "shell/AppInfo.h"
#include "shell/SettingsStore.h"

#include <QDir>
#include <QStandardPaths>

QString DefaultMovieDir()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return AppInfo::MakerFolderIn(documents) + QStringLiteral("/Encoded Movies");
}

bool FirstRunSetup()
{
    if (!GetRegString(RegValue::Started).isEmpty())
        return false;
    SetRegDWORD(RegValue::MajorVersion, AppInfo::MajorVersion);
    SetRegDWORD(RegValue::MinorVersion, AppInfo::MinorVersion);
    SetRegDWORD(RegValue::BuildVersion, AppInfo::BuildVersion);

    const QString movieDir = DefaultMovieDir();
    QDir().mkpath(movieDir);
    SetRegString(RegValue::MovieDir, movieDir);
    SetRegString(RegValue::Prefix, QStringLiteral("[%1]").arg(QLatin1String(AppInfo::MakerName)));
    SetRegDWORD(RegValue::Option, 0);
    // Today's preset, unless one was stored before (a settings file handed out
    // with the program).
    if (!GetRegText(QLatin1String(RegValue::Preset.name)))
        SetRegString(RegValue::Preset, QLatin1String(RegValue::FirstStartPreset));
    // "Started" is written last: a second process starting meanwhile (the
    // batch jobs of a cluster recipe on one host, the window beside a batch)
    // sees it only once the values above are there, and until then writes the
    // same defaults itself instead of reading an empty prefix.
    SetRegString(RegValue::Started, QStringLiteral("Yes"));
    return true;
}
