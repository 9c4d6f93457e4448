#include "db/query/Sql.h"

#include <QTest>

using namespace tarnvik;

// A parsed statement as "kind|fields|table|pattern|order field".
static QString shape(const Statement &s)
{
    return u"%1|%2|%3|%4|%5"_qs.arg(int(s.kind)).arg(s.fields.join(u','), s.table, s.pattern, s.orderField);
}

class TestSql : public QObject
{
    Q_OBJECT
private slots:
    void parses()
    {
        // Keywords in any case, names in brackets, a doubled apostrophe, a closing
        // semicolon. The count's alias and fields are read by the data control (tst_datacontrol).
        QString error;
        const auto s = parseStatement(u"SELECT [Český výraz],Anglicky FROM [Můj slovník] WHERE [Český výraz] LIKE 'it''s*' "
                                      u"ORDER BY [Český výraz];", &error);
        QCOMPARE(s ? shape(*s) : error, u"%1|Český výraz,Anglicky|Můj slovník|it's*|Český výraz"_qs.arg(int(Statement::Select)));

        // Other statements, a star, no order, equality; an unclosed quote, one
        // broken by an apostrophe, junk after the pattern, an unclosed bracket,
        // a keyword as a name.
        for (const char *sql : {"delete from T", "select * from T", "select a,b from T where a like 'x*'",
                                "select count(*) as n from T where a = 'x'",
                                "select count(*) as n from T where a like 'x*",
                                "select count(*) as n from T where a like 'it's*'",
                                "select count(*) as n from T where a like 'x*' or 1",
                                "select count(*) as n from [T where a like 'x*'",
                                "select count(*) as n from from where a like 'x*'"}) {
            QString error;
            QVERIFY2(!parseStatement(QString::fromUtf8(sql), &error) && !error.isEmpty(), sql);
        }

        // Typed text cannot break the pattern.
        for (const QString &typed : {QStringLiteral("it's"), QStringLiteral("''"), QStringLiteral("' or 'a'='a"),
                                    QStringLiteral("a*b"), QStringLiteral(" dům ")}) {
            QString error;
            const auto c = parseStatement(countStatement(u"Můj slovník", u"Cesky", typed), &error);
            QCOMPARE(c ? shape(*c) : error, u"0||Můj slovník|"_qs + typed + u"*|"_qs);
            const auto s = parseStatement(selectStatement(u"T", u"in", u"Order", typed), &error);
            QCOMPARE(s ? shape(*s) : error, u"1|in,Order|T|"_qs + typed + u"*|in"_qs);
        }
        // The plain statement shape stays exactly as the look-up always built it.
        QCOMPARE(countStatement(u"T", u"I", u"ab"), QStringLiteral("select count(*) as headcount from T where I like 'ab*'"));
        QCOMPARE(selectStatement(u"T", u"I", u"O", u"ab"), QStringLiteral("select I,O from T where I like 'ab*' order by I"));
    }
};

QTEST_GUILESS_MAIN(TestSql)
#include "tst_sql.moc"
