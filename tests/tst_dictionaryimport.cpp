// A dictionary file imported into the user's data folder: the database made
// from it reads back, is never written over another, is offered again while
// the file is unchanged, and a failed or cancelled import leaves nothing.
#include "db/write/DictionaryImport.h"
#include "util/Files.h"
#include "util/TestUtil.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace tarnvik;
using namespace testutil;

class TestDictionaryImport : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QString::fromUtf8(name)); }

private slots:
    void importsOnceAndOffersItAgain()
    {
        const QString csv = path("slova.csv");
        writeBytes(csv, "slovo,význam\ndům,house\n\"pes, malý\",dog\n");
        const QByteArray bytes = readBytes(csv);
        DictionaryImport import(path("data"));
        QVERIFY(!import.earlier(csv));
        const auto s = import.run(csv);
        QVERIFY2(s, qPrintable(import.errorString()));
        QCOMPARE(*s, (DataSource{u"slova"_qs, path("data/slova.mdb"), u"slova"_qs, u"slovo"_qs, u"význam"_qs}));
        QString error;
        const auto rows = readAll(s->File, s->Name, {s->In, s->Out}, &error);
        QVERIFY2((rows && *rows == std::vector<Row>{{u"dům"_qs, u"house"_qs}, {u"pes, malý"_qs, u"dog"_qs}}),
                 qPrintable(error));
        QCOMPARE(readBytes(csv), bytes);
        QCOMPARE(import.earlier(csv), s);

        // Made anew: beside the first, never over it; the record names the newest.
        const auto again = import.run(csv);
        QVERIFY(again && again->File == path("data/slova (2).mdb"));
        QCOMPARE(import.earlier(csv), again);
        // The file changed, or its database gone: nothing to offer.
        writeBytes(csv, bytes + "kočka,cat\n");
        QVERIFY(!import.earlier(csv));
        QVERIFY(import.run(csv));
        QFile::remove(path("data/slova (3).mdb"));
        QVERIFY(!import.earlier(csv));

        // Its name taken since by another file's import: that is not it.
        QVERIFY(import.run(csv));
        QFile::remove(path("data/slova (3).mdb"));
        const QString other = path("jine/slova.csv");
        QDir().mkpath(path("jine"));
        writeBytes(other, "word,meaning\ncat,kočka\n");
        QCOMPARE(import.run(other)->File, path("data/slova (3).mdb"));
        QVERIFY(!import.earlier(csv));
    }

    // A dictionary's own name is its title.
    void dictdTitle()
    {
        const QString index = u"/usr/share/dictd/freedict-ces-eng.index"_qs;
        if (!QFileInfo::exists(index))
            QSKIP("dict-freedict-ces-eng is not installed");
        DictionaryImport import(path("dictd"));
        const auto s = import.run(index);
        QVERIFY2(s, qPrintable(import.errorString()));
        QVERIFY2(s->Title.contains(u"FreeDict"_qs), qPrintable(s->Title));
        QCOMPARE(s->In + u' ' + s->Out, u"headword definition"_qs);
    }

    // A bad line is told with the file and the line; a cancel is no failure to
    // tell. Neither leaves a database or a record.
    void failedOrCancelledLeavesNothing()
    {
        const QString bad = path("spatne.tsv");
        writeBytes(bad, "a\tb\nx\ty\n\xff\tz\n");
        const QString folder = path("none");
        DictionaryImport import(folder);
        QVERIFY2(!import.run(bad) && import.errorString().startsWith(bad + u":3:"_qs), qPrintable(import.errorString()));
        QVERIFY(!import.cancelled());

        const QString good = path("dobre.tsv");
        writeBytes(good, "a\tb\nx\ty\n");
        const std::atomic_bool cancel{true};
        QVERIFY(!import.run(good, &cancel) && import.cancelled());
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        QVERIFY(!import.earlier(good));
    }
};

QTEST_GUILESS_MAIN(TestDictionaryImport)
#include "tst_dictionaryimport.moc"
