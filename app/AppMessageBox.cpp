#include "AppMessageBox.h"

#include "shell/AppInfo.h"

namespace {

int RunBox(const QString& text, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, AppInfo::Caption, text, buttons);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec();
}

} // namespace

void ShowAppMessage(const QString& text, QMessageBox::Icon icon)
{
    RunBox(text, icon, QMessageBox::Ok);
}

bool AskAppYesNo(const QString& text, QMessageBox::Icon icon)
{
    return RunBox(text, icon, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}
