// Tarnvik: a personal dictionary look-up strip for the desktop.
#include "catalogue/SettingsStore.h"
#include "lookup/frmDict.h"
#include "platform/Desktop.h"
#include "platform/MessageBox.h"
#include "platform/Session.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <cstdio>

int main(int argc, char **argv)
{
    using tarnvik::SingleInstance;
    // Read before the display is opened, which takes the startup id away.
    const tarnvik::ActivationHint hint = tarnvik::ActivationHint::fromEnvironment();
    const QString settings = tarnvik::SettingsStore::defaultPath();
    // Settled before anything else: a later start opens no display and
    // neither reads nor writes the settings.
    SingleInstance instance(SingleInstance::keyFor(settings));
    SingleInstance::Claim claim = instance.claim();
    if (claim == SingleInstance::Claim::Running) {
        switch (instance.ask(hint, std::chrono::seconds(5))) {
        case SingleInstance::Outcome::Answered:
            return 0;
        case SingleInstance::Outcome::Claimed:
            claim = SingleInstance::Claim::First;
            break;
        case SingleInstance::Outcome::NoAnswer: {
            const QString text = QStringLiteral("Tarnvik už běží (nastavení „%1“), ale neodpovídá.")
                                     .arg(QDir::toNativeSeparators(settings));
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
            // Started from a menu, nobody reads standard error.
            if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
                QApplication app(argc, argv);
                tarnvik::installCzechQtTexts(&app);
                tarnvik::showBox(nullptr, QMessageBox::Warning, QString(), text);
            }
            return 1;
        }
        }
    }
    if (claim != SingleInstance::Claim::First) {
        std::fprintf(stderr, "%s\n",
                     QStringLiteral("Tarnvik nelze spustit: %1").arg(instance.error()).toLocal8Bit().constData());
        return 1;
    }

    // On a Wayland session the X11 way through XWayland, unless the user
    // chose: only there can the strip stay on top and come back where it was.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qgetenv("XDG_SESSION_TYPE") == "wayland"
        && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnvik"));
    QApplication::setDesktopFileName(QStringLiteral("cz.tarnvik.Tarnvik"));
    // The installed theme's icon where there is one; ours otherwise (a build
    // run from its folder).
    Q_INIT_RESOURCE(tarnvik);
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("cz.tarnvik.Tarnvik"), QIcon(QStringLiteral(":/tarnvik/icon.svg"))));
    tarnvik::installCzechQtTexts(&app);
    tarnvik::addTahoma();
    // Without the socket later starts cannot reach this one, but they still
    // find the lock and start no second window.
    if (!instance.listen())
        qWarning("%s", qPrintable(instance.error()));
    tarnvik::SettingsStore store(settings);
    // Before the window exists: a signal during the start is handled once the
    // event loop runs, not by ending the program unsaved; a later start's
    // request finds the window coming up active anyway.
    tarnvik::frmDict *window = nullptr;
    tarnvik::onSessionEnd(&app, [&window] {
        if (window)
            window->endSession();
        else
            QCoreApplication::quit();
    });
    QObject::connect(&instance, &SingleInstance::activationRequested, &app,
                     [&window](const tarnvik::ActivationHint &request) {
                         if (window)
                             window->bringToFront(request);
                     });
    tarnvik::frmDict strip(store);
    window = &strip;
    strip.show();
    const int status = app.exec();
    return status != 0 ? status : strip.exitStatus();
}
