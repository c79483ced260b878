#include "SettingsStore.h"

#include "shell/AppInfo.h"

#include <memory>

#include <QLoggingCategory>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

Q_LOGGING_CATEGORY(lcSettings, "clipvane.settings", QtWarningMsg)

namespace {

// Developer diagnostic for a failed operation: a debug-log line, never shown to
// the user. A code of 0 means there is nothing to report.
void ReportUtilityError(const char* operationName, int code)
{
    if (code == 0)
        return;
    static const char* const descriptions[] = {"no error", "access error", "format error"};
    const char* description =
        (code > 0 && code < 3) ? descriptions[code] : "unknown settings error";
    qCDebug(lcSettings).noquote() << QString::asprintf("Utility Class Error in %s (%d)",
                                                       operationName, code)
                                  << description;
}

// The file Tolva/Clipvane.conf in the user's configuration folder (the
// program's folder there, AppInfo::ProgramFolderIn, with ".conf"). The folder
// is looked up on every call (not cached the way QSettings' own paths are), so
// that a changed XDG_CONFIG_HOME takes effect at once. Null when there is no
// configuration folder.
std::unique_ptr<QSettings> Open(const char* operationName)
{
    const QString configDir =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (configDir.isEmpty()) {
        ReportUtilityError(operationName, QSettings::AccessError);
        return nullptr;
    }
    return std::make_unique<QSettings>(AppInfo::ProgramFolderIn(configDir) + QLatin1String(".conf"),
                                       QSettings::IniFormat);
}

void Write(const QString& key, const QVariant& value, const char* operationName)
{
    const auto settings = Open(operationName);
    if (!settings)
        return;
    settings->setValue(key, value);
    settings->sync();
    ReportUtilityError(operationName, settings->status());
}

} // namespace

std::optional<QString> GetRegText(const QString& key)
{
    const char* operation = "GetRegText";
    const auto settings = Open(operation);
    if (!settings)
        return std::nullopt;
    if (settings->status() != QSettings::NoError) {
        ReportUtilityError(operation, settings->status());
        return std::nullopt;
    }
    const QVariant value = settings->value(key);
    if (!value.isValid()) {
        ReportUtilityError(operation, QSettings::AccessError);
        return std::nullopt;
    }
    // A hand-edited value with commas comes back from the INI reader as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1String(", "));
    return value.toString();
}

void SetRegString(const QString& key, const QString& text)
{
    Write(key, text, "SetRegString");
}

void SetRegDWORD(const QString& key, DWORD value)
{
    Write(key, QVariant::fromValue(value), "SetRegDWORD");
}

std::optional<DWORD> DwordFromText(const QString& text)
{
    bool ok = false;
    const DWORD number = text.trimmed().toUInt(&ok, 10);
    return ok ? std::optional<DWORD>(number) : std::nullopt;
}
