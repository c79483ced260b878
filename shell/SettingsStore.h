#pragma once

#include <cstdint>
#include <optional>

#include <QString>

// The per-user settings file of Clipvane, read and written by key: the INI file
// $XDG_CONFIG_HOME/Tolva/Clipvane.conf (~/.config/... by default), the values at
// its top level, keys case-insensitive. Which keys there are, their types,
// defaults and repair rules is declared in engine/StoredSettings. A read gives
// nothing for a value the file does not hold; a write that fails is dropped.
// Nothing here is ever shown to the user: a failure is a debug line of the
// "clipvane.settings" category.

using DWORD = std::uint32_t;

// The text a value holds; nothing when the file or the value is missing.
std::optional<QString> GetRegText(const QString& key);
// Writes a value as a string, or as a DWORD (an unsigned 32-bit number).
void SetRegString(const QString& key, const QString& text);
void SetRegDWORD(const QString& key, DWORD value);

// A DWORD as the store keeps it: its decimal text, spaces round it allowed;
// nothing for any text that is not an unsigned 32-bit number.
std::optional<DWORD> DwordFromText(const QString& text);
