// StarDict files nobody here wrote: FreeDict's dictd dictionaries turned into
// StarDict by pyglossary, made into a database by tarnvik-mkdb and looked up
// with tarnvik-lookup, against what sdcv reads from the same files.
#include "util/Files.h"
#include "util/TestUtil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace testutil;

namespace {

// The headwords of a .idx, read here by the format's description.
QStringList idxWords(const QByteArray &idx, int offsetBytes)
{
    QStringList words;
    for (qsizetype at = 0; at < idx.size();) {
        const qsizetype nul = idx.indexOf('\0', at);
        if (nul < 0)
            break;
        words << QString::fromUtf8(idx.sliced(at, nul - at));
        at = nul + 1 + offsetBytes + 4;
    }
    return words;
}

} // namespace

class TestStarDictPeers : public QObject
{
    Q_OBJECT
private slots:
    void sameAsSdcv_data()
    {
        QTest::addColumn<QString>("dictionary");
        QTest::newRow("Greek") << u"ell-eng"_qs;
        QTest::newRow("Czech") << u"ces-eng"_qs;
    }

    void sameAsSdcv()
    {
        QFETCH(QString, dictionary);
        const QString index = u"/usr/share/dictd/freedict-"_qs + dictionary + u".index"_qs;
        QStringList missing;
        for (const QString &program : {u"pyglossary"_qs, u"sdcv"_qs}) {
            if (!haveProgram(program))
                missing << program;
        }
        if (!QFileInfo::exists(index))
            missing << index;
        if (!missing.isEmpty()) {
            const QString why = u"not installed: "_qs + missing.join(u", "_qs);
            if (qEnvironmentVariableIsSet("TARNVIK_REQUIRE_STARDICT_PEERS"))
                QFAIL(qPrintable(why));
            QSKIP(qPrintable(why));
        }

        QTemporaryDir tmp;
        const QString home = tmp.filePath(u"home"_qs), dir = tmp.filePath(u"dict"_qs), ifo = dir + u"/d.ifo"_qs;
        QVERIFY(QDir().mkpath(home));
        // Both tools keep settings and caches in HOME.
        auto runAt = [&](const QString &program, const QStringList &args) {
            return run(u"env"_qs, QStringList{u"HOME="_qs + home, program} + args, 300000);
        };
        // Plain text as pyglossary gives it (its own <br /> included): what sdcv
        // prints is then the text itself.
        Run r = runAt(u"pyglossary"_qs,
                      {index, ifo, u"--read-format=DictOrg"_qs, u"--write-format=Stardict"_qs,
                       u"--write-options=sametypesequence=m"_qs, u"--ui=none"_qs, u"--no-interactive"_qs,
                       u"--no-progress-bar"_qs, u"--no-color"_qs, u"-v1"_qs});
        QVERIFY2(r.exitCode == 0 && QFileInfo::exists(ifo), r.err.constData());
        const QString db = tmp.filePath(u"d.mdb"_qs);
        r = runMkdb({db, ifo});
        QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());

        const QByteArray info = readBytes(ifo);
        const QStringList words = idxWords(readBytes(dir + u"/d.idx"_qs), info.contains("idxoffsetbits=64") ? 8 : 4);
        QVERIFY(info.contains("\nwordcount=" + QByteArray::number(words.size()) + "\n"));
        QString error;
        const auto rows = readAll(db, u"d"_qs, {u"headword"_qs, u"definition"_qs}, &error);
        QVERIFY2(rows, qPrintable(error));
        QStringList stored;
        for (const Row &row : *rows)
            stored << row[0].value_or(QString());
        QStringList expected = words;
        expected.sort();
        stored.sort();
        QCOMPARE(stored, expected);

        // Words spread over the file; none with the look-up's wildcards, which
        // would widen the prefix.
        QStringList sample;
        for (qsizetype k = 0; k < 50; ++k) {
            qsizetype i = k * words.size() / 50;
            while (i < words.size() && (words[i].contains(QRegularExpression(u"[*?#\\[]"_qs)) || sample.contains(words[i])))
                ++i;
            if (i < words.size())
                sample << words[i];
        }
        QVERIFY(sample.size() >= 45);
        for (const QString &word : sample) {
            r = run(binPath(u"tarnvik-lookup"_qs), {db, u"d"_qs, u"headword"_qs, u"definition"_qs, word});
            QVERIFY2(r.exitCode == 0, r.err.constData());
            QStringList ours;
            for (const QString &line : QString::fromUtf8(r.out).split(u'\n').mid(1)) {
                const qsizetype tab = line.indexOf(u'\t');
                if (tab >= 0 && unescape(QStringView(line).first(tab)) == word)
                    ours << unescape(QStringView(line).sliced(tab + 1));
            }
            // sdcv's JSON holds what it prints; it puts a line break before each
            // part of an entry and none of its header lines.
            r = runAt(u"sdcv"_qs, {u"-n"_qs, u"-x"_qs, u"-e"_qs, u"-j"_qs, u"-0"_qs, u"-1"_qs, u"--data-dir"_qs, dir, word});
            QVERIFY2(r.exitCode == 0, r.err.constData());
            QStringList theirs;
            for (const QJsonValue &item : QJsonDocument::fromJson(r.out).array()) {
                if (item[u"word"].toString() != word)
                    continue;
                theirs << item[u"definition"].toString().remove(QRegularExpression(u"^\\n|\\n+$"_qs));
            }
            ours.sort();
            theirs.sort();
            QVERIFY2(!theirs.isEmpty() && ours == theirs,
                     qPrintable(word + u": ours "_qs + ours.join(u" | "_qs) + u", sdcv's "_qs + theirs.join(u" | "_qs)));
        }
        qInfo("%s: %lld headwords stored, %lld words' definitions the same as sdcv's", qPrintable(dictionary),
              qint64(words.size()), qint64(sample.size()));
    }
};

QTEST_GUILESS_MAIN(TestStarDictPeers)
#include "tst_stardictpeers.moc"
