// Files our writer makes, read by an independent implementation of the format
// (the npm package mdb-reader), which also tells Null from empty text.
#include "db/write/JetWriter.h"
#include "util/TestUtil.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace tarnvik;

class TestMdbReader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readsWhatWeWrite();

private:
    QTemporaryDir m_dir;
};

void TestMdbReader::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const bool present = QFileInfo::exists(QStringLiteral(TARNVIK_NPM_DIR "/node_modules/mdb-reader/package.json"));
    if (!present) {
        if (qEnvironmentVariableIsSet("TARNVIK_REQUIRE_MDB_READER"))
            QFAIL("mdb-reader is not installed in " TARNVIK_NPM_DIR);
        QSKIP("mdb-reader is not installed (npm could not fetch it)");
    }
}

void TestMdbReader::readsWhatWeWrite()
{
    using Row = std::vector<std::optional<QString>>;
    const std::vector<Row> rows = {
        {u"dům"_qs, u"house"_qs},
        {u"Москва"_qs, u"Ελληνικά"_qs},
        {u" blanks "_qs, u""_qs},
        {u"null"_qs, std::nullopt},
        {std::nullopt, u"null input"_qs},
        {u"memo"_qs, QString(100000, u'ž') + u"!"_qs},
        {u"medium"_qs, QString(5000, u'x')},
        {u"smile \U0001F600 ok"_qs, u"\U0001D11E \U0001F601"_qs.repeated(3000)},
    };
    struct Case { JetWriter::Format format; int codePage; QString name; };
    const Case cases[] = {{JetWriter::Format::Jet4, 0, u"jet4.mdb"_qs}, {JetWriter::Format::Jet3, 1252, u"jet3.mdb"_qs}};
    for (const Case &c : cases) {
        const QString file = m_dir.filePath(c.name);
        JetWriter w;
        QVERIFY(w.open(file, c.format, c.codePage));
        QVERIFY(w.beginTable(u"MSlike"_qs, {{u"a"_qs}}));
        QVERIFY(w.endTable());
        QVERIFY(w.beginTable(u"Slovník"_qs, {{u"Heslo"_qs}, {u"Význam"_qs, JetWriter::FieldType::Memo}}));
        QJsonArray expected;
        for (int i = 0; i < 3000; ++i) {
            QVERIFY(w.addRow({QStringLiteral("záznam %1").arg(i), QString::number(i)}));
            expected.append(QJsonArray({QStringLiteral("záznam %1").arg(i), QString::number(i)}));
        }
        for (const Row &r : rows) {
            // Code page 1252 has no Cyrillic, Greek, Czech carons or emoji.
            if (c.format == JetWriter::Format::Jet3 && (r == rows[1] || r == rows[0] || r == rows[5] || r == rows[7]))
                continue;
            QVERIFY2(w.addRow(r), qPrintable(w.errorString()));
            QJsonArray pair;
            for (const auto &v : r)
                pair.append(v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null));
            expected.append(pair);
        }
        QVERIFY2(w.commit(), qPrintable(w.errorString()));

        const QJsonObject got = testutil::mdbReaderDump(file).value_or(QJsonObject());
        QCOMPARE(got[u"user"].toArray(), QJsonArray({u"MSlike"_qs, u"Slovník"_qs}));
        QCOMPARE(got[u"system"].toArray(), QJsonArray({u"MSysObjects"_qs}));
        const QJsonObject table = got[u"tables"][u"Slovník"].toObject();
        QCOMPARE(table[u"columns"].toArray(), QJsonArray({QJsonArray({u"Heslo"_qs, u"text"_qs}),
                                                           QJsonArray({u"Význam"_qs, u"memo"_qs})}));
        const QJsonArray data = table[u"rows"].toArray();
        QCOMPARE(data.size(), expected.size());
        for (qsizetype i = 0; i < data.size(); ++i)
            QVERIFY2(data[i] == expected[i], qPrintable(c.name + u' ' + QString::number(i)));
    }
}

QTEST_GUILESS_MAIN(TestMdbReader)
#include "tst_mdbreader.moc"
