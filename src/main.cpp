// Tarnvik: a personal dictionary look-up strip for the desktop.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnvik"));
    QWidget window;
    window.setWindowTitle(QStringLiteral("Tarnvik"));
    window.resize(600, 40);
    window.show();
    return app.exec();
}
