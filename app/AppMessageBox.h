#pragma once

#include <QMessageBox>
#include <QString>

// The program's own message boxes: caption "Tolva Clipvane", no owner window,
// modal for the whole application.

// A notice with an OK button.
void ShowAppMessage(const QString& text, QMessageBox::Icon icon);

// A question with Yes and No; true for Yes.
bool AskAppYesNo(const QString& text, QMessageBox::Icon icon);
