#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

// Clipvane's main window is not built yet; until it is, the program opens this
// small window so that a start shows that the build works.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tolva"));
    QApplication::setApplicationName(QStringLiteral("Clipvane"));

    QWidget window;
    window.setWindowTitle(QStringLiteral("Tolva Clipvane"));
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel(QStringLiteral(
        "Clipvane is not finished yet.\n\nThe encoding engine is being built; the main "
        "window with the movie list comes in a later version."));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    layout->addWidget(label);
    window.resize(420, 180);
    window.show();
    return app.exec();
}
