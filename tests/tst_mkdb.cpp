// tarnvik-mkdb and its input readers: TSV, CSV and dictd in, a database out;
// bad input refused with the line named and no file left behind.
#include "db/write/RowSource.h"
#include "util/Files.h"
#include "util/TestUtil.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <zlib.h>

using namespace tarnvik;
using namespace testutil;

class TestMkdb : public QObject
{
    Q_OBJECT
private slots:
    void tsvEscapesAndTypes();
    void csvQuoting();
    void dictdDictionaries();
    void badInputIsRefused_data();
    void badInputIsRefused();
    void outputIsNotReplacedUnasked();
    void helpGoesToStandardOutput();

private:
    QString file(const QString &name, const QByteArray &content);
    std::vector<mkdb::Row> readSource(mkdb::RowSource &src);
    QTemporaryDir m_dir;
};

QString TestMkdb::file(const QString &name, const QByteArray &content)
{
    writeBytes(m_dir.filePath(name), content);
    return m_dir.filePath(name);
}

std::vector<mkdb::Row> TestMkdb::readSource(mkdb::RowSource &src)
{
    std::vector<mkdb::Row> rows;
    if (!src.start())
        qFatal("%s", qPrintable(src.errorString()));
    mkdb::Row row;
    mkdb::RowSource::Result r;
    while ((r = src.next(&row)) == mkdb::RowSource::Ok)
        rows.push_back(row);
    if (r == mkdb::RowSource::Error)
        qFatal("%s", qPrintable(src.errorString()));
    return rows;
}

void TestMkdb::tsvEscapesAndTypes()
{
    const QByteArray longText = QByteArray("dlouhý ").repeated(36) + "konc"; // 256 characters
    const QString tsv = file(u"words.tsv"_qs, "\xEF\xBB\xBFslovo\tv\xC3\xBDznam\r\n"
                                              "d\xC5\xAFm\thouse\r\n"
                                              "tab\\there\tline\\nbreak\\r\\\\\n"
                                              "\\N\tnull input\n"
                                              "empty\t\n"
                                              + QByteArray(255, 'x') + "\tfits a Text field\n"
                                              "long\t" + longText + "\n");
    mkdb::TsvSource src(tsv);
    const auto rows = readSource(src);
    QCOMPARE(src.fieldNames(), QStringList({"slovo", "význam"}));
    const std::vector<Row> expected = {{u"dům"_qs, u"house"_qs}, {u"tab\there"_qs, u"line\nbreak\r\\"_qs},
                                       {std::nullopt, u"null input"_qs}, {u"empty"_qs, u""_qs},
                                       {QString(255, u'x'), u"fits a Text field"_qs},
                                       {u"long"_qs, QString::fromUtf8(longText)}};
    QVERIFY(rows == expected);

    const QString db = m_dir.filePath(u"words.mdb"_qs);
    const Run r = runMkdb({db, u"--table"_qs, u"Slova"_qs, tsv});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QString error;
    const auto fields = MdbFile(db).fields(u"Slova"_qs, &error);
    QVERIFY2(fields, qPrintable(error));
    QCOMPARE(fields->at(0).type, 10); // Text: no value is longer than 255
    QCOMPARE(fields->at(1).type, 12); // Memo: a value of 256
    const auto back = readAll(db, u"Slova"_qs, {u"slovo"_qs, u"význam"_qs}, &error);
    QVERIFY2(back, qPrintable(error));
    QVERIFY(*back == rows);

    // No input at all: a database without user tables.
    const QString empty = m_dir.filePath(u"none.mdb"_qs);
    QCOMPARE(runMkdb({empty}).exitCode, 0);
    const auto tables = MdbFile(empty).tables(&error);
    QVERIFY2(tables && tables->size() == 1 && tables->at(0).system, qPrintable(error));
}

void TestMkdb::csvQuoting()
{
    const QString csv = file(u"q.csv"_qs, "a,b,c\n"
                                          "plain,\"with, comma\",\"say \"\"hi\"\"\"\n"
                                          ",\"\",\"two\nlines\"\n"
                                          "x,y,\"\"\n"
                                          "last,x,y");
    mkdb::CsvSource src(csv);
    const auto rows = readSource(src);
    QCOMPARE(src.fieldNames(), QStringList({"a", "b", "c"}));
    const std::vector<Row> expected = {{u"plain"_qs, u"with, comma"_qs, u"say \"hi\""_qs},
                                       {std::nullopt, u""_qs, u"two\nlines"_qs}, {u"x"_qs, u"y"_qs, u""_qs},
                                       {u"last"_qs, u"x"_qs, u"y"_qs}};
    QVERIFY(rows == expected);
    const QString db = m_dir.filePath(u"q.mdb"_qs);
    const Run r = runMkdb({db, csv});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QString error;
    const auto back = readAll(db, u"q"_qs, {u"a"_qs, u"b"_qs, u"c"_qs}, &error);
    QVERIFY2(back, qPrintable(error));
    QVERIFY(*back == rows);
}

