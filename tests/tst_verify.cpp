// The editor's logic that needs no window: the character-set names and
// numbers, and what verification reads from a source's database.
#include "db/write/JetWriter.h"
#include "editor/Charsets.h"
#include "editor/Verify.h"
#include "util/TestUtil.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace tarnvik;
using namespace testutil;

namespace {

struct Table { QString name; QStringList fields; };

// A database with the given tables, each holding one row.
QString makeDatabase(const QString &path, const QList<Table> &tables)
{
    JetWriter w;
    bool ok = w.open(path, JetWriter::Format::Jet4);
    for (const Table &t : tables) {
        std::vector<JetWriter::Field> fields;
        std::vector<std::optional<QString>> row;
        for (const QString &f : t.fields) {
            fields.push_back({f});
            row.push_back(f + u" 1"_qs);
        }
        ok = ok && w.beginTable(t.name, fields) && w.addRow(row) && w.endTable();
    }
    if (!(ok && w.commit()))
        qFatal("%s", qPrintable(w.errorString()));
    return path;
}

// What verification offers (the tables, or a table's fields), or the error in its place.
QStringList offered(const QString &db, const QString &table = {})
{
    QString error;
    const auto names = table.isEmpty() ? databaseTables(db, &error) : tableFields(db, table, &error);
    return names ? *names : QStringList{u"error: "_qs + error};
}

} // namespace

class TestVerify : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void charsetNamesAndNumbers()
    {
        QCOMPARE(charsetNames(), (QStringList{u"arabské"_qs, u"cyrilice"_qs, u"hebrejské"_qs, u"pobaltské"_qs, u"řecké"_qs,
                                              u"středoevropské"_qs, u"turecké"_qs, u"západní"_qs}));

        // Picking a name stores its number; the number shows the same name again.
        const int stored[] = {178, 204, 177, 186, 161, 238, 162, 0};
        for (int position = 0; position < 8; ++position) {
            QCOMPARE(int(charset_map(position)), stored[position]);
            QCOMPARE(int(charset_map(stored[position], 1)), position);
        }
        // Numbers no name stores show as the first name.
        for (int number : {1, 2, 100, 163, 200, 239, 255})
            QCOMPARE(int(charset_map(number, 1)), 0);
        // A box without a selection stores the Western set rather than reading
        // outside the list.
        QCOMPARE(int(charset_map(-1)), 0);
        QCOMPARE(int(charset_map(8)), 0);
    }

    void tablesOfferedAndFound()
    {
        const QString db = makeDatabase(m_dir.filePath(u"order.mdb"_qs),
                                        {{u"zeta"_qs, {u"b"_qs, u"a"_qs}},
                                         {u"MSProducts"_qs, {u"x"_qs}},
                                         {u"msdata"_qs, {u"Heslo"_qs, u"Význam"_qs, u"Poznámka"_qs}},
                                         {u"alfa"_qs, {u"x"_qs}},
                                         {u"Msx"_qs, {u"x"_qs}},
                                         {u"mSy"_qs, {u"x"_qs}},
                                         {u"M"_qs, {u"x"_qs}},
                                         {u"Rejstřík"_qs, {u"x"_qs}},
                                         {u"Slovnik"_qs, {u"Heslo"_qs, u"Význam"_qs}}});
        // Not sorted, and only a capital "MS" hides a table (the file's MSys tables with it).
        const QStringList tables = offered(db);
        QCOMPARE(tables, (QStringList{u"zeta"_qs, u"msdata"_qs, u"alfa"_qs, u"Msx"_qs, u"mSy"_qs, u"M"_qs,
                                      u"Rejstřík"_qs, u"Slovnik"_qs}));
        QCOMPARE(offered(db, u"msdata"_qs), (QStringList{u"Heslo"_qs, u"Význam"_qs, u"Poznámka"_qs}));
        QCOMPARE(offered(db, u"zeta"_qs), (QStringList{u"b"_qs, u"a"_qs}));
        QString error;
        QVERIFY2(openDatabase(db, &error), qPrintable(error));

        // Stored "slovnik" finds the database's "Slovnik", whose spelling is then stored.
        // Letter case only, not accents ("slovník").
        for (const auto &[name, at] : {std::pair(u"slovnik"_qs, 7), std::pair(u"REJSTŘÍK"_qs, 6),
                                       std::pair(u"slovník"_qs, -1), std::pair(u"Slovni"_qs, -1), std::pair(QString(), -1)})
            QCOMPARE(findName(tables, name), at);

        const QStringList fields = offered(db, u"slovnik"_qs);
        QCOMPARE(fields, (QStringList{u"Heslo"_qs, u"Význam"_qs}));
        QCOMPARE(findName(fields, u"význam"_qs), 1);
        QCOMPARE(findName(fields, u"Preklad"_qs), -1);

        // The stored spelling is kept where it is listed as such; otherwise the
        // last that folds alike, as the editor always chose.
        QCOMPARE(findName({u"ab"_qs, u"Ab"_qs}, u"ab"_qs), 0);
        QCOMPARE(findName({u"Ab"_qs, u"aB"_qs}, u"ab"_qs), 1);

        const QString refusal = offered(db, u"Preklady"_qs).join(u'|');
        QVERIFY2(refusal.contains(db) && refusal.contains(u"Preklady") && refusal.contains(u"není tabulka"),
                 qPrintable(refusal));

        // Only the engine's own tables, and only tables that look like them: both
        // open and offer nothing, which is not a failure.
        for (const QList<Table> &only : {QList<Table>{}, QList<Table>{{u"MSProducts"_qs, {u"x"_qs}}}}) {
            const QString empty = makeDatabase(m_dir.filePath(u"empty.mdb"_qs), only);
            const auto all = MdbFile(empty).tables(&error);
            QVERIFY2(all && !all->isEmpty(), qPrintable(error));
            QCOMPARE(offered(empty), QStringList());
            QVERIFY2(openDatabase(empty, &error), qPrintable(error));
        }
    }

    void hangingReaderIsStoppedSoon()
    {
        // A reader that never answers stands for one that loops on a damaged
        // file: verification gives up long before a table read would.
        const QString db = makeDatabase(m_dir.filePath(u"held.mdb"_qs), {{u"t"_qs, {u"in"_qs}}});
        ReadLimits limits = verifyLimits();
        limits.helper = heldHelper(QDir(m_dir.path()));
        QElapsedTimer timer;
        timer.start();
        QString error;
        QVERIFY2(!databaseTables(db, &error, limits) && error.contains(db) && error.contains(u"trvalo déle"),
                 qPrintable(error));
        QVERIFY2(timer.elapsed() < ReadLimits().timeoutMs / 4, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(!tableFields(db, u"t"_qs, &error, limits) && error.contains(db) && error.contains(u"trvalo déle"),
                 qPrintable(error));

        release(db);
        QVERIFY2(databaseTables(db, &error, limits), qPrintable(error));
        QCOMPARE(heldStarts(QDir(m_dir.path()), db), 3);
    }
};

QTEST_GUILESS_MAIN(TestVerify)
#include "tst_verify.moc"
