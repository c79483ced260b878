#pragma once

#include "engine/EncodeProfile.h"

#include <vector>

#include <QString>

// The presets: one table of profiles, the only place that says what each one
// makes. The options list, the main form's summary, the stored settings'
// defaults (User Define's are "Pocket PC Normal"'s values) and the encode all
// read it.
namespace Presets {

// The first preset's name, which the main form shows before it reads the
// settings, and the name of today's phones' and tablets' preset, which a first
// start chooses.
inline constexpr char PocketPcNormalName[] = "Pocket PC Normal";
inline constexpr char PhoneAndTabletName[] = "Phone and Tablet";

// Every preset in the order the options dialog lists them; "Pocket PC Normal"
// first.
const std::vector<EncodeProfile>& All();

// "Pocket PC Normal": the handhelds' movie, made by mencoder.
const EncodeProfile& PocketPcNormal();

// The preset with this name (as written, case and all); nothing for another.
const EncodeProfile* Find(const QString& name);

} // namespace Presets
