// Starting the program while it runs, as a user does it, on a desktop with a
// window manager: the running window comes forward with the keys in its text
// box (or its open modal window does), the later start ends at once, and
// another settings file is another program.
#include "catalogue/SettingsStore.h"
#include "editor/setData.h"
#include "lookup/frmDict.h"
#include "platform/SingleInstance.h"
#include "util/TestUtil.h"
#include "util/Strip.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace tarnvik;

namespace {

const QString kProgram = testutil::binPath(QStringLiteral("tarnvik"));

QString run(const QString &program, const QStringList &args)
{
    return QString::fromLocal8Bit(testutil::run(program, args, 10000).out);
}

// The window ids after the '#' of xprop's answer.
QList<WId> windowIds(const QString &xpropOut)
{
    QList<WId> ids;
    const qsizetype at = xpropOut.indexOf(u'#');
    if (at < 0)
        return ids;
    for (const QString &piece : xpropOut.mid(at + 1).split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const WId id = piece.trimmed().toULongLong(&ok, 0);
        if (ok && id)
            ids << id;
    }
    return ids;
}

// The windows the window manager manages, and the one it made active.
QList<WId> clientWindows()
{
    return windowIds(run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST")}));
}

WId activeWindow()
{
    const QList<WId> ids = windowIds(run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")}));
    return ids.isEmpty() ? 0 : ids[0];
}

QString xProperty(WId w, const QString &name)
{
    const QString out = run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(w), name});
    const qsizetype at = out.indexOf(u'=');
    return at < 0 ? out.trimmed() : out.mid(at + 1).trimmed();
}

QList<WId> windowsOf(qint64 pid)
{
    QList<WId> mine;
    for (WId w : clientWindows())
        if (xProperty(w, QStringLiteral("_NET_WM_PID")) == QString::number(pid))
            mine << w;
    return mine;
}

bool iconic(WId w)
{
    return run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(w), QStringLiteral("WM_STATE")})
        .contains(QLatin1String("Iconic"));
}

void xdotool(const QStringList &args)
{
    const testutil::Run r = testutil::xdotool(args);
    QVERIFY2(r.exitCode == 0, r.err.constData());
}

