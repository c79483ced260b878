#pragma once

#include <QFont>
#include <QString>

// Registers the Tahoma-compatible font of Debian's fonts-wine
// (/usr/share/wine/fonts/tahoma.ttf) with Qt, so that "Tahoma" asked for by name
// gets the metrics the windows were laid out for. The file lies outside
// fontconfig's path; without it Qt substitutes a wider font. Bold "Tahoma" is
// the regular face emboldened by Qt: the package's own bold face (tahomabd.ttf)
// has strokes hardly heavier than the regular at 11 to 15 pixels, so bold
// headings and titles would not stand out. Needs a QGuiApplication; a missing
// file is skipped. Safe to call more than once: the font is registered once.
void RegisterApplicationFonts();

// The font the windows were laid out in, whose dialog units DialogUnits.h
// counts: "Tahoma", 8 points.
QFont DialogFont();

// A font of the given family whose cell (ascent plus descent) is cellHeight
// pixels high, as a Windows font of that height is measured: "Tahoma" with a
// cell of 13 pixels has an em of 11 pixels (8 points at 96 dpi), not 13.
QFont CellHeightFont(const QString& family, int cellHeight, QFont::Weight weight = QFont::Normal);
