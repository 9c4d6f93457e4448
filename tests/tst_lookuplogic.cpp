// The look-up without its window: what a run answers for the typed text,
// and when a source's problem is told.
#include "lookup/Lookup.h"
#include "util/TestUtil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarnvik;

class TestLookupLogic : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_db;
    qint64 m_now = 100000;

    VisibleSource source(const QString &file) const { return {u"Slova"_qs, file, u"Slova"_qs, u"slovo"_qs, u"vyznam"_qs}; }
    static QStringList inputs(const LookupResult &r)
    {
        QStringList out;
        if (const LookupIndex *ix = r.matches.index())
            for (size_t k = 0; k < r.matches.size(); ++k)
                out << ix->input(r.matches.row(k));
        return out;
    }

    // FreeDict's dictionary 'pair' made a source: table "dict", fields
    // "headword" and "definition". Empty when the package is not installed.
    QString freeDict(const QString &pair)
    {
        const QString index = u"/usr/share/dictd/freedict-"_qs + pair + u".index"_qs;
        const QString db = m_dir.filePath(pair + u".mdb"_qs);
        if (!QFile::exists(index))
            return QString();
        const testutil::Run made = testutil::runMkdb({db, u"--table"_qs, u"dict"_qs, u"--format"_qs, u"dictd"_qs, index});
        if (made.exitCode != 0)
            qFatal("%s", made.err.constData());
        return db;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_db = m_dir.filePath(QStringLiteral("slova.mdb"));
        QVERIFY(testutil::makeSampleDictionary(m_db));
    }

    void answers()
    {
        QStringList all; // written in reverse
        for (int r = 0; r < 120; ++r)
            all << QStringLiteral("slovo%1").arg(r, 3, 10, QChar(u'0'));
        using R = LookupResult;
        struct Row { QString text; R::Kind kind; QString firstOut; QStringList inputs; bool diacriticsIgnored = false; };
        const Row rows[] = {
            {u"d"_qs, R::Found, u"day"_qs, {"den", "dům", "dva"}}, // matches in the input's order
            {u"slovo"_qs, R::Found, u"0"_qs, all}, // every match in the collation's order
            {u"dx"_qs, R::NoMatch, {}, {}},
            {{}, R::NoText, {}, {}},
            {u"abc"_qs, R::Found, {}, {"abc"}}, // a Null output reads empty
            {u"a "_qs, R::Found, u"blank"_qs, {"a b"}}, // a trailing blank is part of the prefix
            {u"d?m"_qs, R::Found, u"house"_qs, {"dům"}}, // typed wildcards keep their meaning
            {u"d["_qs, R::BadPattern, {}, {}},
            // Only where nothing matches as typed: diacritics ignored, wildcards kept.
            {u"DUM"_qs, R::Found, u"house"_qs, {"dům"}, true},
            {u"dú?"_qs, R::Found, u"house"_qs, {"dům"}, true},
            {u"x[b-á]"_qs, R::NoMatch, {}, {}}, // a range turned round once bare
        };
        auto line = [](const QString &text, int kind, const QString &firstOut, const QStringList &inputs, bool ignored) {
            return u"%1: kind %2, first %3, %4%5"_qs.arg(text).arg(kind).arg(firstOut, inputs.join(u','), ignored ? u" ~"_qs : u""_qs);
        };
        for (const Row &row : rows) {
            DataControl data;
            Lookup lookup(data);
            lookup.setSource(source(m_db));
            const LookupResult r = lookup.run(row.text);
            QCOMPARE(line(row.text, r.kind, r.firstOut, inputs(r), r.diacriticsIgnored),
                     line(row.text, row.kind, row.firstOut, row.inputs, row.diacriticsIgnored));
            if (r.kind == LookupResult::Found)
                QCOMPARE(r.firstIn, inputs(r).value(0));
            // Only a failure has something to say.
            QVERIFY2(r.problem.isEmpty() == (row.kind != LookupResult::BadPattern), qPrintable(row.text));
        }
    }

    // A source's problem is told once per cause, never within 2 s of a key,
    // again once the source has worked in between, and none while it is read.
    void problemsAreToldOnceAndNotIntoTyping()
    {
        const QString later = m_dir.filePath(QStringLiteral("later.mdb"));
        DataControl data;
        Lookup lookup(data, [this] { return m_now; });
        QCOMPARE(lookup.run(u"d"_qs).kind, LookupResult::NoSource);
        QVERIFY(lookup.problemToTell().isEmpty());
        VisibleSource lacking = source(m_db);
        lacking.Out.clear();
        lookup.setSource(lacking);
        const LookupResult r = lookup.run(u"d"_qs);
        QCOMPARE(r.kind, LookupResult::Failed);
        QVERIFY(r.problem.contains(QStringLiteral("výstupní pole")));
        QCOMPARE(lookup.problemToTell(), r.problem);

        lookup.setSource(source(later));
        const QString why = lookup.problemToTell();
        QVERIFY(why.contains(QStringLiteral("later.mdb")));
        QVERIFY(lookup.problemToTell().isEmpty()); // told already
        QCOMPARE(lookup.run(u"d"_qs).problem, why); // typing shows it, in the tool tips

        // Chosen again: the same cause is not told twice.
        lookup.setSource(source(later));
        QVERIFY(lookup.problemToTell().isEmpty());

        // Once it works, a failure is news again, but not into typing.
        QVERIFY(QFile::copy(m_db, later));
        lookup.setSource(source(later));
        QVERIFY(lookup.problemToTell().isEmpty());
        QCOMPARE(lookup.run(u"den"_qs).kind, LookupResult::Found);
        QVERIFY(QFile::remove(later));
        lookup.keyTyped();
        m_now += 1999;
        QVERIFY(lookup.problemToTell().isEmpty());
        m_now += 1;
        QVERIFY(lookup.problemToTell().contains(QStringLiteral("later.mdb")));

        // Without waiting for reads: the run says it waits, and answers once read.
        const QString held = m_dir.filePath(QStringLiteral("held.mdb"));
        QVERIFY(QFile::copy(m_db, held));
        data.setWaitForReads(false);
        data.setReadLimits({.helper = testutil::heldHelper(QDir(m_dir.path()))});
        lookup.setSource(source(held));
        QVERIFY(lookup.problemToTell().isEmpty() && lookup.tellPending());
        const LookupResult waiting = lookup.run(u"dv"_qs);
        QCOMPARE(waiting.kind, LookupResult::Waiting);
        QVERIFY(waiting.problem.contains(QStringLiteral("připravuje")) && lookup.waits());
        testutil::release(held);
        QTRY_VERIFY(lookup.run(u"dv"_qs).kind == LookupResult::Found);
        QVERIFY(!lookup.waits() && lookup.problemToTell().isEmpty() && !lookup.tellPending());
    }

    // On a real dictionary nobody here wrote: the whole word typed without
    // its accents comes first, then every word that begins with the text as
    // typed; the command line shows the same.
    void wordsAReaderMeans()
    {
        const QString db = freeDict(u"ell-eng"_qs);
        if (db.isEmpty())
            QSKIP("dict-freedict-ell-eng is not installed");
        DataControl data;
        Lookup lookup(data);
        lookup.setSource(VisibleSource{{}, db, u"dict"_qs, u"headword"_qs, u"definition"_qs});
        const LookupResult r = lookup.run(u"αλογο"_qs);
        QCOMPARE(inputs(r).mid(0, 2), (QStringList{u"άλογο"_qs, u"αλογοκλέφτης"_qs}));
        QVERIFY(r.diacriticsIgnored && r.matches.diacriticsIgnored(0) && !r.matches.diacriticsIgnored(1));
        QVERIFY(r.firstOut.startsWith(u"horse"_qs) && !lookup.run(u"άλογο"_qs).diacriticsIgnored);

        const QStringList args = {db, u"dict"_qs, u"headword"_qs, u"definition"_qs, u"αλογο"_qs, u"--as-shown"_qs};
        const testutil::Run tool = testutil::run(testutil::binPath(u"tarnvik-lookup"_qs), args, 30000);
        const QStringList lines = QString::fromUtf8(tool.out).split(u'\n');
        QCOMPARE(lines.value(0), QString::number(r.matches.size()));
        QVERIFY2(lines.value(1).startsWith(u"~\tάλογο\thorse"_qs) && lines.value(2).startsWith(u"=\tαλογοκλέφτης\t"_qs),
                 qPrintable(lines.mid(0, 3).join(u" | "_qs)));
    }

    // A Turkish source pairs I with ı and İ with i, as typed; any other
    // finds them only without diacritics.
    void turkishI()
    {
        const QString db = freeDict(u"tur-eng"_qs);
        if (db.isEmpty())
            QSKIP("dict-freedict-tur-eng is not installed");
        for (const uint8_t charset : {uint8_t(162), uint8_t(238)}) {
            DataControl data;
            Lookup lookup(data);
            lookup.setSource(VisibleSource{{}, db, u"dict"_qs, u"headword"_qs, u"definition"_qs, charset, charset});
            for (const auto &[typed, found] : {std::pair{u"IRMAK"_qs, u"ırmak"_qs}, {u"İngiltere"_qs, u"ingiltere"_qs}}) {
                const LookupResult r = lookup.run(typed);
                QCOMPARE(r.firstIn, found);
                QCOMPARE(r.diacriticsIgnored, charset != 162);
            }
        }
    }
};

QTEST_MAIN(TestLookupLogic)
#include "tst_lookuplogic.moc"
