#include "db/query/Sql.h"

#include <QTest>

using namespace tarnvik;

class TestSql : public QObject
{
    Q_OBJECT
private slots:
    void parsesAnySpelling()
    {
        // Keywords in any case, names in brackets, a doubled apostrophe, a closing
        // semicolon. The count's alias and fields are read by the data control (tst_datacontrol).
        QString error;
        const auto s = parseStatement(u"SELECT [Český výraz],Anglicky FROM [Můj slovník] WHERE [Český výraz] LIKE 'it''s*' "
                                      u"ORDER BY [Český výraz];",
                                      &error);
        QVERIFY2(s, qPrintable(error));
        QCOMPARE(s->kind, Statement::Select);
        QCOMPARE(s->fields, QStringList({"Český výraz", "Anglicky"}));
        QCOMPARE(s->table, QStringLiteral("Můj slovník"));
        QCOMPARE(s->pattern, QStringLiteral("it's*"));
        QCOMPARE(s->orderField, QStringLiteral("Český výraz"));
    }

    void refusesOtherSql_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("delete") << "delete from T";
        QTest::newRow("select star") << "select * from T";
        QTest::newRow("no order") << "select a,b from T where a like 'x*'";
        QTest::newRow("equality") << "select count(*) as n from T where a = 'x'";
        QTest::newRow("unclosed quote") << "select count(*) as n from T where a like 'x*";
        QTest::newRow("broken by apostrophe") << "select count(*) as n from T where a like 'it's*'";
        QTest::newRow("trailing junk") << "select count(*) as n from T where a like 'x*' or 1";
        QTest::newRow("unclosed bracket") << "select count(*) as n from [T where a like 'x*'";
        QTest::newRow("keyword as name") << "select count(*) as n from from where a like 'x*'";
    }

    void refusesOtherSql()
    {
        QFETCH(QString, sql);
        QString error;
        QVERIFY(!parseStatement(sql, &error));
        QVERIFY(!error.isEmpty());
    }

    void typedTextCannotBreakThePattern()
    {
        for (const QString &typed : {QStringLiteral("it's"), QStringLiteral("''"), QStringLiteral("' or 'a'='a"),
                                    QStringLiteral("a*b"), QStringLiteral(" dům ")}) {
            QString error;
            const auto c = parseStatement(countStatement(u"Můj slovník", u"Cesky", typed), &error);
            QVERIFY2(c, qPrintable(error));
            QCOMPARE(c->pattern, typed + u'*');
            QCOMPARE(c->table, QStringLiteral("Můj slovník"));
            const auto s = parseStatement(selectStatement(u"T", u"in", u"Order", typed), &error);
            QVERIFY2(s, qPrintable(error));
            QCOMPARE(s->pattern, typed + u'*');
            QCOMPARE(s->fields, QStringList({"in", "Order"}));
        }
        // The plain statement shape stays exactly as the look-up always built it.
        QCOMPARE(countStatement(u"T", u"I", u"ab"), QStringLiteral("select count(*) as headcount from T where I like 'ab*'"));
        QCOMPARE(selectStatement(u"T", u"I", u"O", u"ab"), QStringLiteral("select I,O from T where I like 'ab*' order by I"));
    }
};

QTEST_GUILESS_MAIN(TestSql)
#include "tst_sql.moc"
