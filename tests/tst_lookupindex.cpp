#include "db/index/Collation.h"
#include "db/index/LookupIndex.h"
#include "util/RandomText.h"
#include "util/ScanReference.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <algorithm>
#include <cstring>

using namespace tarnvik;
using namespace testutil;

namespace {

std::shared_ptr<LookupIndex> makeIndex(const QList<std::optional<QString>> &inputs, CaseRule rule = CaseRule::Default)
{
    LookupIndex::Builder b(rule);
    for (qsizetype i = 0; i < inputs.size(); ++i) {
        const QString out = QStringLiteral("out%1").arg(i);
        b.addRow(inputs[i] ? &*inputs[i] : nullptr, &out);
    }
    return b.build();
}

QStringList listed(const Matches &m)
{
    QStringList out;
    for (size_t k = 0; k < m.size(); ++k)
        out << m.index()->input(m.row(k)) + u'/' + m.index()->output(m.row(k));
    return out;
}

// Each pattern whose rows, found with each key, are not the scan's:
// "pattern (key): n rows, m expected".
QStringList wrongRows(const LookupIndex &ix, const ScanReference &reference, const QStringList &patterns,
                      const QList<LookupIndex::Key> &keys = {LookupIndex::Folded, LookupIndex::Bare})
{
    QStringList wrong;
    for (const QString &pattern : patterns) {
        for (const auto key : keys) {
            std::optional<LikePattern> p;
            const auto expected = reference.rows(pattern, key, &p);
            if (!expected)
                continue; // a range whose ends fold out of order
            const Matches m = ix.find(*p, key);
            std::vector<uint32_t> got;
            for (size_t k = 0; k < m.size(); ++k)
                got.push_back(m.row(k));
            if (got != *expected)
                wrong << QStringLiteral("%1 (%2): %3 rows, %4 expected").arg(pattern).arg(key).arg(got.size()).arg(expected->size());
        }
    }
    return wrong;
}

// What the strip shows for each typed text, the rows found only with
// diacritics ignored first, where that is not the scan's.
QStringList wrongShownRows(const LookupIndex &ix, const ScanReference &reference, const QSet<QString> &typed)
{
    QStringList wrong;
    for (const QString &t : typed) {
        const auto expected = reference.shown(t);
        const auto shown = shownByIndex(ix, t);
        if (!expected || !shown)
            continue;
        std::vector<uint32_t> got;
        size_t ignored = 0;
        for (size_t k = 0; k < shown->size(); ++k) {
            got.push_back(shown->row(k));
            ignored += shown->diacriticsIgnored(k) && k == ignored;
        }
        if (got != expected->first || ignored != expected->second)
            wrong << QStringLiteral("shown for %1: %2 rows (%3 ignoring marks), %4 (%5) expected")
                         .arg(t).arg(got.size()).arg(ignored).arg(expected->first.size()).arg(expected->second);
    }
    return wrong;
}

// What the look-up asks of a typed text: the text, letters in another case,
// and a sample of the wildcards inside it.
QStringList patternsFor(const QString &typed, const QStringList &letters, QRandomGenerator &rng)
{
    QStringList out = {typed + u'*', typed.toUpper() + u'*'};
    const QStringList cps = lettersOf(typed);
    const QString any = letters[rng.bounded(letters.size())], other = letters[rng.bounded(letters.size())];
    switch (rng.bounded(6)) {
    case 0: out << u'?' + cps.mid(1).join(QString()) + u'*'; break;
    case 1: out << cps.first() + u'*' + cps.last(); break;
    case 2: out << u'[' + cps.first() + other + u']' + cps.mid(1).join(QString()) + u'*'; break;
    case 3: out << u"[!"_qs + cps.first() + u"]*"_qs; break;
    case 4: out << u'[' + std::min(any, other) + u'-' + std::max(any, other) + u"]*"_qs; break;
    case 5: out << cps.first() + u"#*"_qs << typed + u'?'; break;
    }
    return out;
}

} // namespace