// The box beside the text is light red while the text matches nothing (also
// while it is empty): seen from outside, the look-up answering typed keys.
int lightRedPixels(WId w)
{
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(w).toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            // The style paints the box a shade lighter than its colour.
            n += c.red() > 230 && c.red() - c.green() > 40 && qAbs(c.green() - c.blue()) < 16;
        }
    return n;
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

    void otherWindowTakesTheFocus()
    {
        xdotool({QStringLiteral("windowactivate"), QString::number(m_other)});
        QTRY_COMPARE(activeWindow(), m_other);
    }

    // A later start on 'h': it must end at once with success. Events run
    // meanwhile, so a window of this process can answer it.
    void startAgain(const Home &h, const QStringList &args = {})
    {
        QProcess again;
        again.setProcessEnvironment(h.env);
        QElapsedTimer clock;
        clock.start();
        again.start(kProgram, args);
        QVERIFY(again.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(again.state() == QProcess::NotRunning, 15000);
        QCOMPARE(again.exitStatus(), QProcess::NormalExit);
        QVERIFY2(again.exitCode() == 0, again.readAllStandardError().constData());
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    }

    void endProgram(QProcess &program)
    {
        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed");
        QStandardPaths::setTestModeEnabled(true);
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

    void theRunningProgramComesForward()
    {
        const Home h = home(QStringLiteral("a"));
        QProcess first;
        first.setProcessEnvironment(h.env);
        first.start(kProgram, {});
        QVERIFY(first.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(windowsOf(first.processId()).size(), 1, 30000);
        const WId strip = windowsOf(first.processId()).at(0);
        QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), strip, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(lightRedPixels(strip) > 200, testutil::kReadWaitMs);

        // Behind another program's window.
        otherWindowTakesTheFocus();
        startAgain(h);
        QTRY_COMPARE(activeWindow(), strip);
        QCOMPARE(windowsOf(first.processId()), QList<WId>{strip});
        QCOMPARE(clientWindows().size(), 2);
        // The keys reach the text box: the look-up finds "dva".
        xdotool({QStringLiteral("type"), QStringLiteral("dv")});
        QTRY_COMPARE_WITH_TIMEOUT(lightRedPixels(strip), 0, testutil::kReadWaitMs);

        // Minimised.
        xdotool({QStringLiteral("windowminimize"), QString::number(strip)});
        QTRY_VERIFY(iconic(strip));
        otherWindowTakesTheFocus();
        startAgain(h);
        QTRY_VERIFY(!iconic(strip));
        QTRY_COMPARE(activeWindow(), strip);
        xdotool({QStringLiteral("key"), QStringLiteral("BackSpace"), QStringLiteral("BackSpace")});
        QTRY_VERIFY_WITH_TIMEOUT(lightRedPixels(strip) > 200, testutil::kReadWaitMs);
        QCOMPARE(windowsOf(first.processId()), QList<WId>{strip});
        endProgram(first);
    }

    // A word given on a later start's command line, or the selection or the
    // clipboard's first line, is looked up; typing then replaces it. Also as
    // a client of weston (the test itself stays an X client, to look on).
    void wordsFromOutside()
    {
        const WId weston = qEnvironmentVariableIntValue("TARNVIK_WESTON_XWINDOW");
        Home h = home(QStringLiteral("w"));
        if (weston) {
            h.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
            // Its own runtime folder holds no compositor socket: the full path.
            h.env.insert(QStringLiteral("WAYLAND_DISPLAY"),
                         QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath(qEnvironmentVariable("WAYLAND_DISPLAY")));
        }
        QProcess first;
        first.setProcessEnvironment(h.env);
        first.start(kProgram, {QStringLiteral("dům")});
        QVERIFY(first.waitForStarted());
        WId strip = weston;
        if (!weston) {
            QTRY_COMPARE_WITH_TIMEOUT(windowsOf(first.processId()).size(), 1, 30000);
            strip = windowsOf(first.processId()).at(0);
        }
        if (weston) {
            // Weston's desktop shows no red before the strip is up; only later
            // looks can tell.
            QTest::qWait(3000);
            QCOMPARE(first.state(), QProcess::Running);
        } else {
            // Started with a word: it is looked up at once.
            QTRY_COMPARE_WITH_TIMEOUT(lightRedPixels(strip), 0, testutil::kReadWaitMs);
        }

        if (!weston)
            otherWindowTakesTheFocus();
        startAgain(h, {QStringLiteral("dx")});
        if (!weston)
            QTRY_COMPARE(activeWindow(), strip);
        QTRY_VERIFY_WITH_TIMEOUT(lightRedPixels(strip) > 200, testutil::kReadWaitMs);
        xdotool({QStringLiteral("type"), QStringLiteral("dv")}); // over "dx", not after it
        QTRY_COMPARE_WITH_TIMEOUT(lightRedPixels(strip), 0, testutil::kReadWaitMs);

        if (!weston) { // weston here has no X clipboard to share
            QGuiApplication::clipboard()->setText(QStringLiteral("dx"));
            startAgain(h, {QStringLiteral("--clipboard")});
            QTRY_VERIFY_WITH_TIMEOUT(lightRedPixels(strip) > 200, testutil::kReadWaitMs);
            QGuiApplication::clipboard()->setText(QStringLiteral("dva\nxx"), QClipboard::Selection);
            startAgain(h, {QStringLiteral("--selection")});
            QTRY_COMPARE_WITH_TIMEOUT(lightRedPixels(strip), 0, testutil::kReadWaitMs);
        }

        QProcess wrong;
        wrong.setProcessEnvironment(h.env);
        wrong.start(kProgram, {QStringLiteral("--nonsense")});
        QVERIFY(wrong.waitForFinished(10000));
        QCOMPARE(wrong.exitCode(), 2);
        endProgram(first);
    }

    void anotherSettingsFileIsAnotherProgram()
    {
        const Home a = home(QStringLiteral("b1"));
        const Home b = home(QStringLiteral("b2"), a.runtime);
        QProcess first, second;
        first.setProcessEnvironment(a.env);
        second.setProcessEnvironment(b.env);
        first.start(kProgram, {});
        QTRY_COMPARE_WITH_TIMEOUT(windowsOf(first.processId()).size(), 1, 30000);
        second.start(kProgram, {});
        QTRY_COMPARE_WITH_TIMEOUT(windowsOf(second.processId()).size(), 1, 30000);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(second.state(), QProcess::Running);
        QTRY_COMPARE(activeWindow(), windowsOf(second.processId()).at(0));
        endProgram(second);
        endProgram(first);
    }

    // The window in this process and a real later start: where the keys go.
    void theKeysGoToTheTextBox()
    {
        const Home h = home(QStringLiteral("c"));
        SettingsStore store(h.ini);
        frmDict w(store);
        auto *text1 = testutil::text1(w);
        SingleInstance instance(SingleInstance::keyFor(h.ini), h.runtime);
        QCOMPARE(instance.claim(), SingleInstance::Claim::First);
        QVERIFY(instance.listen());
        connect(&instance, &SingleInstance::activationRequested, &w,
                [&w](const ActivationHint &hint) { w.bringToFront(hint); });
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // Left elsewhere in the window (nothing typed: the list stays shut).
        auto *combo1 = testutil::combo1(w);
        combo1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), combo1);

        otherWindowTakesTheFocus();
        QTRY_VERIFY(!w.isActiveWindow());
        startAgain(h);
        QTRY_COMPARE(activeWindow(), w.winId());
        QTRY_COMPARE(QGuiApplication::focusWindow(), w.windowHandle());
        QTRY_COMPARE(QApplication::focusWidget(), text1);
        xdotool({QStringLiteral("type"), QStringLiteral("dv")});
        QTRY_COMPARE(text1->text(), QStringLiteral("dv"));

        // An open message box comes forward instead and keeps the keys.
        bool boxChecked = false;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            [&] {
                // Its own activation first, or it would come after ours.
                QTRY_COMPARE(activeWindow(), box->winId());
                otherWindowTakesTheFocus();
                startAgain(h);
                QTRY_COMPARE(activeWindow(), box->winId());
                QTRY_COMPARE(QGuiApplication::focusWindow(), box->windowHandle());
                QVERIFY(box->isAncestorOf(QApplication::focusWidget()));
                boxChecked = true;
            }();
            box->accept();
        });
        testutil::aboutAction(w)->trigger();
        QVERIFY(boxChecked);

        // So does the editor; the keys go on into its field.
        bool checked = false;
        auto *poll = new QTimer(this);
        poll->setInterval(20);
        connect(poll, &QTimer::timeout, this, [&, poll] {
            auto *editor = qobject_cast<setData *>(QApplication::activeModalWidget());
            if (!editor || editor->busy())
                return;
            poll->stop();
            // Checked in the editor's own event loop, which ends whatever they find.
            [&] {
                QTRY_COMPARE(activeWindow(), editor->winId());
                QTRY_VERIFY(editor->isAncestorOf(QApplication::focusWidget()));
                QWidget *had = QApplication::focusWidget();
                otherWindowTakesTheFocus();
                startAgain(h);
                QTRY_COMPARE(activeWindow(), editor->winId());
                QTRY_COMPARE(QGuiApplication::focusWindow(), editor->windowHandle());
                QCOMPARE(QApplication::focusWidget(), had);
                checked = true;
            }();
            editor->close();
        });
        poll->start();
        testutil::settingsAction(w)->trigger();
        delete poll;
        QVERIFY(checked);
        // Back in the strip after the editor, as ever.
        QTRY_COMPARE(QApplication::focusWidget(), text1);
    }
};

QTEST_MAIN(TestSingleStart)
#include "tst_singlestart.moc"
