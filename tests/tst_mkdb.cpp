// tarnvik-mkdb and its input readers: TSV, CSV, dictd and StarDict in, a
// database out; bad input refused with the line named and no file left behind.
#include "db/write/MakeDatabase.h"
#include "db/write/RowSource.h"
#include "db/write/StarDictSource.h"
#include "util/Files.h"
#include "util/TestUtil.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <zlib.h>

using namespace tarnvik;
using namespace testutil;

namespace {

QByteArray bigEndian(quint64 v, int bytes)
{
    QByteArray b;
    for (int i = bytes - 1; i >= 0; --i)
        b.append(char(v >> (8 * i)));
    return b;
}

void gzipFile(const QString &path, const QByteArray &bytes)
{
    gzFile gz = gzopen(QFile::encodeName(path).constData(), "wb");
    if (!gz || gzwrite(gz, bytes.constData(), unsigned(bytes.size())) != int(bytes.size()) || gzclose(gz) != Z_OK)
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

class TestMkdb : public QObject
{
    Q_OBJECT
private slots:
    void tsvCsvAndDictd()
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
        // Text: no value is longer than 255; Memo: a value of 256.
        const auto fields = MdbFile(db).fields(u"Slova"_qs, &error);
        QCOMPARE(fields ? u"%1 %2"_qs.arg(fields->at(0).type).arg(fields->at(1).type) : error, u"10 12"_qs);
        const auto back = readAll(db, u"Slova"_qs, {u"slovo"_qs, u"význam"_qs}, &error);
        QVERIFY2(back && *back == rows, qPrintable(error));
        // An existing output is replaced only when asked.
        const QByteArray made = readBytes(db);
        QCOMPARE(runMkdb({db, tsv}).exitCode, 1);
        QCOMPARE(readBytes(db), made);
        QCOMPARE(runMkdb({u"--force"_qs, db, u"--table"_qs, u"Jiná"_qs, tsv}).exitCode, 0);
        QVERIFY2(MdbFile(db).fields(u"Jiná"_qs, &error), qPrintable(error));

        // No input at all: a database without user tables.
        const QString empty = m_dir.filePath(u"none.mdb"_qs);
        QCOMPARE(runMkdb({empty}).exitCode, 0);
        const auto tables = MdbFile(empty).tables(&error);
        QVERIFY2(tables && tables->size() == 1 && tables->at(0).system, qPrintable(error));

        const QString csv = file(u"q.csv"_qs, "a,b,c\n"
                                              "plain,\"with, comma\",\"say \"\"hi\"\"\"\n"
                                              ",\"\",\"two\nlines\"\n"
                                              "x,y,\"\"\n"
                                              "last,x,y");
        mkdb::CsvSource csvSource(csv);
        QVERIFY((readSource(csvSource) == std::vector<Row>{{u"plain"_qs, u"with, comma"_qs, u"say \"hi\""_qs},
                                                           {std::nullopt, u""_qs, u"two\nlines"_qs},
                                                           {u"x"_qs, u"y"_qs, u""_qs}, {u"last"_qs, u"x"_qs, u"y"_qs}}));
        QCOMPARE(csvSource.fieldNames(), QStringList({"a", "b", "c"}));

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
        gzipFile(m_dir.filePath(u"d.dict.dz"_qs), dict);
        mkdb::DictdSource dictd(file(u"d.index"_qs, index));
        QVERIFY(readSource(dictd) == std::vector<Row>({{u"house"_qs, u"dům\nbudova"_qs}, {u"cat"_qs, u"kočka"_qs}}));
        qint64 v = 0;
        QVERIFY(mkdb::DictdSource::decodeNumber(u"Ba", &v));
        QCOMPARE(v, 64 + 26);
    }

    // Phonetics and HTML in each entry, a picture between them where each part
    // names its type; a synonym; the same rows whatever the packing: plain;
    // 64-bit offsets, types per entry; gzip index and synonyms, dictzip; all
    // packed, types per entry. (The tool on StarDict files:
    // overlongEntriesAreCut and tst_stardictpeers.)
    void starDictDictionaries()
    {
        int k = 0;
        const QList<QPair<QByteArray, quint32>> home = {{"home", 0}};
        for (const Layout &layout : {Layout{32, false, false, true, home}, Layout{64, false, false, false, home},
                                     Layout{32, true, true, true, home}, Layout{64, true, true, false, home}}) {
            Entry cat{"cat", {{'t', "kæt"}, {'h', "<p>kočka</p><p>kocour &lt;m&gt;</p>"}}};
            if (!layout.sameTypes)
                cat.parts.insert(1, {'P', QByteArray("\x89PNG\0\0", 6)});
            const QList<Entry> entries = {{"house", {{'t', "haʊs"}, {'h', "<b>dům</b><br>budova &amp; stavba"}}}, cat};
            const QString ifo = starDict(u"layout%1"_qs.arg(++k), entries, layout);
            mkdb::StarDictSource src(ifo);
            const auto rows = readSource(src);
            const std::vector<Row> expected = {{u"house"_qs, u"haʊs\ndům\nbudova & stavba"_qs},
                                               {u"cat"_qs, u"kæt\nkočka\nkocour <m>"_qs},
                                               {u"home"_qs, u"haʊs\ndům\nbudova & stavba"_qs}};
            QVERIFY2(rows == expected, qPrintable(ifo));
            QCOMPARE(src.title(), u"Zkušební slovník"_qs);
            QCOMPARE(readSource(src).size(), expected.size()); // the second pass reads it all again
        }

        // Each type's markup shown as plain text.
        const struct { char type; const char16_t *markup, *text; } cases[] = {
            {'h', u"a<br/>b<BR>c\nd", u"a\nb\nc\nd"},
            {'h', u"<div>one</div><div>two</div>three<p>four", u"one\ntwo\nthree\nfour"},
            {'h', u"<a href=\"x>y\">link</a> &#269;&#x10D; &nbsp;&bogus; &amp", u"link čč \u00A0&bogus; &amp"},
            {'h', u"<n> <adj, pl> a < b <!-- note --><script>x<y</script>end", u"<n> <adj, pl> a < b end"},
            {'h', u"<ul><li>1</li><li>2</li></ul>\n", u"1\n2"},
            {'x', u"<k>dům</k>\n<tr>duːm</tr>\n<def>house<ex>a <i>big</i> house</ex></def>", u"dům\nduːm\nhouse\na big house"},
            {'g', u"<span foreground=\"red\">red</span> <b>bold</b> <p>", u"red bold <p>"},
        };
        for (const auto &c : cases)
            QCOMPARE(mkdb::StarDictSource::plainText(QStringView(c.markup), c.type), QString::fromUtf16(c.text));
    }

    // Never a half character: a pair of surrogates, or a UTF-8 sequence cut by the
    // reader's limit. The tool tells how many entries it cut and still succeeds.
    void overlongEntriesAreCut()
    {
        using mkdb::MakeDatabase;
        const QString pair = u"\U0001F600"_qs;
        QString v = QString(254, u'a') + pair;
        QVERIFY(MakeDatabase::cutToFit(&v, JetWriter::FieldType::Text, JetWriter::Format::Jet4));
        QCOMPARE(v, QString(254, u'a'));
        QVERIFY(!MakeDatabase::cutToFit(&v, JetWriter::FieldType::Text, JetWriter::Format::Jet4));
        // Jet 4 packs the x's a byte each: after its two-byte mark, the high half
        // and the zero byte that switches to wide characters still fit, the low one not.
        const qsizetype xs = 0xFFFFFF - 6;
        v = QString(xs, u'x') + pair + u'z';
        QVERIFY(MakeDatabase::cutToFit(&v, JetWriter::FieldType::Memo, JetWriter::Format::Jet4));
        QCOMPARE(v.size(), xs);
        v = QString(0x1000000, u'x');
        QVERIFY(MakeDatabase::cutToFit(&v, JetWriter::FieldType::Memo, JetWriter::Format::Jet3));
        QCOMPARE(v.size(), 0xFFFFFF);

        // A headword of 300 two-byte characters, and a definition past what the
        // reader takes, its limit in the middle of a "ř".
        const QByteArray longWord = QByteArray("\xC5\x99").repeated(300);
        const QByteArray longText = "a" + QByteArray("\xC5\x99").repeated(int(mkdb::StarDictSource::kMaxEntryBytes / 2));
        const QString ifo = starDict(u"cut"_qs, {{longWord, {{'m', "short"}}}, {"long", {{'m', longText}}}, {"ok", {{'m', "fine"}}}},
                                     {});
        const QString db = m_dir.filePath(u"cut.mdb"_qs);
        const Run r = runMkdb({u"--force"_qs, db, ifo});
        QVERIFY2(r.exitCode == 0 && r.err.contains("cut.ifo: 2 hesla byla zkrácena"), r.err.constData());
        QString error;
        const auto fields = MdbFile(db).fields(u"cut"_qs, &error);
        QCOMPARE(fields ? QString::number(fields->at(0).type) : error, u"10"_qs); // the headword stays Text
        const auto back = readAll(db, u"cut"_qs, {u"headword"_qs, u"definition"_qs}, &error);
        QVERIFY2(back && back->size() == 3, qPrintable(error));
        QCOMPARE(*back->at(0)[0], QString(255, u'ř'));
        // Stored two bytes a character, a Memo holds under 16 MB of them.
        QCOMPARE(*back->at(1)[1], u'a' + QString(0xFFFFFF / 2 - 1, u'ř'));
        QCOMPARE(*back->at(2)[1], u"fine"_qs);
    }

    void badInputIsRefused()
    {
        // The StarDict file to replace (or, after "-", to remove) or the input
        // to read alone, its new content, what the refusal names, options.
        const QByteArray wide = QByteArray("\xC5\x99").repeated(250);
        const QByteArray info = "StarDict's dict ifo file\nversion=2.4.2\nwordcount=2\n";
        const auto entry = [](const char *word, quint64 offset, quint64 size) {
            return QByteArray(word) + '\0' + bigEndian(offset, 4) + bigEndian(size, 4);
        };
        gzipFile(m_dir.filePath(u"gz.tmp"_qs), "onetwo");
        const QByteArray gz = readBytes(m_dir.filePath(u"gz.tmp"_qs));
        const struct { const char *tag; QString replace; QByteArray content; QString names; QStringList options = {}; }
            cases[] = {
            {"index cut short", u".idx"_qs, entry("one", 0, 4) + entry("two", 4, 4).first(7),
             u"d.idx: rejstřík končí uprostřed hesla č. 2 „two“"_qs},
            {"offset past the dictionary", u".idx"_qs, entry("one", 0, 4) + entry("two", 6, 4),
             u"d.idx: heslo č. 2 „two“ ukazuje mimo"_qs},
            {"no NUL after the word", u".idx"_qs, entry("one", 0, 4) + "two",
             u"d.idx: záznam č. 2 nemá ukončovací nulu"_qs},
            {"word count", u".ifo"_qs, QByteArray(info).replace("wordcount=2", "wordcount=3"),
             u"d.idx: počet hesel v rejstříku (2) nesouhlasí s wordcount=3"_qs},
            {"index size", u".ifo"_qs, info + "idxfilesize=99\n",
             u"d.idx: velikost rejstříku (24 B) nesouhlasí s idxfilesize=99"_qs},
            {"version", u".ifo"_qs, QByteArray(info).replace("2.4.2", "2.5"), u"d.ifo:2: verzi „2.5“"_qs},
            {"first line", u".ifo"_qs, "StarDict dict\n" + info, u"d.ifo:1:"_qs},
            {"no dictionary", u"-.dict"_qs, QByteArray(), u"d.ifo“ chybí soubor"_qs},
            {"no index", u"-.idx"_qs, QByteArray(), u"d.ifo“ chybí rejstřík"_qs},
            {"synonym of no entry", u".syn"_qs, QByteArray("alias") + '\0' + bigEndian(2, 4),
             u"d.syn: synonymum č. 1 „alias“ odkazuje na heslo č. 3"_qs},
            {"part without NUL", u".dict"_qs, QByteArray("mon!mtw", 8),
             u"d.idx: heslo č. 1 „one“: část typu „m“ nemá ukončovací nulu"_qs},
            {"dictzip cut short", u".dict.dz"_qs, gz.first(gz.size() - 6), u"d.dict.dz“ je poškozený"_qs},
            {"dictzip damaged", u".dict.dz"_qs, withByte(gz, gz.size() - 5, gz[gz.size() - 5] ^ 0x55),
             u"d.dict.dz“ je poškozený"_qs},
            {"dictzip not gzip", u".dict.dz"_qs, QByteArray("onetwo"), u"d.dict.dz“ není ve formátu gzip"_qs},
            {"gzip index damaged", u".idx.gz"_qs, gz.first(12), u"d.idx.gz“ je poškozený"_qs},
            {"unknown escape", u"e.tsv"_qs, "a\tb\nx\ty\nx\\q\ty\n", u"e.tsv:3"_qs},
            {"field count", u"f.tsv"_qs, "a\tb\nx\ty\nx\n", u"f.tsv:3"_qs},
            {"duplicate names", u"d.tsv"_qs, "a\tA\nx\ty\n", u"d.tsv:1"_qs},
            {"invalid UTF-8", u"u.tsv"_qs, "a\nok\n\xC3\x28\n", u"u.tsv:3"_qs},
            {"not in the code page", u"c.tsv"_qs, "a\nok\n\xD0\x9C\n", u"c.tsv:3"_qs,
             {u"--jet3"_qs, u"--codepage"_qs, u"1250"_qs}},
            {"row too long", u"r.tsv"_qs,
             QByteArray("a\tb\tc\td\te\tf\tg\th\tj\n") + (wide + "\t").repeated(8) + wide + "\n", u"r.tsv:2"_qs},
            {"unclosed quote", u"q.csv"_qs, "a,b\n1,2\n\"open,3\n", u"q.csv:3"_qs},
        };
        for (const auto &[tag, replace, content, names, options] : cases) {
            const QString dir = QString::fromLatin1(tag).replace(u' ', u'_');
            QVERIFY(QDir(m_dir.path()).mkpath(dir));
            const QString base = dir + u"/d"_qs;
            starDict(base, {{"one", {{'m', "on"}}}, {"two", {{'m', "tw"}}}}, {32, false, false, false, {{"uno", 0}}});
            if (replace.endsWith(u'z')) // packed in place of the plain file
                QFile::remove(m_dir.filePath(base + replace.chopped(3)));
            QString input = m_dir.filePath(base + u".ifo"_qs);
            if (replace.startsWith(u'-'))
                QVERIFY(QFile::remove(m_dir.filePath(base + replace.mid(1))));
            else if (replace.startsWith(u'.'))
                writeBytes(m_dir.filePath(base + replace), content);
            else
                input = file(dir + u'/' + replace, content);
            const QString db = m_dir.filePath(dir + u".mdb"_qs);
            const Run r = runMkdb(options + QStringList{db, input});
            QVERIFY2(r.exitCode == 1 && QString::fromUtf8(r.err).contains(names),
                     qPrintable(QString::fromLatin1(tag) + u": "_qs + r.err));
            QVERIFY2(!QFileInfo::exists(db), tag);
        }
    }

    // Asked for, the usage is an answer (standard output, success); a wrong
    // command line still gets it on standard error.
    void helpGoesToStandardOutput()
    {
        for (const QString &tool : {u"tarnvik-mkdb"_qs, u"tarnvik-lookup"_qs}) {
            for (const QString &option : {u"--help"_qs, u"-h"_qs}) {
                const Run r = run(binPath(tool), {option});
                QVERIFY2(r.exitCode == 0 && r.out.startsWith("Usage: " + tool.toUtf8()) && r.err.isEmpty(),
                         qPrintable(tool + u' ' + option + u": "_qs + QString::fromUtf8(r.err)));
                for (const char *kind : {".tsv", ".csv", ".index", ".ifo", "stardict"})
                    QVERIFY2(tool != u"tarnvik-mkdb" || r.out.contains(kind), kind);
            }
            const Run wrong = run(binPath(tool), {u"--nonsense"_qs});
            QCOMPARE(wrong.exitCode, 2);
            QVERIFY(wrong.out.isEmpty() && wrong.err.startsWith("Usage: "));
        }
    }
private:
    QString file(const QString &name, const QByteArray &content)
    {
        writeBytes(m_dir.filePath(name), content);
        return m_dir.filePath(name);
    }

    struct Entry { QByteArray word; QList<QPair<char, QByteArray>> parts; }; // parts: type, data
    struct Layout
    {
        int bits = 32;
        bool idxGz = false, dictDz = false, sameTypes = true;
        QList<QPair<QByteArray, quint32>> synonyms;
    };
    // BASE.ifo, .idx and .dict (and .syn) as a dictionary writer makes them;
    // the .syn packed with the .idx.
    QString starDict(const QString &base, const QList<Entry> &entries, const Layout &layout)
    {
        QByteArray idx, dict, types;
        for (const auto &p : entries.front().parts)
            types.append(p.first);
        for (const Entry &e : entries) {
            const qsizetype start = dict.size();
            for (qsizetype k = 0; k < e.parts.size(); ++k) {
                const auto &[type, data] = e.parts[k];
                const bool lower = type >= 'a' && type <= 'z';
                if (!layout.sameTypes)
                    dict.append(type);
                if (layout.sameTypes && k + 1 == e.parts.size())
                    dict.append(data);
                else
                    dict.append(lower ? data + '\0' : bigEndian(quint64(data.size()), 4) + data);
            }
            idx += e.word + '\0' + bigEndian(quint64(start), layout.bits / 8) + bigEndian(quint64(dict.size() - start), 4);
        }
        // Each file plain, or gzipped under its name and the packed ending.
        auto put = [&](const QString &ending, const QByteArray &bytes, bool packed, const QString &packedEnding) {
            if (packed)
                gzipFile(m_dir.filePath(base + ending + packedEnding), bytes);
            else
                writeBytes(m_dir.filePath(base + ending), bytes);
        };
        QByteArray ifo = "StarDict's dict ifo file\nversion=3.0.0\nbookname=Zkušební slovník\nwordcount="
                         + QByteArray::number(entries.size()) + "\nidxfilesize=" + QByteArray::number(idx.size()) + "\n";
        if (layout.bits == 64)
            ifo += "idxoffsetbits=64\n";
        if (layout.sameTypes)
            ifo += "sametypesequence=" + types + "\n";
        if (!layout.synonyms.isEmpty()) {
            QByteArray syn;
            for (const auto &[word, index] : layout.synonyms)
                syn += word + '\0' + bigEndian(index, 4);
            put(u".syn"_qs, syn, layout.idxGz, u".gz"_qs);
            ifo += "synwordcount=" + QByteArray::number(layout.synonyms.size()) + "\n";
        }
        put(u".idx"_qs, idx, layout.idxGz, u".gz"_qs);
        put(u".dict"_qs, dict, layout.dictDz, u".dz"_qs);
        return file(base + u".ifo"_qs, ifo);
    }

    std::vector<mkdb::Row> readSource(mkdb::RowSource &src)
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

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestMkdb)
#include "tst_mkdb.moc"
