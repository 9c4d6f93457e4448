// Real Access files written by other software: each either opens and shows
// the tables, fields and text that mdbtools' own programs show, or fails with
// a message that names the file.
#include "db/read/MdbFile.h"
#include "util/TestUtil.h"

#include <QDir>
#include <QTest>

using namespace tarnvik;
using namespace testutil;

class TestCorpus : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sameAsMdbtools_data();
    void sameAsMdbtools();
};

void TestCorpus::initTestCase()
{
    if (corpusDir().isEmpty())
        QSKIP("TARNVIK_CORPUS_DIR is not set: no real files to read");
    if (!haveProgram(u"mdb-tables"_qs) || !haveProgram(u"mdb-export"_qs))
        QSKIP("mdbtools' programs are not installed");
}

void TestCorpus::sameAsMdbtools_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(corpusDir());
    for (const QString &name : dir.entryList({u"*.mdb"_qs, u"*.accdb"_qs}, QDir::Files, QDir::Name))
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

static QStringList lines(const QByteArray &out)
{
    QStringList l = QString::fromUtf8(out).split(u'\n');
    while (!l.isEmpty() && l.back().isEmpty())
        l.removeLast();
    return l;
}

void TestCorpus::sameAsMdbtools()
{
    QFETCH(QString, path);
    const Run all = run(u"mdb-tables"_qs, {u"-S"_qs, u"-1"_qs, path});
    const Run user = run(u"mdb-tables"_qs, {u"-1"_qs, path});
    QString error;
    const MdbFile file(path);
    const auto tables = file.tables(&error);
    if (all.exitCode != 0 || all.out.isEmpty()) {
        QVERIFY2(!tables, "mdbtools cannot read this file, but we claim to");
        QVERIFY2(error.contains(path), qPrintable(error));
        return;
    }
    QVERIFY2(tables, qPrintable(error));
    QStringList ours, oursUser;
    for (const TableInfo &t : *tables) {
        ours << t.name;
        if (!t.system)
            oursUser << t.name;
    }
    QCOMPARE(ours, lines(all.out));
    QCOMPARE(oursUser, lines(user.out));

    const auto format = file.probe(&error);
    QVERIFY(format);
    for (const QString &table : oursUser) {
        const auto fields = file.fields(table, &error);
        QVERIFY2(fields, qPrintable(error));
        const Run exported = run(u"mdb-export"_qs, {u"-Q"_qs, u"-e"_qs, u"-d"_qs, u"\t"_qs, u"-0"_qs, u"\\N"_qs, path, table});
        const QStringList rows = lines(exported.out);
        QVERIFY(!rows.isEmpty());
        QStringList names;
        for (const FieldInfo &f : *fields)
            names << f.name;
        QCOMPARE(names, rows.first().split(u'\t'));

        // Text and memo fields read as mdb-export reads them.
        QStringList text;
        QList<int> columns;
        for (qsizetype i = 0; i < fields->size(); ++i) {
            if (fields->at(i).type == 10 || fields->at(i).type == 12) {
                text << fields->at(i).name;
                columns << int(i);
            }
        }
        if (text.isEmpty())
            continue;
        QStringList got;
        const bool ok = file.readRows(
            table, text,
            [&](const StoredValue *v) {
                QStringList cells;
                for (qsizetype k = 0; k < text.size(); ++k) {
                    QString s = v[k].null ? u"\\N"_qs : MdbFile::storedText(v[k].bytes, *format);
                    // iconv in mdb-export shows a byte the code page leaves undefined as '?'.
                    s.replace(QChar(0xFFFD), u'?');
                    if (!v[k].null)
                        s.replace(u'\\', u"\\\\"_qs).replace(u'\n', u"\\n"_qs).replace(u'\r', u"\\r"_qs).replace(u'\t', u"\\t"_qs);
                    cells << s;
                }
                got << cells.join(u'\t');
            },
            &error);
        QVERIFY2(ok, qPrintable(error));
        QStringList expected;
        for (qsizetype r = 1; r < rows.size(); ++r) {
            const QStringList cells = rows[r].split(u'\t');
            QStringList picked;
            for (int c : columns)
                picked << (cells.value(c).isEmpty() ? u"\\N"_qs : cells.value(c));
            expected << picked.join(u'\t');
        }
        QCOMPARE(got, expected);
    }
}

QTEST_GUILESS_MAIN(TestCorpus)
#include "tst_corpus.moc"
