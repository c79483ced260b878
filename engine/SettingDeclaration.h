#pragma once

#include "engine/StoredSettings.h"

#include <limits>
#include <type_traits>
#include <variant>

#include <QString>

// How one stored setting is kept: its key as the settings file spells it, the
// member of StoredSettings it fills, its default, its repair rule, when the
// options dialog's OK writes it and what a first start writes. The table of
// every setting is in StoredSettings.cpp. The member's type gives the type on
// disk: a QString is a string, a DWORD a DWORD, a bool a DWORD of 0 or 1.
class SettingDeclaration final
{
public:
    // How a stored string is read: any text, or a whole number from
    // StoredSettings::MinPictureSize to MaxPictureSize, an odd one taken one
    // lower.
    enum class TextRule
    {
        AnyText,
        PictureSize
    };
    // A stored DWORD up to most. An index outside its list, for one, is not a
    // value: it is neither read nor written.
    struct NumberRule
    {
        DWORD most = std::numeric_limits<DWORD>::max();
    };
    // A stored DWORD: 0 off, any other number on.
    struct SwitchRule
    {
    };
    // The rule of a member's type. A stored text that its rule refuses is read
    // as the default, and its key is named among the repaired ones.
    template <class T>
    using RuleFor =
        std::conditional_t<std::is_same_v<T, QString>, TextRule,
                           std::conditional_t<std::is_same_v<T, DWORD>, NumberRule, SwitchRule>>;

    // When OK writes the value. Whenever OK writes values other than the
    // Always ones (for all but Never), it writes a repaired one too, so that the
    // store then holds what the dialog showed.
    enum class OkWrites
    {
        Always,
        ForUserDefine,
        ForPreset,
        Never
    };
    // What a first start writes: nothing, the default, the first-start value,
    // or that value unless the store holds one (a settings file handed out with
    // the program).
    enum class FirstStart
    {
        Nothing,
        TheDefault,
        Value,
        ValueUnlessStored
    };

    template <class T>
    SettingDeclaration(const char* key, T StoredSettings::*member,
                       std::type_identity_t<T> defaultValue, RuleFor<T> rule, OkWrites ok,
                       FirstStart first = FirstStart::Nothing,
                       std::type_identity_t<T> firstValue = T())
        : m_key(QString::fromLatin1(key))
        , m_member(member)
        , m_defaultValue(defaultValue)
        , m_ok(ok)
        , m_first(first)
        , m_firstValue(first == FirstStart::TheDefault ? m_defaultValue : Value(firstValue))
    {
        TakeRule(rule);
    }
    // A DWORD that a first start writes, and that is never read.
    SettingDeclaration(const char* key, DWORD firstValue);

    const QString& Key() const { return m_key; }
    OkWrites WrittenByOk() const { return m_ok; }
    // False for a value that is never read.
    bool IsRead() const { return !std::holds_alternative<std::monostate>(m_member); }
    template <class T>
    bool Holds(T StoredSettings::*member) const
    {
        const auto* held = std::get_if<T StoredSettings::*>(&m_member);
        return held && *held == member;
    }

    void SetDefault(StoredSettings& settings) const;
    // Sets the member from a stored text; false when the rule refuses it.
    bool Take(const QString& text, StoredSettings& settings) const;
    // Writes the member's value (a number the rule refuses is not written).
    void Write(const StoredSettings& settings) const;
    void WriteAtFirstStart() const;

private:
    using Member = std::variant<std::monostate, QString StoredSettings::*, DWORD StoredSettings::*,
                                bool StoredSettings::*>;
    using Value = std::variant<QString, DWORD, bool>;

    void TakeRule(TextRule rule) { m_textRule = rule; }
    void TakeRule(NumberRule rule) { m_most = rule.most; }
    void TakeRule(SwitchRule) {}
    void WriteValue(const Value& value) const;

    QString m_key;
    Member m_member;
    Value m_defaultValue;
    TextRule m_textRule = TextRule::AnyText;
    DWORD m_most = std::numeric_limits<DWORD>::max();
    OkWrites m_ok;
    FirstStart m_first;
    Value m_firstValue;
};
