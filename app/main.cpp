#include "app/AppMessageBox.h"
#include "app/ClipvaneApp.h"
#include "desktop/InstanceGate.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The files and folders to add: what a file manager's "Open With" passes.
    const QStringList paths = CInstanceGate::PathsFromArguments(app.arguments().mid(1));
    // A later start hands them to the first and ends before it could read or
    // write the job list.
    CInstanceGate gate;
    switch (gate.Claim(paths)) {
    case CInstanceGate::Role::HandedOver:
        return 0;
    case CInstanceGate::Role::Unanswered:
        ShowAppMessage(QStringLiteral("Clipvane is already running but did not answer."),
                       QMessageBox::Information);
        return 1;
    case CInstanceGate::Role::First:
        break;
    }
    CClipvaneApp clipvane;
    QObject::connect(&gate, &CInstanceGate::PathsOpened,
                     [&clipvane](const QStringList& opened) { clipvane.OpenPaths(opened); });
    clipvane.OpenPaths(paths);
    if (!clipvane.InitInstance())
        return 0;
    return app.exec();
}
