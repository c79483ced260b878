#pragma once

#include "engine/EncodeSetting.h"
#include "shell/SettingsStore.h"

#include <QString>
#include <QStringList>

// The stored encoding choices and the record they make. The settings store keeps
// the index of each list entry chosen in the options dialog, and the record
// gets its values from the entries; the dialog's OK and the start-up both go
// through ApplyStoredSettings, so that the record, the dialog and the main
// form's summary always tell the same settings.
namespace StoredSettings {

// The lists of the options dialog, in the order their stored indexes count.
const QStringList& EncoderEntries();   // "MPEG-4", "MS MPEG4v2", "WMV7", "WMV8"
const QStringList& BitRateEntries();   // "100" ... "500" (kbit/s)
const QStringList& FrameRateEntries(); // "15", "25", "30"
const QStringList& RatioEntries();     // "4:3", "16:9"

// The entry a stored index names; an index outside the list names the entry
// at the value's default index, as the summary shows it.
int StoredIndex(const QStringList& entries, const RegDwordValue& value);
QString StoredEntry(const QStringList& entries, const RegDwordValue& value);

// Encoder template index (see EncodeSetting::m_nEncoder) of each entry of the
// encoder list: "MPEG-4" 0, "MS MPEG4v2" 2, "WMV7" 3, "WMV8" 4; -1 for none.
int EncoderTemplateFor(int entry);

// The leading integer of a text the way the C library's atoi reads it (white
// space, sign, digits; 0 without digits), limited to the int range.
int LeadingInt(const QString& text);

} // namespace StoredSettings

// Puts the stored choices into the record: the "Pocket PC Normal" preset, or the
// stored "User Define" encoder, bit rate, frame rate, picture size and aspect on
// top of what the record holds; in both cases the subtitle switch. Writes
// nothing.
void ApplyStoredSettings(EncodeSetting& setting);
