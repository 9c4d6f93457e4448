#include "db/jet/Charset.h"

#include <QTest>

using namespace tarnvik;

class TestCharset : public QObject
{
    Q_OBJECT
private slots:
    void charsetNumbersPickCodePages();
    void jet4TextIsReadThroughTheFieldsCodePage();
    void jet3BytesAreDecodedPerField();
    void codePagesRoundTrip();
};

void TestCharset::charsetNumbersPickCodePages()
{
    const QList<QPair<int, int>> expected = {{0, 1252},   {161, 1253}, {162, 1254}, {177, 1255}, {178, 1256},
                                             {186, 1257}, {204, 1251}, {238, 1250}, {1, 1250},   {255, 1250}};
    for (const auto &[charset, codePage] : expected)
        QCOMPARE(codePageForCharset(charset), codePage);
}

void TestCharset::jet4TextIsReadThroughTheFieldsCodePage()
{
    // "Москва" typed through a Cyrillic font on a 1250 system is stored as
    // the 1250 reading of its 1251 bytes.
    const QString stored = QStringLiteral("Ěîńęâŕ");
    QCOMPARE(displayTextJet4(stored, 204), QStringLiteral("Москва"));
    QCOMPARE(displayTextJet4(stored, 238), stored);
    QCOMPARE(displayTextJet4(QStringLiteral("žluťoučký"), 238), QStringLiteral("žluťoučký"));
    // Real Unicode text has characters outside 1250 and is shown as stored.
    QCOMPARE(displayTextJet4(QStringLiteral("Москва"), 204), QStringLiteral("Москва"));
    QCOMPARE(displayTextJet4(QStringLiteral("house"), 204), QStringLiteral("house"));
    // 0xD2 is "Ň" in 1250 but has no character in 1253: keep what is stored.
    QCOMPARE(displayTextJet4(QStringLiteral("Ňa"), 161), QStringLiteral("Ňa"));
    QCOMPARE(displayTextJet4(QStringLiteral("áâ"), 161), QStringLiteral("αβ"));
    QCOMPARE(displayTextJet4(QString(), 204), QString());
}

void TestCharset::jet3BytesAreDecodedPerField()
{
    const QByteArray bytes("\xCC\xEE\xF1\xEA\xE2\xE0");
    QCOMPARE(displayTextJet3(bytes, 204), QStringLiteral("Москва"));
    QCOMPARE(displayTextJet3(bytes, 238), QStringLiteral("Ěîńęâŕ"));
    QCOMPARE(displayTextJet3(bytes, 0), QStringLiteral("Ìîñêâà"));
    QCOMPARE(displayTextJet3(QByteArray("\x9E\x9A"), 238), QStringLiteral("žš"));
}

void TestCharset::codePagesRoundTrip()
{
    for (int cp = 1250; cp <= 1257; ++cp) {
        const CodePage *page = CodePage::get(cp);
        QVERIFY2(page, qPrintable(QString::number(cp)));
        QByteArray all;
        for (int b = 1; b < 256; ++b) {
            if (page->isDefined(uint8_t(b)))
                all.append(char(b));
        }
        QByteArray back;
        QVERIFY(page->encode(page->decode(all), &back));
        QCOMPARE(back, all);
    }
    QByteArray out;
    QVERIFY(!CodePage::get(1250)->encode(u"Москва", &out));
    QVERIFY(!CodePage::get(1251)->canEncode(u"ř"));
    QVERIFY(!CodePage::get(437));
}

QTEST_GUILESS_MAIN(TestCharset)
#include "tst_charset.moc"
