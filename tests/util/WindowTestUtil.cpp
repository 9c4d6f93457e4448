#include "WindowTestUtil.h"
#include "Files.h"

#include "platform/MessageBox.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QLabel>
#include <QPointer>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

namespace testutil {

namespace {

// Qt's own dialogs that wait for an answer (boxes, file and input dialogs);
// the program's own windows are what the tests drive, and a progress window
// goes by itself.
bool stockDialog(const QWidget *w)
{
    return qobject_cast<const QDialog *>(w) && !qobject_cast<const QProgressDialog *>(w)
           && w->metaObject()->className()[0] == 'Q';
}

// Its title and its labels' texts (a message box's text among them).
QString boxText(QWidget *w)
{
    QStringList texts{w->windowTitle()};
    for (const QLabel *label : w->findChildren<QLabel *>())
        texts << label->text();
    return texts.join(u' ');
}

// No test reads or writes the user's own settings, cache or data. A modal
// dialog up longer than any test takes to answer it fails the test that
// meets it, naming it, and is closed: no test waits for its time limit on a
// box it never expected.
void watchUnansweredBoxes()
{
    QStandardPaths::setTestModeEnabled(true);
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app)
        return;
    auto *timer = new QTimer(app);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, [] {
        static QPointer<QWidget> seen;
        static QElapsedTimer since;
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !stockDialog(modal) || modal->property(kHeldByTest).toBool()) {
            seen = nullptr;
            return;
        }
        if (seen != modal) {
            seen = modal;
            since.start();
        }
        if (since.elapsed() < kUnansweredMs)
            return;
        seen = nullptr;
        QTest::qFail(qPrintable(QStringLiteral("a box no test answers: ") + boxText(modal)), __FILE__, __LINE__);
        static_cast<QDialog *>(modal)->reject();
    });
    timer->start();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(watchUnansweredBoxes)

void polling(const std::function<void()> &action, const std::function<void()> &poll, int settleMs)
{
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, poll);
    timer.start();
    action();
    QTest::qWait(settleMs);
}

QWidget *menuOpenedBy(const std::function<void()> &action, QWidget *except, int settleMs)
{
    QWidget *opened = nullptr;
    polling(action, [&] {
        QWidget *menu = QApplication::activePopupWidget();
        if (menu && menu != except) {
            opened = menu;
            menu->close();
        }
    }, settleMs);
    return opened;
}

QStringList answeringBoxes(const std::function<void()> &action)
{
    // Answered where they are asked, not polled for: a question gets No.
    QStringList texts;
    tarnvik::answerBoxesForTests([&](QMessageBox::Icon, const QString &, const QString &text) {
        texts << text;
        return false;
    });
    action();
    QTest::qWait(100);
    tarnvik::answerBoxesForTests({});
    return texts;
}

void writeIni(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    writeBytes(path, text.toUtf8());
}

QString iniEntry(int n, const QString &title, const QString &file, const QString &table, const QString &in,
                 const QString &out)
{
    return QStringLiteral("Table%1Title=%2\nTable%1File=%3\nTable%1Name=%4\nTable%1In=%5\nTable%1Out=%6\n")
        .arg(n)
        .arg(title, file, table, in, out);
}

} // namespace testutil