class TestLookupIndex : public QObject
{
    Q_OBJECT
private slots:
    void czechOrderAndIgnorableText()
    {
        // The scan below sorts with the same collation: here it is seen to be
        // Czech ("ch" a letter after "h"), with ties in table order.
        QString error;
        const auto all = LikePattern::compile(u"*", &error);
        auto ix = makeIndex({u"hrad"_qs, u"chata"_qs, u"cesta"_qs, u"Cesta"_qs, u"čep"_qs, u"ctít"_qs, u"chata"_qs});
        QCOMPARE(listed(ix->find(*all)),
                 QStringList({"cesta/out2", "Cesta/out3", "ctít/out5", "čep/out4", "hrad/out0", "chata/out1",
                              "chata/out6"}));
        // Empty text comes before text the collator ignores altogether (which
        // random words never hold); a Null never matches.
        const QString nuls(3, QChar(0)), empty(u""_qs);
        auto ignorable = makeIndex({u"a"_qs, nuls, empty, std::nullopt});
        QCOMPARE(listed(ignorable->find(*all)), QStringList({u"/out2"_qs, nuls + u"/out1"_qs, u"a/out0"_qs}));
        QVERIFY(ignorable->inputIsNull(3) && !ignorable->inputIsNull(2));
    }

    void keyStartsAsTheCollatorWritesThem()
    {
        // Random text: every script's letters, contractions ("ch" in each
        // case, "l·", Thai and Lao vowels written first), marks alone, NULs,
        // controls, noncharacters, halves of pairs and any unit at all;
        // short, and past twelve bytes.
        const DisplayCollator collator;
        SortKeyStart keys(collator.c);
        QString pool = u"chCHcHChl·L·\u0e40\u0e01\u0ec0\u0e81\u0301\u030c\u0009\ufffe\uffff\u00ad"_qs + QChar(0);
        for (const Script &s : scripts())
            pool += s.letters;
        QRandomGenerator rng(5);
        int lookedUp = 0;
        QStringList wrong;
        for (int i = 0; i < 100000; ++i) {
            QString t;
            for (int n = int(rng.bounded(24)); n > 0; --n)
                t += rng.bounded(16) ? pool[rng.bounded(pool.size())] : QChar(char16_t(rng.bounded(0x10000)));
            const std::u16string_view text(reinterpret_cast<const char16_t *>(t.utf16()), size_t(t.size()));
            uint8_t fast[12], icu[12];
            keys.byCollator(text, icu);
            if (!keys.lookedUp(text, fast))
                continue;
            ++lookedUp;
            if (std::memcmp(fast, icu, 12) != 0 && wrong.size() < 5)
                wrong << QString::fromLatin1(QByteArray::fromRawData(reinterpret_cast<const char *>(t.utf16()), t.size() * 2).toHex(' '));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u'\n')));
        // Most text goes the fast way; Czech and Russian words all of it.
        QVERIFY2(lookedUp > 30000, qPrintable(QString::number(lookedUp)));
        for (const char *words : {"chata Chrudim cHa CH čeština Řecko úl kůň ďábel ěřť", "съешь ещё этих мягких французских булок"}) {
            for (const QString &w : QString::fromUtf8(words).split(u' ')) {
                uint8_t bytes[12];
                QVERIFY2(keys.lookedUp(std::u16string_view(reinterpret_cast<const char16_t *>(w.utf16()), size_t(w.size())), bytes), qPrintable(w));
            }
        }
    }

    void denseStartsOrderAsTheUnits()
    {
        // Keys of units seen in the sample and of others between, below and
        // above them (NUL and U+FFFF too), short and past twelve bytes: the
        // starts order as the keys do, and tie only where the keys begin
        // alike; a start that says the whole key fits ties only its equals.
        std::vector<bool> seen(size_t(1) << 16);
        const std::u16string sample = u"abcdeáčěабвгдеж";
        for (const char16_t u : sample)
            seen[u] = true;
        const std::u16string others = std::u16string(u"\0AZ`fßčďžяё\xFFFF\xD800", 13) + sample;
        const auto dense = DenseStarts::fromSample(seen);
        QVERIFY(dense);
        QRandomGenerator rng(9);
        std::vector<std::u16string> keys;
        for (int i = 0; i < 3000; ++i) {
            std::u16string k;
            for (int n = int(rng.bounded(16)); n > 0; --n) {
                const std::u16string &from = rng.bounded(3) ? sample : others;
                k += from[rng.bounded(uint32_t(from.size()))];
            }
            keys.push_back(k);
        }
        QStringList wrong;
        for (size_t i = 0; i + 1 < keys.size() && wrong.size() < 5; ++i) {
            for (size_t j : {i + 1, size_t(rng.bounded(uint32_t(keys.size())))}) {
                const KeyStart a = dense->start(keys[i], 0), b = dense->start(keys[j], 1);
                const bool tied = a.tiedWith(b);
                const int c = keys[i].compare(keys[j]);
                if ((!tied && (a < b) != (c < 0)) || (tied && a.whole() && c != 0))
                    wrong << QString::fromStdU16String(keys[i]) + u" / "_qs + QString::fromStdU16String(keys[j]);
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u"; "_qs)));
        // An unseen unit last in the twelve bytes leaves no zero there.
        const std::u16string nul(u"abcdeabc\0", 9);
        QVERIFY(!dense->start(nul, 0).whole() && dense->start(nul, 0).tiedWith(dense->start(nul + u'a', 1)));
        // Units for a byte each: 126 at most.
        std::vector<bool> many(size_t(1) << 16);
        std::fill(many.begin(), many.begin() + 126, true);
        QVERIFY(DenseStarts::fromSample(many));
        many[0xFFFF] = true;
        QVERIFY(!DenseStarts::fromSample(many));
    }

    void agreesWithScanInEveryScript()
    {
        QList<Script> tables = scripts();
        QString everything;
        for (const Script &s : tables)
            everything += s.letters;
        tables.append({"all scripts at once", everything});
        QRandomGenerator rng(17);
        QStringList failures;
        for (const Script &script : tables) {
            // Turkish text also as a Turkish source folds it: I with ı, İ with i.
            for (const CaseRule rule : {CaseRule::Default, CaseRule::Turkish}) {
                if (rule == CaseRule::Turkish && QLatin1String(script.name) != QLatin1String("Turkish"))
                    continue;
                // A NUL too: no key may take it for the end of the text.
                const QStringList letters = lettersOf(script.letters) << u" "_qs << u"1"_qs << u"-"_qs << u"*"_qs
                                                                    << QString(QChar(0));
                QList<std::optional<QString>> inputs;
                for (int i = 0; i < 1200; ++i) {
                    const quint32 kind = rng.bounded(100);
                    if (kind == 0)
                        inputs << std::nullopt;
                    else if (kind == 1)
                        inputs << QString();
                    else if (kind < 10 && !inputs.isEmpty()) // the same again, elsewhere
                        inputs << std::optional<QString>(inputs[rng.bounded(inputs.size())]);
                    else
                        inputs << randomWord(letters, rng);
                }
                auto ix = makeIndex(inputs, rule);
                const ScanReference reference(inputs, rule);

                // Every letter, every one- to three-letter start of a word, and of
                // some words a start longer than the sort keys' prefix.
                QSet<QString> typed(letters.begin(), letters.end());
                for (qsizetype i = 0; i < inputs.size(); ++i) {
                    for (int n : {1, 2, 3, 8, 13}) {
                        if (inputs[i] && (n <= 3 || i % 8 == 0))
                            typed.insert(firstCodePoints(*inputs[i], n));
                    }
                }
                // Whole words typed without their marks, in either case; and as
                // a pattern, which has no word itself.
                for (qsizetype i = 0; i < inputs.size(); i += 7) {
                    if (inputs[i] && !inputs[i]->isEmpty())
                        typed << bareText(*inputs[i], rule) << bareText(*inputs[i], rule).toUpper()
                              << bareText(*inputs[i], rule) + u'*';
                }
                QStringList patterns = {u"*"_qs, u"[!a]*"_qs, u"#*"_qs};
                for (const QString &t : typed) {
                    if (!t.isEmpty())
                        patterns << patternsFor(t, letters, rng);
                }
                // Each pattern as typed, and bare against the bare inputs.
                const QStringList wrong = wrongRows(*ix, reference, patterns) + wrongShownRows(*ix, reference, typed);
                if (!wrong.isEmpty())
                    failures << QStringLiteral("%1 (%2): %3 of %4 patterns wrong, first %5")
                                    .arg(QLatin1String(script.name)).arg(int(rule)).arg(wrong.size())
                                    .arg(patterns.size()).arg(wrong.first());
            }
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u"; "_qs)));
    }

    void everyTextComesBackExactly()
    {
        // Any UTF-16 at all, as a damaged table may hold: lone surrogates, pairs,
        // NUL, the units above the surrogates (which sort before a pair by units
        // but after it by code points).
        const char16_t units[] = {u'a', u'\u00e9', u'\u0161', 0, u'\u20ac', 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
        QRandomGenerator rng(5);
        QList<std::optional<QString>> inputs, outputs;
        LookupIndex::Builder b;
        for (int i = 0; i < 2000; ++i) {
            QString in, out;
            for (int n = int(rng.bounded(6)); n > 0; --n)
                in += QChar(units[rng.bounded(int(std::size(units)))]);
            for (int n = int(rng.bounded(4)); n > 0; --n)
                out += QChar(units[rng.bounded(int(std::size(units)))]);
            inputs << (i % 97 == 0 ? std::nullopt : std::optional<QString>(in));
            outputs << (i % 89 == 0 ? std::nullopt : std::optional<QString>(out));
            b.addRow(inputs.last() ? &*inputs.last() : nullptr, outputs.last() ? &*outputs.last() : nullptr);
        }
        const auto ix = b.build();
        for (uint32_t r = 0; r < ix->rowCount(); ++r) {
            QCOMPARE(std::pair(ix->input(r), ix->inputIsNull(r)), std::pair(inputs[r].value_or(QString()), !inputs[r]));
            QCOMPARE(std::pair(ix->output(r), ix->outputIsNull(r)), std::pair(outputs[r].value_or(QString()), !outputs[r]));
        }
        const ScanReference reference(inputs, CaseRule::Default);
        const QStringList patterns = {u"*"_qs, QString(QChar(0xE000)) + u'*', QString(QChar(0xFFFF)) + u'*'};
        const QStringList wrong = wrongRows(*ix, reference, patterns, {LookupIndex::Folded});
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u"; "_qs)));

        // Bytes that are no UTF-8 (from a file changed on disk) read as U+FFFD,
        // one for each byte that begins nothing whole.
        QString buffer;
        QCOMPARE(fromUtf8("\xC0\x80|\xE2\x82|\xF4\x90\x80\x80|\xED\xA0\x80", buffer),
                 QString::fromUtf16(u"\uFFFD\uFFFD|\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD\uFFFD|") + QChar(0xD800));
        // Both checks of strict UTF-8 against Qt's, on bytes at every bound a
        // leading or a following byte has.
        const char edges[] = "a\x7F\x80\x8F\x90\x9F\xA0\xBF\xC0\xC1\xC2\xDF\xE0\xE1\xEC\xED\xEE\xEF\xF0\xF3\xF4\xF5\xFF";
        for (int i = 0; i < 100000; ++i) {
            std::string bytes;
            for (int n = int(rng.bounded(8)); n > 0; --n)
                bytes += edges[rng.bounded(int(sizeof edges) - 1)];
            const bool valid = QByteArrayView(bytes).isValidUtf8();
            bool decoded = true;
            const QString text = fromUtf8(bytes, buffer, &decoded).toString();
            QVERIFY2(isValidUtf8(bytes) == valid && decoded == valid, QByteArray::fromStdString(bytes).toHex(' '));
            if (valid)
                QCOMPARE(text, QString::fromStdString(bytes));
        }
    }

    void bigSourcesSortAlike()
    {
        // More rows alike in their start than a sort takes at once, and than the
        // build hands the collator at once.
        QRandomGenerator rng(23);
        const QStringList letters = lettersOf(u"aábcčdeéě"_qs);
        QList<std::optional<QString>> inputs;
        for (int i = 0; i < 70000; ++i) {
            QString word = u"a"_qs;
            for (int n = 2 + int(rng.bounded(6)); n > 0; --n)
                word += letters[rng.bounded(letters.size())];
            inputs << word;
        }
        // Many rows of one word, then of longer words it begins: one whose key
        // without marks is as long as a sort key's start, one shorter. Each is
        // typed without its marks, and begins a word as typed.
        for (const QString &word : {u"ábcdeabcdeab"_qs, u"ábcdeabcdeabc"_qs, u"ačeačeač"_qs, u"ačeačeačd"_qs})
            inputs.append(QList<std::optional<QString>>(90, word));
        inputs << u"abcdeabcdeabx"_qs << u"aceaceacx"_qs;
        const auto ix = makeIndex(inputs);
        const ScanReference reference(inputs, CaseRule::Default);
        QStringList patterns = {u"*"_qs, u"ač*"_qs};
        QSet<QString> typed = {u"abcdeabcdeab"_qs, u"aceaceac"_qs, u"ačeače"_qs};
        for (int i = 0; i < 40; ++i) {
            patterns << inputs[i]->left(2 + i % 4) + u'*';
            typed << *inputs[i] << inputs[i]->left(3);
        }
        const QStringList wrong = wrongRows(*ix, reference, patterns) + wrongShownRows(*ix, reference, typed);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u"; "_qs)));
    }
};

QTEST_GUILESS_MAIN(TestLookupIndex)
#include "tst_lookupindex.moc"
