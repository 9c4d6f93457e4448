// Two real copies of the program on one settings file, forced past the
// one-copy rule by runtime folders of their own, driven as a user drives them
// on a desktop: each changes another setting and the session ends both at
// once; then one saves its catalogue from the editor while the other ends.
// The file stays whole and keeps every change.
#include "catalogue/Catalogue.h"
#include "util/TestUtil.h"
#include "util/Files.h"
#include "util/Strip.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

using namespace tarnvik;

namespace {

QStringList xdotool(const QStringList &args)
{
    return QString::fromLocal8Bit(testutil::xdotool(args).out).split(u'\n', Qt::SkipEmptyParts);
}

// The visible windows of a process: its strip, and a menu or dialog when open.
QStringList windowsOf(const QProcess &program)
{
    return xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                    QString::number(program.processId())});
}

} // namespace

class TestTwoCopies : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_db;

    QString ini() const { return testutil::programIni(m_dir.path()); }

    void start(QProcess &program, const QString &runtime)
    {
        QVERIFY(testutil::startProgram(program, testutil::programEnv(m_dir.path(), m_dir.filePath(runtime))));
        QTRY_COMPARE_WITH_TIMEOUT(windowsOf(program).size(), 1, 30000);
    }

    // The window menu by the right button on the strip's picture, then keys.
    void menu(const QProcess &program, const QStringList &keys)
    {
        const QString strip = windowsOf(program).value(0);
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), strip});
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), strip, QStringLiteral("5"), QStringLiteral("5"),
                 QStringLiteral("click"), QStringLiteral("3")});
        QTRY_COMPARE_WITH_TIMEOUT(windowsOf(program).size(), 2, 10000);
        xdotool(QStringList{QStringLiteral("key")} + keys);
    }

    static void endBoth(QProcess &a, QProcess &b)
    {
        ::kill(pid_t(a.processId()), SIGTERM);
        ::kill(pid_t(b.processId()), SIGTERM);
        for (QProcess *p : {&a, &b}) {
            QVERIFY(p->waitForFinished(20000));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        }
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed");
        m_db = m_dir.filePath(QStringLiteral("slova.mdb"));
        testutil::makeDatabase(m_db, {{QStringLiteral("dva"), QStringLiteral("two")}});
        testutil::writeIni(ini(), QStringLiteral("; mine\n[Settings]\nTopMost=True\n[Tables]\ncount=2\nActiveTable=1\n")
                                      + testutil::iniEntry(1, u"Zdroj 1"_qs, m_db) + testutil::iniEntry(2, u"Zdroj 2"_qs, m_db));
    }

    void eachKeepsTheOthersChange()
    {
        QProcess a, b;
        start(a, QStringLiteral("run-a"));
        start(b, QStringLiteral("run-b"));
        menu(a, {QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});
        QTRY_COMPARE(windowsOf(a).size(), 1);
        // The source submenu opens on its first entry; the second is chosen.
        menu(b, {QStringLiteral("Down"), QStringLiteral("Right")});
        QTRY_COMPARE(windowsOf(b).size(), 3);
        xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Return")});
        QTRY_COMPARE(windowsOf(b).size(), 1);
        endBoth(a, b);

        SettingsStore after(ini());
        QVERIFY(after.problem().isEmpty());
        const LookupSettings s = readLookupSettings(after, {});
        QCOMPARE(s.topMost, false);
        QCOMPARE(s.active, 1);
        QCOMPARE(s.sources.size(), 2);
        QVERIFY(testutil::readBytes(ini()).startsWith("; mine\n"));
    }

    void editorSavesWhileTheOtherEnds()
    {
        QProcess a, b;
        start(a, QStringLiteral("run-a"));
        start(b, QStringLiteral("run-b"));
        // A's editor, on its active source (the second): a new title typed
        // over the selected one.
        menu(a, {QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});
        QTRY_COMPARE_WITH_TIMEOUT(windowsOf(a).size(), 2, 10000);
        // The editor reads the catalogue once it is up.
        QTest::qWait(1500);
        xdotool({QStringLiteral("type"), QStringLiteral("Novy")});
        // B turns "always on top" on again and ends meanwhile.
        menu(b, {QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});
        QTRY_COMPARE(windowsOf(b).size(), 1);
        ::kill(pid_t(b.processId()), SIGTERM);
        QVERIFY(b.waitForFinished(20000));
        QCOMPARE(b.exitCode(), 0);
        // A's editor closes (and saves), then A ends.
        const QString editor = windowsOf(a).value(1);
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), editor});
        // Enter ends the title's edit; only the window's own close closes.
        xdotool({QStringLiteral("key"), QStringLiteral("Return"), QStringLiteral("alt+F4")});
        QTRY_COMPARE_WITH_TIMEOUT(windowsOf(a).size(), 1, 10000);
        ::kill(pid_t(a.processId()), SIGTERM);
        QVERIFY(a.waitForFinished(20000));
        QCOMPARE(a.exitCode(), 0);

        SettingsStore after(ini());
        QVERIFY(after.problem().isEmpty());
        const LookupSettings s = readLookupSettings(after, {});
        QCOMPARE(s.topMost, true);
        QCOMPARE(s.active, 1);
        QCOMPARE(s.sources.value(1).Title, QStringLiteral("Novy"));
        QCOMPARE(s.sources.value(0).Title, QStringLiteral("Zdroj 1"));
    }
};

QTEST_MAIN(TestTwoCopies)
#include "tst_twocopies.moc"
