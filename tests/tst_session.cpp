// The program as the desktop ends it: the session manager's SIGTERM, a
// terminal's Ctrl+C or hang-up save the window's settings like "Konec".
#include "util/WindowTestUtil.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestSession : public QObject
{
    Q_OBJECT

    // Whether the process has a handler of its own for 'sig' (not the
    // default action that would end it unsaved).
    static bool catches(qint64 pid, int sig)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("SigCgt:"))
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (sig - 1)) & 1;
        return false;
    }

private slots:
    void signalsSave_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void signalsSave()
    {
        QFETCH(int, sig);
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("config/TVK/TVK.ini"));
        // No ActiveTable yet and the window not on top: the exit must write both.
        testutil::writeIni(ini, QStringLiteral("[Settings]\nTopMost=False\n[Tables]\ncount=1\nTable1Title=A\n"
                                               "Table1File=%1\n")
                                    .arg(dir.filePath(QStringLiteral("none.mdb"))));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TARNVIK_BIN_DIR "/tarnvik"), {});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), sig), 20000);
        ::kill(pid_t(program.processId()), sig);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QFile saved(ini);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray text = saved.readAll();
        QVERIFY2(text.contains("ActiveTable"), text.constData());
        QVERIFY2(text.contains("Table1File"), text.constData());
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
