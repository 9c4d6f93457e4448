// A newcomer's first minute, with the real program and the keyboard alone:
// an empty catalogue, the strip's hint, the editor and its open-file dialog,
// a word list and a free dictionary in StarDict chosen, and their words found
// by typing.
#include "util/Files.h"
#include "util/Strip.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using namespace testutil;

namespace {

bool windowNamed(const char *name)
{
    return !findWindows({"--name", QString::fromUtf8(name)}).isEmpty();
}

} // namespace

class TestFirstStart : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    // The open-file dialog from the editor, a file named, then the editor
    // again once the database made of it is there; closed, and 'word' typed
    // into the strip finds a match.
    void choose(const QString &file, const QString &made, const QString &word, WId strip)
    {
        QTRY_VERIFY_WITH_TIMEOUT(windowNamed("Vyber zdroj dat"), 10000);
        xdo({"type", "--delay", "10", file});
        xdo({"key", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Vyber zdroj dat"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(made), kReadWaitMs);
        QTest::qWait(500);
        xdo({"key", "Escape"});
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Správa datových zdrojů"), 10000);
        xdo({"type", "--delay", "100", word});
        QTRY_COMPARE_WITH_TIMEOUT(lightRedPixels(strip), 0, kReadWaitMs);
    }

private slots:
    void newcomer()
    {
        // The free dictionary as StarDict, made by others' software.
        const QString dictd = QStringLiteral("/usr/share/dictd/freedict-ell-eng.index");
        if (!QFileInfo::exists(dictd) || QStandardPaths::findExecutable(QStringLiteral("pyglossary")).isEmpty()) {
            if (qEnvironmentVariableIsSet("TARNVIK_REQUIRE_STARDICT_PEERS"))
                QFAIL("pyglossary or dict-freedict-ell-eng is not installed");
            QSKIP("pyglossary or dict-freedict-ell-eng is not installed");
        }
        const QString root = m_dir.path();
        const QString ifo = m_dir.filePath(QStringLiteral("ell/freedict-ell-eng.ifo"));
        QProcess pyglossary;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), root);
        pyglossary.setProcessEnvironment(env);
        pyglossary.start(QStringLiteral("pyglossary"), {dictd, ifo, "--read-format=DictOrg", "--write-format=Stardict",
                                                        "--ui=none", "--no-interactive", "--no-progress-bar"});
        QVERIFY(pyglossary.waitForFinished(300000) && pyglossary.exitCode() == 0 && QFileInfo::exists(ifo));
        // Typed in full however late the program reads its keys.
        QVERIFY(keysFor(u"kůňσκύλος"_qs));
        const QString csv = m_dir.filePath(QStringLiteral("zvirata.csv"));
        writeBytes(csv, "slovo,význam\nkočka,cat\nkůň,horse\n");
        QProcess program;
        QVERIFY(startProgram(program, programEnv(root)));
        QString strip;
        QTRY_VERIFY_WITH_TIMEOUT(!(strip = findWindows({"--pid", QString::number(program.processId())}).value(0)).isEmpty(),
                                 10000);
        // The keyboard alone: the pointer out of the way, over no menu.
        xdo({"mousemove", "0", "799", "windowactivate", "--sync", strip});
        QTRY_VERIFY(lightRedPixels(strip.toULongLong()) > 200);

        xdo({"key", "Return"});
        const QString data = root + QStringLiteral("/data/tarnvik/");
        choose(csv, data + u"zvirata.mdb"_qs, u"kůň"_qs, strip.toULongLong());
        xdo({"type", "x"});
        QTRY_VERIFY(lightRedPixels(strip.toULongLong()) > 200);

        // The second by "Nastavení...": a new entry (its title taken as it
        // is), its database row, the browse button.
        for (const char *key : {"ctrl+a", "BackSpace", "shift+F10", "Down", "Down", "Return", "Insert", "Return",
                                "Down", "Return", "Return"}) {
            QTest::qWait(400);
            xdo({"key", QString::fromLatin1(key)});
        }
        choose(ifo, data + u"freedict-ell-eng.mdb"_qs, u"σκύλος"_qs, strip.toULongLong());

        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        QSettings ini(programIni(root), QSettings::IniFormat);
        ini.beginGroup(QStringLiteral("Tables"));
        QCOMPARE(ini.value("count").toString(), u"2"_qs);
        QCOMPARE(ini.value("Table1File").toString(), data + u"zvirata.mdb"_qs);
        QCOMPARE(ini.value("Table2File").toString(), data + u"freedict-ell-eng.mdb"_qs);
        QCOMPARE(ini.value("Table2In").toString() + u' ' + ini.value("Table2Out").toString(), u"headword definition"_qs);
        QCOMPARE(ini.value("ActiveTable").toString(), u"2"_qs);
    }
};

QTEST_MAIN(TestFirstStart)
#include "tst_firststart.moc"
