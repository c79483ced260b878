#include "LightDialog.h"

#include "controls/AppFonts.h"

#include <QDialog>
#include <QFont>
#include <QPalette>

void ApplyLightDialogLook(QDialog& dialog)
{
    dialog.setFont(DialogFont());
    QPalette colours = dialog.palette();
    colours.setColor(QPalette::Window, LightDialogBackground);
    // Disabled edits ask for the dialog's colour, like static text.
    colours.setColor(QPalette::Disabled, QPalette::Base, LightDialogBackground);
    dialog.setPalette(colours);
    dialog.setAutoFillBackground(true);
}
