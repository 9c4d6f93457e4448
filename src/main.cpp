// Tarnvik: a personal dictionary look-up strip for the desktop.
#include "catalogue/SettingsStore.h"
#include "lookup/frmDict.h"
#include "platform/Session.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnvik"));
    QApplication::setDesktopFileName(QStringLiteral("cz.tarnvik.Tarnvik"));
    tarnvik::SettingsStore store;
    // Before the window exists: a signal during the start is handled once the
    // event loop runs, not by ending the program unsaved.
    tarnvik::frmDict *unload = nullptr;
    tarnvik::onSessionEnd(&app, [&unload] {
        if (unload)
            unload->Form_Unload();
        else
            QCoreApplication::quit();
    });
    tarnvik::frmDict window(store);
    unload = &window;
    window.show();
    return app.exec();
}
