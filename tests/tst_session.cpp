// The program as the desktop ends it: the session manager's SIGTERM, a
// terminal's Ctrl+C or hang-up save the window's settings like "Konec", and
// a save that cannot be written is no success.
#include "platform/Files.h"
#include "util/Files.h"
#include "util/Strip.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

class TestSession : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    // Whether the process has a handler of its own for 'sig' (not the
    // default action that would end it unsaved).
    static bool catches(qint64 pid, int sig)
    {
        for (const QByteArray &line : testutil::readBytes(u"/proc/%1/status"_qs.arg(pid)).split('\n'))
            if (line.startsWith("SigCgt:"))
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (sig - 1)) & 1;
        return false;
    }

    QString ini(const QString &home) const { return testutil::programIni(m_dir.filePath(home)); }
    // An active source beyond the catalogue: the window uses the first one,
    // and that is the change the exit must save.
    QString settings() const { return testutil::oneSource(m_dir.filePath(u"none.mdb"_qs)) + u"ActiveTable=7\n"_qs; }

    // The real program on the settings of 'home', up and running its event loop.
    void start(QProcess &program, const QString &home)
    {
        QProcessEnvironment env = testutil::programEnv(m_dir.filePath(home));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QVERIFY(testutil::startProgram(program, env));
        QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), SIGTERM), 20000);
    }

    static void end(QProcess &program, int sig = SIGTERM)
    {
        ::kill(pid_t(program.processId()), sig);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    }

private slots:
    void endedBySignal()
    {
        for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
            const QString home = QStringLiteral("save") + QString::number(sig);
            testutil::writeIni(ini(home), settings());
            QProcess program;
            start(program, home);
            end(program, sig);
            QVERIFY2(program.exitCode() == 0, qPrintable(home));
            const QByteArray text = testutil::readBytes(ini(home));
            for (const char *line : {"\nActiveTable=1\n", "\nTopMost=False\n", "Table1File"})
                QVERIFY2(text.contains(line), qPrintable(home + u": "_qs + text));
        }

        // A save that cannot be written at the session's end: no box waits for
        // an answer, the program says why and ends with a failure (the old file
        // kept whole: tst_catalogue). The disk is full as far as the program can
        // tell: a file size limit.
        const QString home = QStringLiteral("full");
        testutil::writeIni(ini(home), u"; "_qs + QString(8000, u'x') + u"\n"_qs + settings());
        QProcess program;
        program.setChildProcessModifier([] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &small);
        });
        start(program, home);
        end(program);
        QCOMPARE(program.exitCode(), 1);
        const QString said = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(said.contains(ini(home)) && said.contains(tarnvik::systemMessage(EFBIG)), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
