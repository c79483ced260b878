#pragma once

#include "shell/DialogUnits.h"

#include <QColor>

class QDialog;

// The look the options dialog and the about box share: the 8-point Tahoma dialog
// font, and their own background and every static control on it in a light grey.
inline const QColor LightDialogBackground(250, 250, 250);

void ApplyLightDialogLook(QDialog& dialog);

// Places a control of a dialog at a rectangle given in dialog units.
template <class Widget>
Widget* PlaceInDialogUnits(Widget* widget, int x, int y, int width, int height)
{
    widget->setGeometry(DialogUnitsToPixels(x, y, width, height));
    return widget;
}
