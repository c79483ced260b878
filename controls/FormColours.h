#pragma once

#include <QColor>

// The colours of the main form, which its labels, its headings and the pictures
// of its buttons are drawn to match.
namespace FormColours {

// The form itself, its value labels, the ground of the button pictures and the
// dark end of the headings' gradient.
inline constexpr QColor Background{36, 36, 36};
// The caption labels of the information panels.
inline constexpr QColor CaptionBackground{167, 166, 170};

} // namespace FormColours
