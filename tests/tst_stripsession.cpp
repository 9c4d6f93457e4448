// The strip's session without its window: which source is looked up in
// after a switch (bound by the exact text of its file, in its character
// sets), what the strip saves and when, and how each end of the program
// saves, with its exit status.
#include "lookup/StripKeys.h"
#include "lookup/StripSession.h"
#include "util/Files.h"
#include "util/TestUtil.h"
#include "util/WindowTestUtil.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarnvik;
using Ending = StripSession::Ending;

class TestStripSession : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_two, m_ru;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    // Two tables of one file (the second also spelled another way), a hidden
    // entry and a separator, a Cyrillic source; "ActiveTable" beyond them.
    QString catalogue() const
    {
        return u"[Settings]\nTopMost=False\n[Tables]\ncount=6\nActiveTable=9\n"_qs
               + testutil::iniEntry(1, u"Slova"_qs, m_two)
               + testutil::iniEntry(2, u"Jiná"_qs, m_two, u"Jina"_qs, u"word"_qs, u"meaning"_qs)
               + testutil::iniEntry(3, u"Skrytý"_qs, m_two) + u"Table3Visible=False\n"_qs
               + testutil::iniEntry(4, u"-"_qs, m_two)
               + testutil::iniEntry(5, u"Jinak"_qs, path(u"./dve.mdb"_qs), u"Jina"_qs, u"word"_qs, u"meaning"_qs)
               + testutil::iniEntry(6, u"Rusko-český"_qs, m_ru) + u"Table6CharsetIn=204\n"_qs;
    }
    // The look-up once its source is read: one that waited is due again.
    static LookupResult lookUp(StripSession &s, const QString &text)
    {
        QSignalSpy due(&s, &StripSession::lookUpDue);
        LookupResult r = s.lookUp(text);
        for (QDeadlineTimer end(testutil::kReadWaitMs); r.kind == LookupResult::Waiting && !end.hasExpired();) {
            due.clear();
            [&] { QTRY_VERIFY_WITH_TIMEOUT(due.count() > 0, testutil::kReadWaitMs); }();
            r = s.lookUp(text);
        }
        return r;
    }
    QString stored(const QString &ini, const char *section, const char *key) const
    {
        return SettingsStore(ini).getSetting(QLatin1String(section), QLatin1String(key), u"none"_qs);
    }

