#include "SettingDeclaration.h"

#include "shell/SettingsStore.h"

SettingDeclaration::SettingDeclaration(const char* key, DWORD firstValue)
    : m_key(QString::fromLatin1(key))
    , m_defaultValue(DWORD(0))
    , m_ok(OkWrites::Never)
    , m_first(FirstStart::Value)
    , m_firstValue(firstValue)
{
}

void SettingDeclaration::SetDefault(StoredSettings& settings) const
{
    if (const auto* text = std::get_if<QString StoredSettings::*>(&m_member))
        settings.** text = std::get<QString>(m_defaultValue);
    else if (const auto* number = std::get_if<DWORD StoredSettings::*>(&m_member))
        settings.** number = std::get<DWORD>(m_defaultValue);
    else if (const auto* on = std::get_if<bool StoredSettings::*>(&m_member))
        settings.** on = std::get<bool>(m_defaultValue);
}

bool SettingDeclaration::Take(const QString& text, StoredSettings& settings) const
{
    if (const auto* member = std::get_if<QString StoredSettings::*>(&m_member)) {
        if (m_textRule == TextRule::AnyText) {
            settings.** member = text;
            return true;
        }
        bool ok = false;
        const int size = text.trimmed().toInt(&ok, 10);
        if (!ok || size < StoredSettings::MinPictureSize || size > StoredSettings::MaxPictureSize)
            return false;
        settings.** member = QString::number(size / 2 * 2);
        return true;
    }
    const std::optional<DWORD> number = DwordFromText(text);
    if (!number)
        return false;
    if (const auto* member = std::get_if<DWORD StoredSettings::*>(&m_member)) {
        if (*number > m_most)
            return false;
        settings.** member = *number;
        return true;
    }
    if (const auto* member = std::get_if<bool StoredSettings::*>(&m_member)) {
        settings.** member = *number != 0;
        return true;
    }
    return false;
}

void SettingDeclaration::Write(const StoredSettings& settings) const
{
    if (const auto* text = std::get_if<QString StoredSettings::*>(&m_member))
        WriteValue(settings.**text);
    else if (const auto* number = std::get_if<DWORD StoredSettings::*>(&m_member)) {
        if (settings.**number <= m_most)
            WriteValue(settings.**number);
    } else if (const auto* on = std::get_if<bool StoredSettings::*>(&m_member))
        WriteValue(settings.**on);
}

void SettingDeclaration::WriteAtFirstStart() const
{
    if (m_first == FirstStart::Nothing ||
        (m_first == FirstStart::ValueUnlessStored && GetRegText(m_key)))
        return;
    WriteValue(m_firstValue);
}

void SettingDeclaration::WriteValue(const Value& value) const
{
    if (const auto* text = std::get_if<QString>(&value))
        SetRegString(m_key, *text);
    else if (const auto* number = std::get_if<DWORD>(&value))
        SetRegDWORD(m_key, *number);
    else
        SetRegDWORD(m_key, std::get<bool>(value) ? 1 : 0);
}