void TestMkdb::dictdDictionaries()
{
    const QByteArray dict = "00-database-info\nA test dictionary.\n"
                            "house /haʊs/\ndům\nbudova\n"
                            "Cat <n>\nkočka\n";
    // Offsets and lengths in dictd's base64 digits: "house" at 36 (k), "cat"
    // at 62 (+).
    // The dictionary's own entries are no words, in either spelling; the
    // headword's line goes in any letter case.
    const QByteArray index = "00-database-info\tA\tk\n"
                             "00databaseurl\tA\tk\n"
                             "house\tk\ta\n"
                             "cat\t+\tP\n";
    file(u"d.index"_qs, index);
    const QString dz = m_dir.filePath(u"d.dict.dz"_qs);
    gzFile gz = gzopen(QFile::encodeName(dz).constData(), "wb");
    QVERIFY(gz);
    QCOMPARE(gzwrite(gz, dict.constData(), unsigned(dict.size())), int(dict.size()));
    gzclose(gz);

    mkdb::DictdSource src(m_dir.filePath(u"d.index"_qs));
    const auto rows = readSource(src);
    QVERIFY(rows == std::vector<Row>({{u"house"_qs, u"dům\nbudova"_qs}, {u"cat"_qs, u"kočka"_qs}}));
    qint64 v = 0;
    QVERIFY(mkdb::DictdSource::decodeNumber(u"Ba", &v));
    QCOMPARE(v, 64 + 26);

    const QString db = m_dir.filePath(u"d.mdb"_qs);
    const Run r = runMkdb({db, m_dir.filePath(u"d.index"_qs)});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QString error;
    const auto back = readAll(db, u"d"_qs, {u"headword"_qs, u"definition"_qs}, &error);
    QVERIFY2(back, qPrintable(error));
    QVERIFY(*back == rows);
}

void TestMkdb::badInputIsRefused_data()
{
    QTest::addColumn<QString>("where"); // the input file, and the line its refusal names
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("options");
    const QStringList none;
    QTest::newRow("unknown escape") << u"e.tsv:3"_qs << QByteArray("a\tb\nx\ty\nx\\q\ty\n") << none;
    QTest::newRow("field count") << u"f.tsv:3"_qs << QByteArray("a\tb\nx\ty\nx\n") << none;
    QTest::newRow("duplicate names") << u"d.tsv:1"_qs << QByteArray("a\tA\nx\ty\n") << none;
    QTest::newRow("invalid utf-8") << u"u.tsv:3"_qs << QByteArray("a\nok\n\xC3\x28\n") << none;
    QTest::newRow("not in code page") << u"c.tsv:3"_qs << QByteArray("a\nok\n\xD0\x9C\n")
                                      << QStringList({u"--jet3"_qs, u"--codepage"_qs, u"1250"_qs});
    const QByteArray wide = QByteArray("\xC5\x99").repeated(250);
    QTest::newRow("row too long") << u"r.tsv:2"_qs
                                  << QByteArray("a\tb\tc\td\te\tf\tg\th\tj\n") + (wide + "\t").repeated(8) + wide + "\n"
                                  << none;
    QTest::newRow("unclosed quote") << u"q.csv:3"_qs << QByteArray("a,b\n1,2\n\"open,3\n") << none;
}

void TestMkdb::badInputIsRefused()
{
    QFETCH(QString, where);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, options);
    const QString name = where.section(u':', 0, 0), input = file(name, content);
    const QString db = m_dir.filePath(name + u".mdb"_qs);
    const Run r = runMkdb(options + QStringList{db, input});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(QString::fromUtf8(r.err).contains(where), r.err.constData());
    QVERIFY(!QFileInfo::exists(db));
}

void TestMkdb::outputIsNotReplacedUnasked()
{
    const QString tsv = file(u"o.tsv"_qs, "a\nx\n");
    const QString db = file(u"o.mdb"_qs, "precious");
    QCOMPARE(runMkdb({db, tsv}).exitCode, 1);
    QCOMPARE(readBytes(db), QByteArray("precious"));
    QCOMPARE(runMkdb({u"--force"_qs, db, tsv}).exitCode, 0);
    QString error;
    QVERIFY2(MdbFile(db).tables(&error), qPrintable(error));
}

// Asked for, the usage is an answer (standard output, success); a wrong
// command line still gets it on standard error.
void TestMkdb::helpGoesToStandardOutput()
{
    for (const QString &tool : {u"tarnvik-mkdb"_qs, u"tarnvik-lookup"_qs}) {
        for (const QString &option : {u"--help"_qs, u"-h"_qs}) {
            const Run r = run(binPath(tool), {option});
            QVERIFY2(r.exitCode == 0 && r.out.startsWith("Usage: " + tool.toUtf8()) && r.err.isEmpty(),
                     qPrintable(tool + u' ' + option + u": "_qs + QString::fromUtf8(r.err)));
        }
        const Run wrong = run(binPath(tool), {u"--nonsense"_qs});
        QCOMPARE(wrong.exitCode, 2);
        QVERIFY(wrong.out.isEmpty() && wrong.err.startsWith("Usage: "));
    }
}

QTEST_GUILESS_MAIN(TestMkdb)
#include "tst_mkdb.moc"
