#pragma once

#include <QString>

// Opens an address with the desktop's default handler: a web page in the
// browser, a "mailto:" address in the mail program, a folder in the file
// manager. Returns true when the desktop accepted it. Needs a running
// QGuiApplication; without one nothing is opened and the result is false.
bool GotoURL(const QString& url);
