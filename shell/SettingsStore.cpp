#include "SettingsStore.h"

#include <memory>

#include <QDir>
#include <QLoggingCategory>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

Q_LOGGING_CATEGORY(lcSettings, "clipvane.settings", QtWarningMsg)

namespace {

// SettingsKey names the file Tolva/Clipvane.conf in the user's configuration
// folder (the program's folder there, AppInfo::ProgramFolderIn, with ".conf"),
// and a key below it the groups inside the file; keys case-insensitive, as the
// registry's. No other key is kept. The folder is looked up on every call (not
// cached the way QSettings' own paths are), so that a changed XDG_CONFIG_HOME
// takes effect at once.
struct SettingsLocation
{
    QString file;
    QString group;
};

bool locate(const QString& subKey, SettingsLocation* out)
{
    const QStringList own = SettingsKey.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    const QStringList parts = subKey.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (parts.size() < own.size())
        return false;
    for (qsizetype i = 0; i < own.size(); ++i) {
        if (parts[i].compare(own[i], Qt::CaseInsensitive) != 0)
            return false;
    }
    const QString configDir =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (configDir.isEmpty())
        return false;
    out->file = AppInfo::ProgramFolderIn(configDir) + QLatin1String(".conf");
    out->group = parts.mid(own.size()).join(QLatin1Char('/'));
    return true;
}

std::unique_ptr<QSettings> open(const SettingsLocation& where)
{
    auto settings = std::make_unique<QSettings>(where.file, QSettings::IniFormat);
    if (!where.group.isEmpty())
        settings->beginGroup(where.group);
    return settings;
}

// Reads the raw value; false when the key, the file or the value is missing.
bool readValue(const QString& subKey, const QString& valueName, const QString& operation,
               QVariant* out)
{
    SettingsLocation where;
    if (!locate(subKey, &where)) {
        ReportUtilityError(operation, QSettings::AccessError);
        return false;
    }
    const auto settings = open(where);
    if (settings->status() != QSettings::NoError) {
        ReportUtilityError(operation, settings->status());
        return false;
    }
    *out = settings->value(valueName);
    if (!out->isValid()) {
        ReportUtilityError(operation, QSettings::AccessError);
        return false;
    }
    return true;
}

void writeValue(const QString& subKey, const QString& valueName, const QVariant& value,
                const QString& operation)
{
    SettingsLocation where;
    if (!locate(subKey, &where)) {
        ReportUtilityError(operation, QSettings::AccessError);
        return;
    }
    const auto settings = open(where);
    settings->setValue(valueName, value);
    settings->sync();
    ReportUtilityError(operation, settings->status());
}

// The stored text of a value; nothing when the key, the file or the value is
// missing.
std::optional<QString> readText(const QString& subKey, const QString& valueName,
                                const QString& operation)
{
    QVariant value;
    if (!readValue(subKey, valueName, operation, &value))
        return std::nullopt;
    // A hand-edited value with commas comes back from the INI reader as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1String(", "));
    return value.toString();
}

} // namespace

QString GetRegString(const QString& subKey, const QString& valueName, const QString& defaultValue)
{
    return readText(subKey, valueName, QStringLiteral("GetRegString")).value_or(defaultValue);
}

std::optional<DWORD> DwordFromText(const QString& text)
{
    bool ok = false;
    const DWORD number = text.trimmed().toUInt(&ok, 10);
    return ok ? std::optional<DWORD>(number) : std::nullopt;
}

DWORD GetRegDWORD(const QString& subKey, const QString& valueName, DWORD defaultValue)
{
    const std::optional<QString> text = readText(subKey, valueName, QStringLiteral("GetRegDWORD"));
    if (!text)
        return defaultValue;
    // The INI file keeps no types: a DWORD is read back from its decimal text,
    // and any text that is not an unsigned 32-bit number gives the default.
    const std::optional<DWORD> number = DwordFromText(*text);
    if (!number)
        ReportUtilityError(QStringLiteral("GetRegDWORD"), QSettings::FormatError);
    return number.value_or(defaultValue);
}

std::optional<QString> GetRegText(const QString& valueName)
{
    return readText(SettingsKey, valueName, QStringLiteral("GetRegText"));
}

void SetRegString(const QString& subKey, const QString& valueName, const QString& text)
{
    writeValue(subKey, valueName, text, QStringLiteral("SetRegString"));
}

void SetRegDWORD(const QString& subKey, const QString& valueName, DWORD value)
{
    writeValue(subKey, valueName, QVariant::fromValue(value), QStringLiteral("SetRegDWORD"));
}

QString GetRegString(const RegStringValue& value)
{
    return GetRegString(SettingsKey, QLatin1String(value.name),
                        QString::fromUtf8(value.defaultValue));
}

DWORD GetRegDWORD(const RegDwordValue& value)
{
    return GetRegDWORD(SettingsKey, QLatin1String(value.name), value.defaultValue);
}

void SetRegString(const RegStringValue& value, const QString& text)
{
    SetRegString(SettingsKey, QLatin1String(value.name), text);
}

void SetRegDWORD(const RegDwordValue& value, DWORD data)
{
    SetRegDWORD(SettingsKey, QLatin1String(value.name), data);
}

QString GetMovieDir()
{
    return GetRegString(RegValue::MovieDir);
}

QString GetPrefix()
{
    return GetRegString(RegValue::Prefix);
}

void ReportUtilityError(const QString& operationName, int code)
{
    if (code == 0)
        return;
    static const char* const descriptions[] = {"no error", "access error", "format error"};
    const char* description =
        (code > 0 && code < 3) ? descriptions[code] : "unknown settings error";
    qCDebug(lcSettings).noquote() << QString::asprintf("Utility Class Error in %s (%d)",
                                                       qUtf8Printable(operationName), code)
                                  << description;
}
