#include "db/query/Like.h"
#include "util/RandomText.h"

#include <QTest>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

using namespace tarnvik;
using namespace testutil;

namespace {

// The plainest reading of a pattern: recursion over its code points and the
// folded text's, no tokens, no backtracking state.
bool naiveLike(const QList<uint> &p, qsizetype i, const QList<uint> &t, qsizetype j)
{
    if (i == p.size())
        return j == t.size();
    if (p[i] == '*')
        return naiveLike(p, i + 1, t, j) || (j < t.size() && naiveLike(p, i, t, j + 1));
    if (j == t.size())
        return false;
    const uint c = t[j];
    if (p[i] == '?')
        return naiveLike(p, i + 1, t, j + 1);
    if (p[i] == '#')
        return c >= '0' && c <= '9' && naiveLike(p, i + 1, t, j + 1);
    if (p[i] == '[') {
        qsizetype k = i + 1;
        const bool negated = k < p.size() && p[k] == '!';
        k += negated;
        bool in = false;
        for (; p[k] != ']'; ++k) {
            const uint lo = u_foldCase(UChar32(p[k]), U_FOLD_CASE_DEFAULT);
            uint hi = lo;
            if (p[k + 1] == '-' && p[k + 2] != ']') {
                hi = u_foldCase(UChar32(p[k + 2]), U_FOLD_CASE_DEFAULT);
                k += 2;
            }
            in = in || (c >= lo && c <= hi);
        }
        return in != negated && naiveLike(p, k + 1, t, j + 1);
    }
    return p[i] == c && naiveLike(p, i + 1, t, j + 1);
}

// Folds the literal runs of a pattern as the text is folded, leaving the
// wildcards and classes as they stand.
QList<uint> foldLiterals(const QString &pattern)
{
    QList<uint> out;
    QString run;
    auto flush = [&] {
        out << foldCase(run).toUcs4();
        run.clear();
    };
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'[') {
            flush();
            const qsizetype end = pattern.indexOf(u']', i + 1);
            out << pattern.mid(i, end - i + 1).toUcs4();
            i = end;
        } else if (c == u'*' || c == u'?' || c == u'#') {
            flush();
            out << c.unicode();
        } else {
            run += c;
        }
    }
    flush();
    return out;
}

// A pattern that may or may not match the text: letters of it kept, put in
// another case, replaced by other letters, by '?', '#', a class or a run.
QString patternFrom(const QStringList &text, const QStringList &letters, QRandomGenerator &rng)
{
    QString p;
    int stars = 0;
    for (const QString &c : text) {
        const QString other = letters[rng.bounded(letters.size())];
        switch (rng.bounded(14)) {
        case 0: p += u'?'; break;
        case 1: p += u'#'; break;
        case 2: p += u'[' + c + other + u']'; break;
        case 3: p += u"[!"_qs + other + u']'; break;
        case 4: p += u'[' + std::min(c, other) + u'-' + std::max(c, other) + u']'; break;
        case 5:
            if (stars++ < 3)
                p += u'*';
            break;
        case 6: p += other; break;
        case 7: p += c.toUpper(); break;
        default: p += c;
        }
    }
    if (rng.bounded(3) == 0)
        p += u'*';
    return p;
}

} // namespace

