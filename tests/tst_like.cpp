#include "db/query/Like.h"

#include <QTest>

using namespace tarnvik;

class TestLike : public QObject
{
    Q_OBJECT
private slots:
    void wildcards_data();
    void wildcards();
    void caseFoldingIsFullAndAccentSensitive();
    void malformedPatternsAreErrors();
    void prefixOfPattern();
};

void TestLike::wildcards_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("match");
    QTest::newRow("prefix") << "dů*" << "dům" << true;
    QTest::newRow("prefix is not infix") << "ům*" << "dům" << false;
    QTest::newRow("star alone matches empty") << "*" << "" << true;
    QTest::newRow("exact") << "dům" << "dům" << true;
    QTest::newRow("exact too long") << "dům" << "domy" << false;
    QTest::newRow("one char") << "d?m*" << "dům" << true;
    QTest::newRow("one char needs a char") << "dům?" << "dům" << false;
    QTest::newRow("digit") << "a#b" << "a7b" << true;
    QTest::newRow("digit rejects letter") << "a#b" << "axb" << false;
    QTest::newRow("class") << "[bcd]ům" << "dům" << true;
    QTest::newRow("class miss") << "[bc]ům" << "dům" << false;
    QTest::newRow("range") << "[a-f]*" << "dům" << true;
    QTest::newRow("range folds case") << "[A-F]*" << "Dům" << true;
    QTest::newRow("negated") << "[!a-c]*" << "dům" << true;
    QTest::newRow("negated miss") << "[!d]*" << "dům" << false;
    QTest::newRow("bracketed star is literal") << "a[*]" << "a*" << true;
    QTest::newRow("bracketed star is not a wildcard") << "a[*]" << "ab" << false;
    QTest::newRow("inner star backtracks") << "a*b*c" << "aXbYbZc" << true;
    QTest::newRow("inner star fails") << "a*b*c" << "aXbYbZ" << false;
    QTest::newRow("trailing blank is significant") << "dům *" << "dům" << false;
    QTest::newRow("trailing blank matches") << "dům *" << "dům s" << true;
    QTest::newRow("apostrophe is data") << "rock'n*" << "Rock'n'roll" << true;
    QTest::newRow("astral char is one") << "?x" << QString::fromUcs4(U"\U0001F600x") << true;
}

void TestLike::wildcards()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, match);
    QString error;
    const auto p = LikePattern::compile(pattern, &error);
    QVERIFY2(p, qPrintable(error));
    QCOMPARE(p->matches(text), match);
}

void TestLike::caseFoldingIsFullAndAccentSensitive()
{
    QString error;
    // Czech and Cyrillic capitals fold to their small letters.
    QVERIFY(LikePattern::compile(u"ŘÍJEN*", &error)->matches(u"říjen"));
    QVERIFY(LikePattern::compile(u"москва", &error)->matches(u"МОСКВА"));
    QVERIFY(LikePattern::compile(u"Ёлка", &error)->matches(u"ёЛКА"));
    // Accents are letters of their own.
    QVERIFY(!LikePattern::compile(u"dum", &error)->matches(u"dům"));
    QVERIFY(!LikePattern::compile(u"cesta", &error)->matches(u"česta"));
    // Full folding: ß is ss.
    QVERIFY(LikePattern::compile(u"STRASSE", &error)->matches(u"straße"));
    QCOMPARE(foldCase(u"ŽLUŤOUČKÝ Kůň"), QStringLiteral("žluťoučký kůň"));
}

void TestLike::malformedPatternsAreErrors()
{
    QString error;
    QVERIFY(!LikePattern::compile(u"ab[cd", &error));
    QVERIFY(error.contains(u"["));
    QVERIFY(!LikePattern::compile(u"[z-a]", &error));
    QVERIFY(LikePattern::compile(u"a]b", &error)->matches(u"a]b"));
}

void TestLike::prefixOfPattern()
{
    QString error;
    auto p = LikePattern::compile(u"ChA*", &error);
    QCOMPARE(p->foldedPrefix(), QStringLiteral("cha"));
    QVERIFY(p->isPrefixPattern());
    p = LikePattern::compile(u"a?c*", &error);
    QCOMPARE(p->foldedPrefix(), QStringLiteral("a"));
    QVERIFY(!p->isPrefixPattern());
    p = LikePattern::compile(u"abc", &error);
    QVERIFY(!p->isPrefixPattern());
    p = LikePattern::compile(u"**", &error);
    QVERIFY(p->isPrefixPattern());
    QVERIFY(p->foldedPrefix().isEmpty());
}

QTEST_GUILESS_MAIN(TestLike)
#include "tst_like.moc"
