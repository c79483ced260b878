#include "LightDialog.h"

#include <QDialog>
#include <QFont>
#include <QPalette>

void ApplyLightDialogLook(QDialog& dialog)
{
    QFont dialogFont(QStringLiteral("Tahoma"));
    dialogFont.setPointSize(8);
    dialog.setFont(dialogFont);
    QPalette colours = dialog.palette();
    colours.setColor(QPalette::Window, LightDialogBackground);
    // Disabled edits ask for the dialog's colour, like static text.
    colours.setColor(QPalette::Disabled, QPalette::Base, LightDialogBackground);
    dialog.setPalette(colours);
    dialog.setAutoFillBackground(true);
}
