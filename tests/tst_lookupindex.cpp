#include "db/index/LookupIndex.h"

#include <QCollator>
#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <random>

using namespace tarnvik;

namespace {

std::shared_ptr<LookupIndex> makeIndex(const QList<std::optional<QString>> &inputs)
{
    LookupIndex::Builder b;
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
        out << m.index()->input(m.row(k)).toString() + u'/' + m.index()->output(m.row(k)).toString();
    return out;
}

Matches find(const LookupIndex &ix, const QString &pattern)
{
    QString error;
    auto p = LikePattern::compile(pattern, &error);
    if (!p)
        qFatal("bad pattern %s", qPrintable(error));
    return ix.find(*p);
}

} // namespace

class TestLookupIndex : public QObject
{
    Q_OBJECT
private slots:
    void czechOrderAndExactPrefixes();
    void nullsNeverMatch();
    void agreesWithCollatorOnRandomData();
    void waveletOrderStatistics();
};

void TestLookupIndex::czechOrderAndExactPrefixes()
{
    auto ix = makeIndex({u"hrad"_qs, u"chata"_qs, u"cesta"_qs, u"Cesta"_qs, u"čep"_qs, u"ctít"_qs, u"chata"_qs});
    // "ch" is a letter after "h"; rows equal under the collation keep table order.
    QCOMPARE(listed(find(*ix, u"*"_qs)),
             QStringList({"cesta/out2", "Cesta/out3", "ctít/out5", "čep/out4", "hrad/out0", "chata/out1",
                          "chata/out6"}));
    // Everything that begins with "c", though not one run in display order.
    QCOMPARE(listed(find(*ix, u"c*"_qs)),
             QStringList({"cesta/out2", "Cesta/out3", "ctít/out5", "chata/out1", "chata/out6"}));
    QCOMPARE(find(*ix, u"CH*"_qs).size(), size_t(2));
    QCOMPARE(find(*ix, u"č*"_qs).size(), size_t(1));
    QCOMPARE(find(*ix, u"x*"_qs).size(), size_t(0));
    QCOMPARE(listed(find(*ix, u"c?[st]*"_qs)), QStringList({"cesta/out2", "Cesta/out3"}));
    QCOMPARE(listed(find(*ix, u"chata"_qs)), QStringList({"chata/out1", "chata/out6"}));
}

void TestLookupIndex::nullsNeverMatch()
{
    LookupIndex::Builder b;
    const QString a = u"a"_qs, ab = u"ab"_qs;
    b.addRow(nullptr, &a);
    b.addRow(&ab, nullptr);
    b.addRow(&a, &ab);
    auto ix = b.build();
    const Matches m = find(*ix, u"*"_qs);
    QCOMPARE(m.size(), size_t(2));
    QCOMPARE(m.row(0), 2u);
    QCOMPARE(m.row(1), 1u);
    QVERIFY(ix->outputIsNull(1));
    QVERIFY(ix->inputIsNull(0));
    QVERIFY(ix->output(1).isEmpty());
}

void TestLookupIndex::agreesWithCollatorOnRandomData()
{
    // Words over letters where Czech collation and folding disagree with code order.
    const QStringList letters = {"a", "á", "A", "c", "č", "Č", "ch", "Ch", "h", "i", "í", "r", "ř", "Ř", "s", "z",
                                 "ž", " ", "'", "1", "ß"};
    QRandomGenerator rng(7);
    QList<std::optional<QString>> inputs;
    for (int i = 0; i < 3000; ++i) {
        if (rng.bounded(50) == 0) {
            inputs << std::nullopt;
            continue;
        }
        QString w;
        for (int n = 1 + int(rng.bounded(6)); n > 0; --n)
            w += letters[rng.bounded(letters.size())];
        inputs << w;
    }
    auto ix = makeIndex(inputs);
    QCollator collator(QLocale(QStringLiteral("cs_CZ")));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QStringList patterns = {"*", "c*", "ch*", "Č*", "a?*", "[!a]*", "*ř", "ss*", "'*", "1#*", "z"};
    for (int i = 0; i < 40; ++i)
        patterns << letters[rng.bounded(letters.size())] + letters[rng.bounded(letters.size())] + u'*';
    for (const QString &pattern : patterns) {
        QString error;
        const auto p = LikePattern::compile(pattern, &error);
        std::vector<uint32_t> expected;
        for (uint32_t r = 0; r < uint32_t(inputs.size()); ++r) {
            if (inputs[r] && p->matches(*inputs[r]))
                expected.push_back(r);
        }
        std::stable_sort(expected.begin(), expected.end(),
                         [&](uint32_t a, uint32_t b) { return collator.compare(*inputs[a], *inputs[b]) < 0; });
        const Matches m = ix->find(*p);
        std::vector<uint32_t> got;
        for (size_t k = 0; k < m.size(); ++k)
            got.push_back(m.row(k));
        QVERIFY2(got == expected, qPrintable(pattern));
    }
}

void TestLookupIndex::waveletOrderStatistics()
{
    QRandomGenerator rng(3);
    std::vector<uint32_t> perm(1000);
    for (uint32_t i = 0; i < perm.size(); ++i)
        perm[i] = i;
    std::shuffle(perm.begin(), perm.end(), std::mt19937(5));
    const WaveletMatrix m(perm, 10);
    for (int t = 0; t < 200; ++t) {
        const size_t lo = rng.bounded(1000), hi = lo + 1 + rng.bounded(int(1000 - lo));
        std::vector<uint32_t> part(perm.begin() + lo, perm.begin() + hi);
        std::sort(part.begin(), part.end());
        const size_t k = rng.bounded(int(part.size()));
        QCOMPARE(m.kthSmallest(lo, hi, k), part[k]);
        QCOMPARE(m.access(lo), perm[lo]);
    }
}

QTEST_GUILESS_MAIN(TestLookupIndex)
#include "tst_lookupindex.moc"
