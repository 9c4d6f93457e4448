// Starting the program while it runs, as a user does it, on a desktop with a
// window manager: the running window comes forward with the keys in its text
// box (or its open modal window does), the later start ends at once, and
// another settings file is another program. (Two copies forced onto one
// settings file: tst_catalogue.)
#include "catalogue/SettingsStore.h"
#include "editor/setData.h"
#include "lookup/frmDict.h"
#include "platform/SingleInstance.h"
#include "util/TestUtil.h"
#include "util/Files.h"
#include "util/Strip.h"

#include <QApplication>
#include <QClipboard>
#include <QStandardPaths>
#include <QtTest>

using namespace tarnvik;
using testutil::lightRedPixels;
using testutil::xdo;

namespace {

// The visible windows of a process: its strip, and a menu or dialog when open.
QList<WId> windowsOf(const QProcess &program)
{
    QList<WId> ids;
    for (const QString &id : testutil::findWindows({"--pid", QString::number(program.processId())}))
        ids << id.toULongLong();
    return ids;
}

WId activeWindow()
{
    return testutil::xdotool({"getactivewindow"}).out.trimmed().toULongLong();
}

} // namespace

class TestSingleStart : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_db;
    QProcess m_xmessage;
    WId m_other = 0;

    struct Home
    {
        QString ini, runtime;
        QProcessEnvironment env;
    };

    // A settings file of its own with one source; the runtime folder may be shared.
    Home home(const QString &name, const QString &runtime = QString())
    {
        Home h;
        const QString root = m_dir.filePath(name);
        h.ini = testutil::programIni(root);
        h.runtime = runtime.isEmpty() ? root + QStringLiteral("/run") : runtime;
        testutil::writeIni(h.ini, testutil::oneSource(m_db));
        h.env = testutil::programEnv(root, h.runtime);
        return h;
    }

    // The real program on 'env', once its strip is up.
    WId started(QProcess &program, const QProcessEnvironment &env, const QStringList &args = {})
    {
        if (!testutil::startProgram(program, env, args)
            || !QTest::qWaitFor([&] { return windowsOf(program).size() == 1; }, 30000))
            return 0;
        return windowsOf(program).value(0);
    }

    void otherWindowTakesTheFocus()
    {
        xdo({"windowactivate", QString::number(m_other)});
        QTRY_COMPARE(activeWindow(), m_other);
    }

    // A later start on 'h': it must end at once with 'code', saying 'told'.
    // Events run meanwhile, so a window of this process can answer it.
    void startAgain(const Home &h, const QStringList &args = {}, int code = 0, const char *told = "")
    {
        QProcess again;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(testutil::startProgram(again, h.env, args));
        QTRY_VERIFY_WITH_TIMEOUT(again.state() == QProcess::NotRunning, 15000);
        const QByteArray err = again.readAllStandardError();
        QVERIFY2(again.exitStatus() == QProcess::NormalExit && again.exitCode() == code && err.contains(told),
                 err.constData());
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    }

    void endProgram(QProcess &program)
    {
        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        QVERIFY2(program.exitCode() == 0, program.readAllStandardError().right(3000).constData());
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed");
        m_db = m_dir.filePath(QStringLiteral("slova.mdb"));
        testutil::makeDatabase(m_db, {{QStringLiteral("dva"), QStringLiteral("two")}, {QStringLiteral("dům"), QStringLiteral("house")}});
        // Another program's window, to take the focus away (where a window
        // manager hands the focus around).
        if (qEnvironmentVariableIsSet("TARNVIK_WESTON_XWINDOW"))
            return;
        m_other = testutil::otherProgramsWindow(m_xmessage, {QStringLiteral("-geometry"), QStringLiteral("300x100+500+500")})
                      .toULongLong();
        QVERIFY(m_other);
    }

    void cleanupTestCase()
    {
        m_xmessage.kill();
        m_xmessage.waitForFinished();
    }

    // A plain later start takes the keys even right after the user worked in
    // another window that keeps its user time (as GTK's and Qt's do), which
    // a guarded focus favours over a request of an older time.
    void forwardAfterWorkElsewhere()
    {
        Home h = home(QStringLiteral("o"));
        QProcess first;
        const WId strip = started(first, h.env);
        QVERIFY(strip);
        QLineEdit other;
        other.setGeometry(600, 400, 200, 40);
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        for (int i = 0; i < 5; ++i) {
            xdo({"windowactivate", "--sync", QString::number(other.winId())});
            xdo({"mousemove", "--window", QString::number(other.winId()), "5", "5", "click", "1", "type", "x"});
            QTRY_COMPARE(activeWindow(), other.winId());
            startAgain(h, {QStringLiteral("dx")});
            QTRY_COMPARE(activeWindow(), strip);
        }
        endProgram(first);
    }

    // A word given on the command line is looked up, by the first start or
    // handed by a later one to the running window, which comes forward from
    // behind another program's window or from the task bar; so are the
    // selection and the clipboard's first line. Typing then replaces it.
    // Also as a client of weston (the test itself stays an X client, to look on).
    void wordsFromOutside()
    {
        const WId weston = qEnvironmentVariableIntValue("TARNVIK_WESTON_XWINDOW");
        Home h = home(QStringLiteral("w"));
        // An option it does not know, or a word and the selection at once.
        for (const QStringList &args : {QStringList{"--nonsense"}, QStringList{"--selection", "dům"}})
            startAgain(h, args, 2);
        QProcess first;
        WId strip = weston;
        if (weston) {
            h.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
            // Its own runtime folder holds no compositor socket: the full path.
            h.env.insert(QStringLiteral("WAYLAND_DISPLAY"),
                         QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath(qEnvironmentVariable("WAYLAND_DISPLAY")));
            QVERIFY(testutil::startProgram(first, h.env, {QStringLiteral("dům")}));
            // Weston's desktop shows no red before the strip is up; only later
            // looks can tell.
            QTest::qWait(3000);
            QCOMPARE(first.state(), QProcess::Running);
        } else {
            QVERIFY((strip = started(first, h.env, {QStringLiteral("dům")})));
            QTRY_COMPARE_WITH_TIMEOUT(lightRedPixels(strip), 0, testutil::kReadWaitMs);
            // Its own start's activation comes first; only then does another
            // window take the focus (a slow start could otherwise take it back).
            QTRY_COMPARE(activeWindow(), strip);
            otherWindowTakesTheFocus();
        }
        startAgain(h, {QStringLiteral("dx")});
        if (!weston)
            QTRY_COMPARE(activeWindow(), strip);
        QTRY_VERIFY_WITH_TIMEOUT(lightRedPixels(strip) > 200, testutil::kReadWaitMs);
        xdo({"type", "dv"}); // over "dx", not after it
        QTRY_COMPARE_WITH_TIMEOUT(lightRedPixels(strip), 0, testutil::kReadWaitMs);
        if (weston) { // which has no X clipboard to share, nor a task bar
            // Nor a selection for programs, nor activation: what cannot be
            // done is told, with a failure, not passed over in silence.
            startAgain(h, {QStringLiteral("--selection")}, 1, "Výběr nelze přečíst");
            Home h2 = home(QStringLiteral("w2"), h.runtime);
            for (const char *name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"})
                h2.env.insert(QLatin1String(name), h.env.value(QLatin1String(name)));
            QProcess second; // its window takes the focus
            QVERIFY(testutil::startProgram(second, h2.env));
            QTest::qWait(3000);
            startAgain(h, {QStringLiteral("dva")}, 1, "nelze přenést do popředí");
            endProgram(second);
            endProgram(first);
            return;
        }

        // Minimised, with nothing to look up: the text stays, selected.
        xdo({"windowminimize", QString::number(strip)});
        QTRY_VERIFY(windowsOf(first).isEmpty());
        otherWindowTakesTheFocus();
        startAgain(h);
        QTRY_COMPARE(windowsOf(first), QList<WId>{strip});
        QTRY_COMPARE(activeWindow(), strip);
        xdo({"key", "BackSpace"});
        QTRY_VERIFY_WITH_TIMEOUT(lightRedPixels(strip) > 200, testutil::kReadWaitMs);

        // The blanks a copied cell or a double-click brings along go.
        QGuiApplication::clipboard()->setText(QStringLiteral("\t dva \n"));
        QGuiApplication::clipboard()->setText(QStringLiteral("dx\nxx"), QClipboard::Selection);
        startAgain(h, {QStringLiteral("--clipboard")});
        QTRY_COMPARE_WITH_TIMEOUT(lightRedPixels(strip), 0, testutil::kReadWaitMs);
        startAgain(h, {QStringLiteral("--selection")});
        QTRY_VERIFY_WITH_TIMEOUT(lightRedPixels(strip) > 200, testutil::kReadWaitMs);
        QGuiApplication::clipboard()->setText(QStringLiteral("  dům "), QClipboard::Selection);
        startAgain(h, {QStringLiteral("--selection")});
        QTRY_COMPARE_WITH_TIMEOUT(lightRedPixels(strip), 0, testutil::kReadWaitMs);

        // Another settings file beside it, in the same runtime folder.
        QProcess second;
        QVERIFY(started(second, home(QStringLiteral("w2"), h.runtime).env));
        QCOMPARE(first.state(), QProcess::Running);
        endProgram(second);
        endProgram(first);
    }

    // A later start that finds the running copy silent says so in a box:
    // started from a menu, nobody reads its standard error.
    void silentCopyIsToldInABox()
    {
        const Home h = home(QStringLiteral("s"));
        SingleInstance silent(SingleInstance::keyFor(h.ini), h.runtime);
        QCOMPARE(silent.claim(), SingleInstance::Claim::First); // and never listens
        QProcess later;
        QVERIFY(started(later, h.env)); // the box, waiting for the user
        later.terminate();
        QVERIFY(later.waitForFinished(10000));
        QVERIFY(later.readAllStandardError().contains("neodpovídá"));
    }

    // The window in this process and a real later start: an open modal
    // window comes forward instead of the strip and keeps the keys (the strip
    // itself: wordsFromOutside, and tst_desktops for its text box).
    void anOpenModalWindowComesForward()
    {
        const Home h = home(QStringLiteral("c"));
        SettingsStore store(h.ini);
        frmDict w(store);
        SingleInstance instance(SingleInstance::keyFor(h.ini), h.runtime);
        QCOMPARE(instance.claim(), SingleInstance::Claim::First);
        QVERIFY(instance.listen());
        connect(&instance, &SingleInstance::activationRequested, &w,
                [&w](const ActivationHint &hint) { w.bringToFront(hint); });
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));

        // The About box, then the editor; checked in their own event loops,
        // which end whatever they find.
        int checked = 0;
        auto comesForward = [&] {
            QWidget *modal = QApplication::activeModalWidget();
            auto *editor = qobject_cast<setData *>(modal);
            if (!modal || (editor && editor->busy()) || modal->property(testutil::kHeldByTest).isValid())
                return;
            modal->setProperty(testutil::kHeldByTest, true);
            [&] {
                // Its own activation first, or it would come after ours.
                QTRY_COMPARE(activeWindow(), modal->winId());
                QTRY_VERIFY(modal->isAncestorOf(QApplication::focusWidget()));
                QWidget *had = QApplication::focusWidget();
                otherWindowTakesTheFocus();
                startAgain(h);
                QTRY_COMPARE(activeWindow(), modal->winId());
                QTRY_COMPARE(QGuiApplication::focusWindow(), modal->windowHandle());
                QCOMPARE(QApplication::focusWidget(), had);
                ++checked;
            }();
            modal->close();
        };
        testutil::polling([&] { testutil::windowCommand(w, "mnuAbout")->trigger(); }, comesForward, 0);
        testutil::polling([&] { testutil::windowCommand(w, "mnuData")->trigger(); }, comesForward, 0);
        QCOMPARE(checked, 2);
    }
};

QTEST_MAIN(TestSingleStart)
#include "tst_singlestart.moc"