class TestLike : public QObject
{
    Q_OBJECT
private slots:
    void wildcardsAndFullCaseFolding()
    {
        QString error;
        // Beside the comparison with the naive matcher: a star in brackets, which
        // it never makes, is literal; a dash before the bracket too; '#' takes
        // every digit; a character beyond the BMP is taken by one '?'.
        for (const auto &[pattern, text, match] : {std::tuple(u"a[*]"_qs, u"a*"_qs, true), std::tuple(u"a[*]"_qs, u"ab"_qs, false),
                                                   std::tuple(u"[a-]"_qs, u"-"_qs, true), std::tuple(u"#0#"_qs, u"909"_qs, true),
                                                   std::tuple(u"?x"_qs, QString::fromUcs4(U"\U0001F600x"), true)}) {
            const auto p = LikePattern::compile(pattern, &error);
            QVERIFY2(p && p->matches(text) == match, qPrintable(pattern + u" ~ "_qs + text + u' ' + error));
        }
        QVERIFY(!LikePattern::compile(u"ab[cd", &error) && error.contains(u"["));
        QVERIFY(!LikePattern::compile(u"[z-a]", &error));
        QVERIFY(LikePattern::compile(u"a]b", &error)->matches(u"a]b"));
        // The index takes a prefix pattern's run whole; the patterns the look-up
        // makes are checked against a scan (tst_lookupindex), these it never makes.
        QVERIFY(!LikePattern::compile(u"abc", &error)->isPrefixPattern());
        QVERIFY(LikePattern::compile(u"**", &error)->isPrefixPattern());

        // Full folding, which the naive matcher shares: ß is ss.
        QVERIFY(LikePattern::compile(u"STRASSE", &error)->matches(u"straße"));
        // Every ASCII letter, as the only capital on either side (the fast path
        // for ASCII text must fold them all).
        for (char16_t c = u'a'; c <= u'z'; ++c) {
            const QString lower(QChar(c) + u"x"_qs), upper(QChar(c - 32) + u"x"_qs);
            QVERIFY2(LikePattern::compile(lower + u'*', &error)->matches(upper), qPrintable(upper));
            QVERIFY2(LikePattern::compile(upper + u'*', &error)->matches(lower), qPrintable(lower));
        }
        QCOMPARE(foldCase(u"ŽLUŤOUČKÝ Kůň ЁЛКА"), QStringLiteral("žluťoučký kůň ёлка"));
        // Each character beside a folded one, under both rules, as ICU folds it:
        // text that needs no folding skips ICU, which must never skip a change.
        for (char16_t c = 0x80; c != 0; ++c) {
            if (QChar::isSurrogate(c))
                continue;
            const QString word = QChar(c) + u"é"_qs;
            for (const CaseRule rule : {CaseRule::Default, CaseRule::Turkish}) {
                UChar out[8];
                UErrorCode status = U_ZERO_ERROR;
                const int32_t n = u_strFoldCase(out, 8, reinterpret_cast<const UChar *>(word.utf16()), 2,
                                                rule == CaseRule::Turkish ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : 0, &status);
                QCOMPARE(foldCase(word, rule), QString(reinterpret_cast<const QChar *>(out), n));
            }
        }

        // Turkish: I is the capital of ı and İ that of i; every other letter as
        // Unicode folds it (Qt's own folding, on Turkish words of both cases).
        QCOMPARE(foldCase(u"IRMAK İSTANBUL Iı İi", CaseRule::Turkish), u"ırmak istanbul ıı ii"_qs);
        QRandomGenerator rng(5);
        const QStringList letters = lettersOf(u"abcçdefgğhıiİjklmnoöprsştuüvyzIÇĞÖŞÜ"_qs);
        for (int n = 0; n < 2000; ++n) {
            QString word = randomWord(letters, rng);
            const QString naive = QString(word).replace(u'I', u'ı').replace(u'İ', u'i').toCaseFolded();
            QCOMPARE(foldCase(word, CaseRule::Turkish), naive);
        }
        QVERIFY(LikePattern::compile(u"[I]RMAK*", &error, CaseRule::Turkish)->matches(u"ırmak"));
        QVERIFY(!LikePattern::compile(u"IRMAK*", &error, CaseRule::Turkish)->matches(u"irmak"));
    }

    void agreesWithNaiveMatcherInEveryScript()
    {
        QRandomGenerator rng(11);
        QStringList failures;
        for (const Script &script : scripts()) {
            const QStringList letters = lettersOf(script.letters) << u"1"_qs << u"7"_qs << u" "_qs;
            int wrong = 0, matched = 0;
            QString first;
            for (int n = 0; n < 3000; ++n) {
                const QString text = randomWord(letters, rng);
                const QString pattern = patternFrom(lettersOf(text), letters, rng);
                QString error;
                const auto p = LikePattern::compile(pattern, &error);
                if (!p)
                    continue; // a range whose ends fold out of order
                const bool expected = naiveLike(foldLiterals(pattern), 0, foldCase(text).toUcs4(), 0);
                matched += expected;
                if (p->matches(text) != expected && wrong++ == 0)
                    first = pattern + u" ~ "_qs + text;
            }
            if (wrong)
                failures << QStringLiteral("%1: %2 wrong, first %3").arg(QLatin1String(script.name)).arg(wrong).arg(first);
            // The cases must not all be misses.
            QVERIFY2(matched > 300, script.name);
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u"; "_qs)));
    }

    void dropsMarksAsTheDecompositionSays()
    {
        // Every code point both Unicode tables know alike.
        QStringList wrong;
        for (char32_t c = 0; c < 0x110000; ++c) {
            if (QChar::isSurrogate(c) || QChar::category(c) == QChar::Other_NotAssigned
                || u_charType(UChar32(c)) == U_UNASSIGNED)
                continue;
            QString buffer;
            const QString one = QString::fromUcs4(&c, 1);
            if (dropMarks(one, buffer).toString() != naiveBare(c) && wrong.size() < 10)
                wrong << QString::number(uint(c), 16);
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u' ')));

        // Whole words in every script, folded first as the look-up folds them.
        QRandomGenerator rng(23);
        for (const Script &script : scripts()) {
            const QStringList letters = lettersOf(script.letters);
            for (int n = 0; n < 500; ++n) {
                const QString word = randomWord(letters, rng);
                QString expected;
                for (char32_t c : foldCase(word).toUcs4())
                    expected += naiveBare(c);
                QCOMPARE(bareText(word), expected);
            }
        }
        QCOMPARE(bareText(u"Kůň dům ÁLFA"_qs), u"kun dum alfa"_qs);
        QCOMPARE(bareText(u"Ἄλφα Việt İzmir Straße"_qs), u"αλφα viet izmir strasse"_qs);
        QCOMPARE(bareText(u"שָׁלוֹם"_qs), u"שלום"_qs);
        // Letters without a mark to drop are made plain as a reader takes them;
        // other scripts' letters stay.
        QCOMPARE(bareText(u"Łódź Øresund đảng Æsir Œuvre Þór ılık ǿ 한"_qs), u"lodz oresund dang aesir oeuvre thor ilik o 한"_qs);
    }
};

QTEST_GUILESS_MAIN(TestLike)
#include "tst_like.moc"
