#include "GotoURL.h"

#include <QDesktopServices>
#include <QUrl>

bool GotoURL(const QString& url)
{
    const QString text = url.trimmed();
    if (text.isEmpty())
        return false;
    // Accepts what a user would type as well as full addresses: "www.x" becomes
    // an http address and a plain path a file address.
    const QUrl target = QUrl::fromUserInput(text);
    return target.isValid() && QDesktopServices::openUrl(target);
}
