#include "app/ClipvaneApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    CClipvaneApp clipvane;
    if (!clipvane.InitInstance())
        return 0;
    return app.exec();
}
