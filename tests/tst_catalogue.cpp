// The settings store and the catalogue's readers and writers: what is written
// comes back unchanged, hand-edited files read sensibly, "ActiveTable" counts
// visible entries, and a failed write never costs the user the old file.
#include "catalogue/Catalogue.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace tarnvik;

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

DataSource entry(const QString &title, bool visible = true)
{
    DataSource s;
    s.Title = title;
    s.File = title + QStringLiteral(".mdb");
    s.Name = QStringLiteral("T");
    s.In = QStringLiteral("in");
    s.Out = QStringLiteral("out");
    s.Visible = visible;
    return s;
}

QString titles(const QVector<DataSource> &sources)
{
    QStringList t;
    for (const auto &s : sources)
        t << s.Title;
    return t.join(u',');
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString ini() const { return m_dir.filePath(QStringLiteral("TVK/TVK.ini")); }

private slots:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.filePath(QStringLiteral("TVK")));
    }

    void defaultPathFollowsXdg()
    {
        qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8());
        QCOMPARE(SettingsStore::defaultPath(), m_dir.path() + QStringLiteral("/TVK/TVK.ini"));
    }

    void valuesRoundTrip()
    {
        const QStringList awkward = {
            QStringLiteral("a,b"), QStringLiteral("a, b"), QStringLiteral("\"quoted\""),
            QStringLiteral("x;y"), QStringLiteral("k=v"), QStringLiteral("#hash"),
            QStringLiteral("back\\slash\\"), QStringLiteral("  blanks  "), QStringLiteral("Česko-anglický"),
            QString(), QStringLiteral("@Variant(1)"), QStringLiteral("@@"), QStringLiteral("[Tables]"),
            QStringLiteral("tab\there"), QStringLiteral("two\nlines\r\n"), QString(QChar(1)) + QStringLiteral("7"),
            QStringLiteral("%U0041 %41"), QStringLiteral("😀 ßẞ"), QStringLiteral("C:\\Data\\a.mdb"),
        };
        QVector<DataSource> written;
        for (const QString &v : awkward) {
            DataSource s = entry(v);
            s.File = v;
            s.Name = v;
            s.In = v;
            s.Out = v;
            s.CharsetIn = 204;
            s.CharsetOut = 0;
            written << s;
        }
        SettingsStore store(ini());
        save_tables(store, written, 0);
        QString error;
        QVERIFY2(store.sync(&error), qPrintable(error));

        SettingsStore again(ini());
        QVERIFY(again.problem().isEmpty());
        QVector<DataSource> read;
        int selected = -1;
        load_tables(again, read, selected);
        QCOMPARE(read.size(), written.size());
        for (int i = 0; i < read.size(); ++i) {
            QCOMPARE(read[i].Title, awkward[i]);
            QCOMPARE(read[i].File, awkward[i]);
            QCOMPARE(read[i].Out, awkward[i]);
            QCOMPARE(read[i].CharsetIn, uint8_t(204));
            QCOMPARE(read[i].CharsetOut, uint8_t(0));
        }
        // Plain QSettings reads the file the same way.
        QSettings qs(ini(), QSettings::IniFormat);
        QCOMPARE(qs.value(QStringLiteral("Tables/Table2Title")).toString(), awkward[1]);
        QCOMPARE(qs.value(QStringLiteral("Tables/Table11Title")).toString(), awkward[10]);
        QCOMPARE(qs.value(QStringLiteral("Tables/count")).toString(), QStringLiteral("19"));
    }

    void handEditedFile()
    {
        writeFile(ini(),
                  "; edited by hand\n"
                  "[Settings]\nTopMost=fALSE\nFont=DejaVu Sans\n"
                  "[Tables]\ncount= 4 entries\nActiveTable=2\n"
                  "Table1Title=Jedna, dvě\nTable1CharsetIn=300\nTable1CharsetOut= 204 \nTable1Visible=TRUE\n"
                  "Table2Title=Skrytý\nTable2Visible=False\n"
                  "Table3Title=Třetí ; comment\nTable3CharsetIn=-1\nTable3Visible=yes\n"
                  "Table4Title=\"Čtvrtý\"\nTable4CharsetIn=12a\n"
                  "Table5Title=beyond count\n"
                  "[Extra]\nkeep%20me=1\n");
        SettingsStore store(ini());
        QVERIFY(store.problem().isEmpty());
        QVector<DataSource> read;
        int selected = -1;
        load_tables(store, read, selected);
        QCOMPARE(titles(read), QStringLiteral("Jedna, dvě,Skrytý,Třetí,Čtvrtý"));
        QCOMPARE(read[0].CharsetIn, uint8_t(238)); // out of range: default
        QCOMPARE(read[0].CharsetOut, uint8_t(204));
        QCOMPARE(read[2].CharsetIn, uint8_t(238));
        QCOMPARE(read[3].CharsetIn, uint8_t(238));
        QVERIFY(!read[1].Visible);
        QVERIFY(read[2].Visible); // neither true nor false: the default
        QCOMPARE(selected, 2);    // second visible entry

        const LookupSettings l = readLookupSettings(store, {});
        QCOMPARE(l.topMost, false);
        QCOMPARE(l.fontName, QStringLiteral("DejaVu Sans"));
        QCOMPARE(l.sources.size(), 3);
        QCOMPARE(l.active, 1);
        QCOMPARE(l.sources[1].Title, QStringLiteral("Třetí"));

        // Saving keeps what the program does not know about.
        writeLookupSettings(store, true, 0);
        QString error;
        QVERIFY(store.sync(&error));
        QSettings qs(ini(), QSettings::IniFormat);
        QCOMPARE(qs.value(QStringLiteral("Extra/keep me")).toString(), QStringLiteral("1"));
        QCOMPARE(qs.value(QStringLiteral("Tables/Table5Title")).toString(), QStringLiteral("beyond count"));
        QCOMPARE(qs.value(QStringLiteral("Settings/TopMost")).toString(), QStringLiteral("True"));
        QCOMPARE(qs.value(QStringLiteral("Tables/ActiveTable")).toString(), QStringLiteral("1"));
    }

    void defaults()
    {
        SettingsStore empty(ini());
        const LookupSettings l = readLookupSettings(empty, {});
        QVERIFY(l.topMost);
        QCOMPARE(l.fontName, QStringLiteral("Tahoma"));
        QVERIFY(l.sources.isEmpty());
        QCOMPARE(l.active, -1);
        QVector<DataSource> read{entry(QStringLiteral("stale"))};
        int selected = 5;
        load_tables(empty, read, selected);
        QVERIFY(read.isEmpty());
        QCOMPARE(selected, -1);

        writeFile(ini(), "[Tables]\ncount=1\nTable1Title=only a title\n");
        SettingsStore one(ini());
        load_tables(one, read, selected);
        QCOMPARE(read.size(), 1);
        QCOMPARE(read[0].File, QString());
        QCOMPARE(read[0].CharsetIn, uint8_t(238));
        QCOMPARE(read[0].CharsetOut, uint8_t(238));
        QVERIFY(read[0].Visible);
        QCOMPARE(selected, 0);

        // A count nobody could have meant does not exhaust memory.
        writeFile(ini(), "[Tables]\ncount=999999999999\n");
        SettingsStore huge(ini());
        load_tables(huge, read, selected);
        QCOMPARE(read.size(), 32767);
    }

    void activeTable_data()
    {
        QTest::addColumn<QString>("entries"); // title, '~' prefix = hidden
        QTest::addColumn<QString>("stored");  // "ActiveTable" as stored
        QTest::addColumn<int>("editorSelects");
        QTest::addColumn<int>("lookupActive");
        QTest::addColumn<int>("saveSelected");
        QTest::addColumn<int>("written");
        QTest::newRow("hidden between") << "A,~B,C" << "2" << 2 << 1 << 2 << 2;
        QTest::newRow("hidden after") << "A,B,~C" << "2" << 1 << 1 << 1 << 2;
        QTest::newRow("hidden selected") << "A,~B" << "1" << 0 << 0 << 1 << 1;
        QTest::newRow("first hidden selected") << "~A,B" << "1" << 1 << 0 << 0 << 0;
        QTest::newRow("below one") << "~A,B,C" << "0" << 1 << 0 << 2 << 2;
        QTest::newRow("negative") << "A,B" << "-3" << 0 << 0 << 1 << 2;
        QTest::newRow("beyond") << "A,B" << "5" << 0 << 0 << 0 << 1;
        QTest::newRow("separator selected") << "A,-,B" << "3" << 2 << 2 << 1 << 1;
        QTest::newRow("not a number") << "A,B" << "zwei" << 0 << 0 << 1 << 2;
        QTest::newRow("none visible") << "~A,~B" << "1" << 0 << -1 << 1 << 0;
        QTest::newRow("empty") << "" << "1" << -1 << -1 << -1 << 1;
    }

    void activeTable()
    {
        QFETCH(QString, entries);
        QFETCH(QString, stored);
        QVector<DataSource> sources;
        for (const QString &e : entries.split(u',', Qt::SkipEmptyParts))
            sources << entry(e.startsWith(u'~') ? e.mid(1) : e, !e.startsWith(u'~'));
        SettingsStore store(ini());
        save_tables(store, sources, 0);
        store.saveSetting(QStringLiteral("Tables"), QStringLiteral("ActiveTable"), stored);

        QVector<DataSource> read;
        int selected = -2;
        load_tables(store, read, selected);
        QTEST(selected, "editorSelects");
        QTEST(readLookupSettings(store, {}).active, "lookupActive");

        QFETCH(int, saveSelected);
        save_tables(store, sources, saveSelected);
        QTEST(int(setting::leadingNumber(store.getSetting(QStringLiteral("Tables"), QStringLiteral("ActiveTable"), {}))),
              "written");
    }

    void removedEntriesStayUnread()
    {
        SettingsStore store(ini());
        QString error;
        save_tables(store, {entry("A"), entry("B"), entry("C")}, 2);
        QVERIFY(store.sync(&error));
        save_tables(store, {entry("A")}, 0);
        QVERIFY(store.sync(&error));
        SettingsStore again(ini());
        QCOMPARE(again.getSetting(QStringLiteral("Tables"), QStringLiteral("Table3Title"), {}), QStringLiteral("C"));
        QVector<DataSource> read;
        int selected;
        load_tables(again, read, selected);
        QCOMPARE(titles(read), QStringLiteral("A"));
        QCOMPARE(readLookupSettings(again, {}).sources.size(), 1);
    }

    void databasePaths()
    {
        const QString cur = m_dir.filePath(QStringLiteral("cur")), prog = m_dir.filePath(QStringLiteral("prog")),
                      data = m_dir.filePath(QStringLiteral("data"));
        for (const QString &d : {cur, prog, data})
            QDir().mkpath(d + QStringLiteral("/sub"));
        writeFile(cur + QStringLiteral("/here.mdb"), "x");
        writeFile(prog + QStringLiteral("/here.mdb"), "x");
        writeFile(prog + QStringLiteral("/sub/prog.mdb"), "x");
        writeFile(data + QStringLiteral("/sub/prog.mdb"), "x");
        writeFile(data + QStringLiteral("/data.mdb"), "x");
        const SearchFolders f{cur, prog, {data}};
        QCOMPARE(resolveDatabasePath(QStringLiteral("here.mdb"), f), cur + QStringLiteral("/here.mdb"));
        QCOMPARE(resolveDatabasePath(QStringLiteral("sub/prog.mdb"), f), prog + QStringLiteral("/sub/prog.mdb"));
        QCOMPARE(resolveDatabasePath(QStringLiteral("data.mdb"), f), data + QStringLiteral("/data.mdb"));
        QCOMPARE(resolveDatabasePath(QStringLiteral("none.mdb"), f), prog + QStringLiteral("/none.mdb"));
        QCOMPARE(resolveDatabasePath(QStringLiteral("/abs/none.mdb"), f), QStringLiteral("/abs/none.mdb"));
        QCOMPARE(resolveDatabasePath(QString(), f), QString());

        writeFile(ini(), ("[Tables]\ncount=1\nTable1File=sub/prog.mdb\n"));
        QCOMPARE(readLookupSettings(SettingsStore(ini()), f).sources[0].File, prog + QStringLiteral("/sub/prog.mdb"));
        // The editor keeps the text as stored.
        QVector<DataSource> read;
        int selected;
        load_tables(SettingsStore(ini()), read, selected);
        QCOMPARE(read[0].File, QStringLiteral("sub/prog.mdb"));
    }

    void failedWriteKeepsOldFile()
    {
        SettingsStore store(ini());
        QString error;
        save_tables(store, {entry("A")}, 0);
        QVERIFY(store.sync(&error));
        const QByteArray before = readFile(ini());

        // A full disk, as far as the writer can tell, even for root.
        store.saveSetting(QStringLiteral("Tables"), QStringLiteral("Table1Title"), QString(100000, u'x'));
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &small);
        const bool ok = store.sync(&error);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!ok);
        QVERIFY2(error.contains(QDir::toNativeSeparators(ini())), qPrintable(error));
        QVERIFY2(error.contains(QString::fromLocal8Bit(strerror(EFBIG))), qPrintable(error));
        QCOMPARE(readFile(ini()), before);
        QCOMPARE(QDir(m_dir.filePath(QStringLiteral("TVK"))).entryList(QDir::Files), QStringList{"TVK.ini"});

        // A folder that cannot be made.
        SettingsStore blocked(m_dir.filePath(QStringLiteral("TVK/TVK.ini/x/TVK.ini")));
        blocked.saveSetting(QStringLiteral("Settings"), QStringLiteral("TopMost"), QStringLiteral("True"));
        QVERIFY(!blocked.sync(&error));
        QVERIFY(error.contains(QStringLiteral("TVK.ini/x")));

        if (geteuid() != 0) { // root writes anywhere
            QFile::setPermissions(m_dir.filePath(QStringLiteral("TVK")), QFile::ReadOwner | QFile::ExeOwner);
            const bool written = store.sync(&error);
            QFile::setPermissions(m_dir.filePath(QStringLiteral("TVK")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY(!written);
            QVERIFY(error.contains(QString::fromLocal8Bit(strerror(EACCES))));
            QCOMPARE(readFile(ini()), before);
        }
    }

    void damagedFileGivesDefaults()
    {
        const QByteArray damaged[] = {
            "[Tables]\ncount=1\nTable1Title=A\n[Broken\nx=1\n", // unterminated section
            QByteArray("[Tables]\ncount=1\0\x01\x02", 19),         // binary
            "[Tables]\ncount=1\nTable1Title=\xff\xfe\n",          // not UTF-8
        };
        for (const QByteArray &bytes : damaged) {
            writeFile(ini(), bytes);
            SettingsStore store(ini());
            QVERIFY(!store.problem().isEmpty());
            store.reload(); // told again: nothing cached answers for the file
            QVERIFY(!store.problem().isEmpty());
            QVector<DataSource> read;
            int selected;
            load_tables(store, read, selected);
            QVERIFY(read.isEmpty());
            QCOMPARE(readFile(ini()), bytes); // reading leaves it alone
        }
        // A deliberate save replaces it.
        SettingsStore store(ini());
        save_tables(store, {entry("New")}, 0);
        QString error;
        QVERIFY(store.sync(&error));
        QVERIFY(store.problem().isEmpty());
        SettingsStore again(ini());
        QVERIFY(again.problem().isEmpty());
        QCOMPARE(again.getSetting(QStringLiteral("Tables"), QStringLiteral("Table1Title"), {}), QStringLiteral("New"));

        QFile::remove(ini());
        QDir().mkpath(ini()); // unreadable: a folder in its place
        QVERIFY(!SettingsStore(ini()).problem().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