private slots:
    void initTestCase()
    {
        m_two = path(u"dve.mdb"_qs);
        testutil::writeTsv(path(u"Slova.tsv"_qs), {"slovo", "vyznam"}, {{u"den"_qs, u"day"_qs}, {u"dům"_qs, u"house"_qs}});
        testutil::writeTsv(path(u"Jina.tsv"_qs), {"word", "meaning"}, {{u"dog"_qs, u"pes"_qs}, {u"den"_qs, u"brloh"_qs}});
        const testutil::Run made = testutil::runMkdb({m_two, path(u"Slova.tsv"_qs), path(u"Jina.tsv"_qs)});
        QVERIFY2(made.exitCode == 0, made.err.constData());
        // Its bytes mean Cyrillic only in its own set.
        m_ru = path(u"ru.mdb"_qs);
        QString error;
        QVERIFY2(testutil::writeTable(m_ru, u"Slova"_qs, {{u"slovo"_qs}, {u"vyznam"_qs}}, {{u"дом"_qs, u"dum"_qs}}, &error,
                                      JetWriter::Format::Jet3, 1251),
                 qPrintable(error));
    }

    void switchingSources()
    {
        const QString ini = path(u"switch/TVK.ini"_qs);
        testutil::writeIni(ini, catalogue());
        SettingsStore store(ini);
        StripSession s(store);
        const QString cache = path(u"switch/cache"_qs);
        s.data().setCacheFolder(cache);
        s.load();
        // The active one beyond the visible ones: the first.
        QCOMPARE(std::tuple(s.sources().size(), s.active(), s.topMost()), std::tuple(5, 0, false));
        s.prepareActive();
        QCOMPARE(lookUp(s, u"d"_qs).firstOut, u"day"_qs);

        QVERIFY(!s.choose(5) && !s.choose(-1));
        QCOMPARE(s.active(), 0);
        QVERIFY(s.choose(1)); // the same file: the other table looked up
        QCOMPARE(lookUp(s, u"d"_qs).firstOut, u"brloh"_qs);
        QVERIFY(s.choose(3)); // spelled differently: bound anew
        QCOMPARE(s.data().databaseName(), path(u"./dve.mdb"_qs));
        const LookupResult r = lookUp(s, u"d"_qs);
        QCOMPARE(std::pair(r.matches.size(), r.firstIn), std::pair(size_t(2), u"den"_qs));
        // The news of a ready source may be lost: a look-up that waited is
        // due again all the same.
        s.data().setPreparedHandler({});
        QVERIFY(s.choose(4)); // in its own character set
        QCOMPARE(s.lookUp(u"до"_qs).kind, LookupResult::Waiting);
        QCOMPARE(lookUp(s, u"до"_qs).firstIn, u"дом"_qs);
        // The tidying finds every index bound here named by the catalogue.
        s.data().waitForCache();
        const QString unlisted = cache + u'/' + QString(40, u'0') + u".idx"_qs;
        testutil::writeBytes(unlisted, "TVKIDX06");
        QCOMPARE(QDir(cache).entryList({u"*.idx"_qs}).size(), 4);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QCOMPARE(tidyIndexCache(cache, ini, defaultSearchFolders(), true, now).removed,
                 QStringList{unlisted.section(u'/', -1)});

        // Emptied (as the editor may leave it): nothing bound, nothing saved
        // for the active source.
        testutil::writeIni(ini, u"[Tables]\ncount=0\n"_qs);
        s.load();
        s.prepareActive();
        QCOMPARE(lookUp(s, u"d"_qs).kind, LookupResult::NoSource);
        s.setTopMost(false);
        QVERIFY(s.save());
        QCOMPARE(std::pair(stored(ini, "Tables", "ActiveTable"), stored(ini, "Settings", "TopMost")), std::pair(u"none"_qs, u"False"_qs));
    }

    // Only what the strip changed is written; "TopMost" before the editor too.
    void saving()
    {
        const QString ini = path(u"save/TVK.ini"_qs);
        testutil::writeIni(ini, catalogue().replace(u"ActiveTable=9"_qs, u"ActiveTable=2"_qs));
        SettingsStore store(ini);
        StripSession s(store);
        s.load();
        const QByteArray before = testutil::readBytes(ini);
        QVERIFY(s.save());
        QCOMPARE(testutil::readBytes(ini), before);
        s.setTopMost(true);
        s.saveForEditor();
        QCOMPARE(std::pair(stored(ini, "Settings", "TopMost"), stored(ini, "Tables", "ActiveTable")), std::pair(u"True"_qs, u"2"_qs));
        QVERIFY(s.choose(2));
        s.setPlace(QPoint(15, 25));
        s.saveAtEnd(Ending::Quit);
        QCOMPARE(std::tuple(stored(ini, "Tables", "ActiveTable"), stored(ini, "Settings", "Left"), stored(ini, "Settings", "Top")),
                 std::tuple(u"3"_qs, u"15"_qs, u"25"_qs));
        // The next start finds what was saved.
        s.load();
        QCOMPARE(std::pair(s.topMost(), s.active()), std::pair(true, 2));
    }

    void endings()
    {
        // A folder that is a file: nothing can be written under it.
        QFile(path(u"file"_qs)).open(QIODevice::WriteOnly);
        // How the run ends, on a file that can be written or not, with the
        // editor open or not; then its exit status, whether a box is due and
        // whether the editor's catalogue was saved instead.
        struct Row { const char *name; Ending how; bool writable, editorOpen; int status; bool told, editorSaved; };
        for (const Row &row : {Row{"quit", Ending::Quit, true, false, 0, false, false},
                               Row{"quit, not written", Ending::Quit, false, false, 1, true, false},
                               Row{"session end, not written", Ending::SessionEnd, false, false, 1, false, false},
                               Row{"quit, editor open", Ending::Quit, true, true, 0, false, false},
                               Row{"session end, editor open", Ending::SessionEnd, true, true, 1, false, true}}) {
            const QString ini = row.writable ? path(u"end/%1/TVK.ini"_qs.arg(row.name)) : path(u"file/TVK.ini"_qs);
            if (row.writable)
                testutil::writeIni(ini, catalogue());
            SettingsStore store(ini);
            StripSession s(store);
            s.load();
            QSignalSpy told(&s, &StripSession::saveFailed);
            int editorSaves = 0;
            if (row.editorOpen)
                s.setEditorSave([&] { return ++editorSaves, false; });
            s.setTopMost(true);
            // Asked by the session manager: saved, and the run goes on.
            s.saveAtEnd(Ending::AskedToSave);
            QCOMPARE(std::pair(s.ended(), s.exitStatus()), std::pair(false, 0));
            told.clear();
            s.setTopMost(false);
            for (int i = 0; i < 2; ++i) // every road after the first finds it saved
                s.saveAtEnd(row.how);
            QVERIFY(s.ended());
            QCOMPARE(u"%1: status %2, told %3, editor saved %4"_qs.arg(row.name).arg(s.exitStatus()).arg(!told.isEmpty()).arg(editorSaves == 1),
                     u"%1: status %2, told %3, editor saved %4"_qs.arg(row.name).arg(row.status).arg(row.told).arg(row.editorSaved));
            if (row.writable)
                QCOMPARE(stored(ini, "Settings", "TopMost"), editorSaves ? u"True"_qs : u"False"_qs);
        }
    }

    void keys()
    {
        // The list opens as a combo box's does; with Ctrl, Enter and the
        // menu keys are the shown pair's.
        const Qt::KeyboardModifiers none, ctrl = Qt::ControlModifier;
        QCOMPARE(stripKey(Qt::Key_F4, none, false), StripKey::OpenList);
        QCOMPARE(stripKey(Qt::Key_F4, Qt::AltModifier, false), StripKey::Own); // closes the window
        QCOMPARE(stripKey(Qt::Key_Down, Qt::AltModifier | Qt::KeypadModifier, false), StripKey::OpenList);
        QCOMPARE(stripKey(Qt::Key_Down, Qt::ShiftModifier, false), StripKey::Own);
        QCOMPARE(stripKey(Qt::Key_Enter, ctrl, true), StripKey::WholePair);
        QCOMPARE(stripKey(Qt::Key_Return, none, true), StripKey::AddDictionary);
        QCOMPARE(stripKey(Qt::Key_Return, none, false), StripKey::Own);
        QCOMPARE(stripKey(Qt::Key_A, none, true), StripKey::Own);
        QCOMPARE(stripKey(Qt::Key_Menu, none, false), StripKey::WindowMenu);
        QCOMPARE(stripKey(Qt::Key_F10, Qt::ShiftModifier, false), StripKey::WindowMenu);
        QCOMPARE(stripKey(Qt::Key_F10, Qt::ShiftModifier | ctrl, false), StripKey::PairMenu);
        QCOMPARE(stripKey(Qt::Key_F10, none, false), StripKey::Own);
    }
};

QTEST_GUILESS_MAIN(TestStripSession)
#include "tst_stripsession.moc"
