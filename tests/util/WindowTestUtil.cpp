#include "WindowTestUtil.h"

#include "platform/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

namespace testutil {

void polling(const std::function<void()> &action, const std::function<void()> &poll, int settleMs)
{
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, poll);
    timer.start();
    action();
    QTest::qWait(settleMs);
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
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

QString iniEntry(int n, const QString &title, const QString &file, const QString &table, const QString &in,
                 const QString &out)
{
    return QStringLiteral("Table%1Title=%2\nTable%1File=%3\nTable%1Name=%4\nTable%1In=%5\nTable%1Out=%6\n")
        .arg(n)
        .arg(title, file, table, in, out);
}

} // namespace testutil
