// Tarnvik: a personal dictionary look-up strip for the desktop.
#include "catalogue/SettingsStore.h"
#include "lookup/frmDict.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnvik"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarnvik"));
    QApplication::setDesktopFileName(QStringLiteral("tarnvik"));
    tarnvik::SettingsStore store;
    tarnvik::frmDict window(store);
    window.show();
    return app.exec();
}
