// Tarnvik: a personal dictionary look-up strip for the desktop.
#include "catalogue/SettingsStore.h"
#include "lookup/frmDict.h"
#include "platform/Desktop.h"
#include "platform/LeakCheck.h"
#include "platform/MessageBox.h"
#include "platform/Product.h"
#include "platform/Resources.h"
#include "platform/Session.h"
#include "platform/SingleInstance.h"
#include "platform/Text.h"

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDir>
#include <QIcon>
#include <QTimer>

#include <cstdio>

namespace {

const char kUsage[] = "Použití: tarnvik [volby Qt] [[--] SLOVO…]\n"
                      "       tarnvik [volby Qt] --selection | --clipboard\n"
                      "Vyhledá slovo (nebo výběr, nebo obsah schránky) v běžícím okně Tarnviku,\n"
                      "nebo Tarnvik s ním spustí.\n";

// What the command line asks to look up; false for words it does not know.
bool parseArguments(int argc, char **argv, tarnvik::ActivationHint *hint)
{
    using LookUp = tarnvik::ActivationHint::LookUp;
    QStringList words;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (options && arg == u"--") {
            options = false;
        } else if (options && (arg == u"--selection" || arg == u"--clipboard") && hint->lookUp == LookUp::Nothing) {
            hint->lookUp = arg == u"--selection" ? LookUp::Selection : LookUp::Clipboard;
        } else if (options && arg.startsWith(u"--")) {
            return false;
        } else if (options && arg.startsWith(u'-') && arg.size() > 1) {
            // Qt's own options (-platform xcb, -style=fusion…): Qt takes them.
            static const QStringList withValue = {
                u"platform"_qs, u"platformpluginpath"_qs, u"platformtheme"_qs, u"plugin"_qs, u"qwindowgeometry"_qs,
                u"geometry"_qs, u"qwindowicon"_qs, u"icon"_qs, u"qwindowtitle"_qs, u"title"_qs, u"session"_qs,
                u"display"_qs, u"name"_qs, u"stylesheet"_qs, u"style"_qs, u"qmljsdebugger"_qs};
            if (withValue.contains(arg.mid(1)))
                ++i;
        } else {
            words << arg;
        }
    }
    if (!words.isEmpty()) {
        if (hint->lookUp != LookUp::Nothing)
            return false;
        hint->lookUp = LookUp::Text;
        // Only the first line is looked up: what travels is what is used.
        hint->text = tarnvik::sentText(words.join(u' '));
    }
    return true;
}

// How long the window manager is given to bring the window forward; within
// the time a later start waits for its answer.
constexpr int kForwardMs = 1500;

QString selectionProblem(const tarnvik::ActivationHint &hint)
{
    if (hint.lookUp == tarnvik::ActivationHint::LookUp::Selection && !QGuiApplication::clipboard()->supportsSelection())
        return QStringLiteral("Výběr nelze přečíst: tato plocha programům výběr myší nenabízí.");
    return QString();
}

// A later start learns what could not be done: where the desktop keeps the
// selection to itself or does not let the window come forward (a Wayland
// compositor without activation), the request would otherwise end in
// silence.
void answerOnceForward(tarnvik::SingleInstance &instance, const tarnvik::ActivationHint &hint)
{
    const quint64 id = instance.answerLater();
    QStringList problems;
    if (const QString problem = selectionProblem(hint); !problem.isEmpty())
        problems << problem;
    auto *poll = new QTimer(&instance);
    poll->setInterval(50);
    auto check = [&instance, id, problems, poll, deadline = QDeadlineTimer(kForwardMs)]() mutable {
        const bool forward = QGuiApplication::applicationState() == Qt::ApplicationActive;
        if (!forward && !deadline.hasExpired())
            return;
        if (!forward)
            problems << QStringLiteral("Okno Tarnviku nelze přenést do popředí: plocha to programu nedovolí.");
        instance.answer(id, problems.join(u' '));
        poll->stop();
        poll->deleteLater();
    };
    QObject::connect(poll, &QTimer::timeout, &instance, check);
    poll->start();
}

} // namespace

int main(int argc, char **argv)
{
    using tarnvik::SingleInstance;
    // Read before the display is opened, which takes the startup id away.
    tarnvik::ActivationHint hint = tarnvik::ActivationHint::fromEnvironment();
    if (argc == 2 && (qstrcmp(argv[1], "--help") == 0 || qstrcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!parseArguments(argc, argv, &hint)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const QString settings = tarnvik::SettingsStore::defaultPath();
    // Settled before anything else: a later start opens no display and
    // neither reads nor writes the settings.
    SingleInstance instance(SingleInstance::keyFor(settings));
    SingleInstance::Claim claim = instance.claim();
    if (claim == SingleInstance::Claim::Running) {
        switch (instance.ask(hint, std::chrono::seconds(5))) {
        case SingleInstance::Outcome::Answered:
            return 0;
        case SingleInstance::Outcome::NotDone:
            std::fprintf(stderr, "%s\n", instance.error().toLocal8Bit().constData());
            return 1;
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
    const bool chooseX11 = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
        && qgetenv("XDG_SESSION_TYPE") == "wayland" && !qEnvironmentVariableIsEmpty("DISPLAY");
    if (chooseX11)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    // Programs started from here (a browser for the home page) choose their own.
    if (chooseX11)
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("tarnvik"));
    QApplication::setDesktopFileName(tarnvik::kDesktopId);
    // The installed theme's icon where there is one; ours otherwise (a build
    // run from its folder).
    tarnvik::loadResources();
    QApplication::setWindowIcon(QIcon::fromTheme(tarnvik::kDesktopId, QIcon(QStringLiteral(":/tarnvik/icon.svg"))));
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
                     [&window, &instance](const tarnvik::ActivationHint &request) {
                         if (!window)
                             return;
                         window->bringToFront(request);
                         answerOnceForward(instance, request);
                     });
    tarnvik::frmDict strip(store);
    window = &strip;
    strip.show();
    // A word on the first start's command line is looked up as a later
    // start's would be (the window comes up active by itself).
    if (hint.lookUp != tarnvik::ActivationHint::LookUp::Nothing)
        QTimer::singleShot(0, &strip, [&strip, hint] { strip.lookUpFromOutside(hint); });
    if (const QString problem = selectionProblem(hint); !problem.isEmpty())
        std::fprintf(stderr, "%s\n", problem.toLocal8Bit().constData());
    const int status = app.exec();
#ifdef __SANITIZE_ADDRESS__
    tarnvik::keepLibrariesForLeakCheck();
#endif
    return status != 0 ? status : strip.exitStatus();
}
