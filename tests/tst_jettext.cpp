// Text and long values as a Jet file stores them, decoded by the reader
// helper: hand-made bytes for what our writer never makes (odd bytes, lone
// surrogates, damaged chains), where a round trip cannot reach. Then the text
// shown for it by the field's character set.
#include "db/jet/Charset.h"
#include "db/read/helper/JetText.h"

#include <QStringDecoder>
#include <QRandomGenerator>
#include <QTest>
#include <map>
#include <vector>

using namespace tarnvik;
using namespace tarnvik::jettext;

namespace {

QString decode(const std::vector<uint8_t> &bytes)
{
    std::string out = "kept:";
    appendJet4Utf8(bytes.data(), bytes.size(), &out);
    if (out.rfind("kept:", 0) != 0)
        return u"<prefix lost>"_qs;
    // Keeping a leading U+FEFF: Qt's plain UTF-8 reading drops it as a byte
    // order mark, which would hide a marker read as text.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return utf8(QByteArrayView(out).sliced(5));
}

std::vector<uint8_t> utf16(const QString &s)
{
    std::vector<uint8_t> b;
    for (QChar c : s) {
        b.push_back(uint8_t(c.unicode()));
        b.push_back(uint8_t(c.unicode() >> 8));
    }
    return b;
}

// The low 'bytes' bytes of v at 'at', little-endian.
void put(std::vector<uint8_t> &b, size_t at, uint32_t v, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Jet 4 data pages holding rows, from the end of the page down.
struct FakeFile
{
    static constexpr size_t kPage = 4096, kRowCountAt = 0x0C;
    std::map<uint32_t, std::vector<uint8_t>> pages;

    void addRow(uint32_t page, const std::vector<uint8_t> &row)
    {
        auto &p = pages[page];
        if (p.empty()) {
            p.assign(kPage, 0);
            p[0] = 0x01;
            put(p, 4, 0x4C41564C); // "LVAL"
        }
        const unsigned rows = unsigned(p[kRowCountAt] | p[kRowCountAt + 1] << 8);
        const size_t end = rows == 0 ? kPage : size_t(p[kRowCountAt + 2 * rows] | p[kRowCountAt + 2 * rows + 1] << 8);
        const size_t start = end - row.size();
        std::copy(row.begin(), row.end(), p.begin() + long(start));
        put(p, kRowCountAt + 2 + 2 * rows, unsigned(start), 2);
        put(p, kRowCountAt, rows + 1, 2);
    }
    Pages source() const
    {
        return {kPage, kRowCountAt, [this](uint32_t n) -> const uint8_t * {
                    const auto it = pages.find(n);
                    return it == pages.end() ? nullptr : it->second.data();
                }};
    }
};

// A long value's field in the row: its header, then any text kept inline.
std::vector<uint8_t> memoHeader(uint32_t lengthAndFlags, uint32_t pointer, const std::string &text = {})
{
    std::vector<uint8_t> h(12, 0);
    put(h, 0, lengthAndFlags);
    put(h, 4, pointer);
    h.insert(h.end(), text.begin(), text.end());
    return h;
}

std::vector<uint8_t> bytesOf(const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); }

} // namespace

class TestJetText : public QObject
{
    Q_OBJECT
private slots:
    void jet4Text()
    {
        // Plain UTF-16LE, characters beyond the Basic Multilingual Plane whole.
        QCOMPARE(decode(utf16(u"smile \U0001F600 ok"_qs)), u"smile \U0001F600 ok"_qs);
        QCOMPARE(decode({}), QString());
        // Compressed: one byte a character, a zero byte switching to two and back
        // (the surrogates of U+1F601 have no zero low byte, so they may be inside).
        QCOMPARE(decode({0xFF, 0xFE, 'x', 0x00, 0x3D, 0xD8, 0x01, 0xDE, 0x00, 'y', 0xE9}), u"x\U0001F601yé"_qs);
        QCOMPARE(decode({0xFF, 0xFE}), QString());
        QCOMPARE(decode({0xFF, 0xFE, 0x00, 0x7E, 0x01}), u"ž"_qs); // may end in two-byte mode

        // Long random values, many zero bytes and surrogates among them, read as
        // the format says character by character. Damage (a lone high or low
        // surrogate, a high one at the end, a last odd byte) shows as U+FFFD,
        // never as a lost or invented character; U+0000 is a character like any other.
        QRandomGenerator rng(3);
        for (int sample = 0; sample < 300; ++sample) {
            const bool compressed = sample % 2 == 0;
            std::vector<uint8_t> bytes = compressed ? std::vector<uint8_t>{0xFF, 0xFE} : std::vector<uint8_t>{};
            for (int n = int(rng.bounded(12000)); n > 0; --n) {
                const quint32 kind = rng.bounded(10);
                bytes.push_back(kind == 0 ? 0
                                : kind == 1 ? uint8_t(0xD8 + rng.bounded(8))
                                : uint8_t(rng.bounded(kind < 6 ? 0x80 : 0x100)));
            }
            QString units;
            bool narrow = true;
            for (size_t i = compressed ? 2 : 0; i < bytes.size();) {
                if (compressed && bytes[i] == 0) {
                    narrow = !narrow;
                    ++i;
                } else if (compressed && narrow) {
                    units += QChar(bytes[i++]);
                } else {
                    units += i + 1 < bytes.size() ? QChar(char16_t(bytes[i] | bytes[i + 1] << 8)) : QChar(0xFFFD);
                    i += 2;
                }
            }
            for (qsizetype k = 0; k < units.size(); ++k) {
                if (units[k].isHighSurrogate() && k + 1 < units.size() && units[k + 1].isLowSurrogate())
                    ++k;
                else if (units[k].isSurrogate())
                    units[k] = QChar(0xFFFD);
            }
            std::string decoded;
            appendJet4Utf8(bytes.data(), bytes.size(), &decoded);
            QVERIFY2(decoded == units.toStdString(), qPrintable(QString::number(sample)));
        }

        // In slices (as a long memo is decoded), cut anywhere: the same text.
        const std::vector<std::vector<uint8_t>> samples = {
            {0xFF, 0xFE, 'x', 0x00, 0x3D, 0xD8, 0x01, 0xDE, 0x7E, 0x01, 0x00, 'y', 0xE9, 0x00, 0x3D},
            utf16(u"a😀bž"_qs + QChar(0xD83D)),
        };
        for (const auto &sample : samples) {
            std::string whole;
            appendJet4Utf8(sample.data(), sample.size(), &whole);
            const bool compressed = sample[0] == 0xFF && sample[1] == 0xFE;
            const size_t from = compressed ? 2 : 0;
            for (size_t cut = from; cut <= sample.size(); ++cut) {
                for (size_t cut2 = cut; cut2 <= sample.size(); ++cut2) {
                    std::string sliced;
                    Jet4Decoder decoder(compressed, &sliced);
                    decoder.feed(sample.data() + from, cut - from);
                    decoder.feed(sample.data() + cut, cut2 - cut);
                    decoder.feed(sample.data() + cut2, sample.size() - cut2);
                    decoder.finish();
                    QVERIFY2(sliced == whole, qPrintable(QStringLiteral("cut at %1 and %2").arg(cut).arg(cut2)));
                }
            }
        }
    }

    void longValues()
    {
        FakeFile file;
        const Pages pages = file.source();

        // Three pieces on three pages, the last row longer than what is left.
        auto piece = [](uint32_t next, const std::string &text) {
            std::vector<uint8_t> row(4);
            put(row, 0, next);
            row.insert(row.end(), text.begin(), text.end());
            return row;
        };
        file.addRow(7, bytesOf("other row"));
        file.addRow(7, bytesOf("on one page"));
        file.addRow(9, piece(10u << 8 | 1, "abc"));
        file.addRow(10, bytesOf("unrelated"));
        file.addRow(10, piece(11u << 8, "def"));
        file.addRow(11, piece(0, "ghi and padding"));
        file.addRow(12, piece(12u << 8, "loop"));
        file.pages[13] = file.pages[7];
        file.pages[13][0] = 0x02; // a table definition, no data page
        const auto chain = memoHeader(9, 9u << 8);
        // Read: in the row, after the header; on one long-value page; on a
        // chain; no chain at all for an empty value. Refused: longer than
        // allowed, a header cut short, longer than the row holds, a row that is
        // not there, a page that cannot be read, a chain that ends early or
        // comes back on itself (it would read for good).
        const struct { const char *what; std::vector<uint8_t> header; LongValue result;
                       std::string text = {}; size_t limit = 1 << 20; } cases[] = {
            {"in the row", memoHeader(0x80000000u | 5, 0, "hello world"), LongValue::Ok, "hello"},
            {"on one page", memoHeader(0x40000000u | 11, 7u << 8 | 1), LongValue::Ok, "on one page"},
            {"on a chain", chain, LongValue::Ok, "abcdefghi"},
            {"empty", memoHeader(0, 0), LongValue::Ok, ""},
            {"longer than allowed", chain, LongValue::TooLong, "", 8},
            {"header cut short", {chain.begin(), chain.end() - 1}, LongValue::Damaged},
            {"longer than the row holds", memoHeader(0x80000000u | 50, 0), LongValue::Damaged},
            {"longer than its row on the page", memoHeader(0x40000000u | 12, 7u << 8 | 1), LongValue::Damaged},
            {"no such row", memoHeader(0x40000000u | 3, 7u << 8 | 5), LongValue::Damaged},
            {"no such page", memoHeader(0x40000000u | 3, 99u << 8), LongValue::Damaged},
            {"chain ends early", memoHeader(30, 9u << 8), LongValue::Damaged},
            {"chain comes back on itself", memoHeader(1000, 12u << 8), LongValue::Damaged},
            {"not a data page", memoHeader(0x40000000u | 3, 13u << 8), LongValue::Damaged},
        };
        for (const auto &c : cases) {
            std::string out;
            QVERIFY2(readLongValue(c.header.data(), c.header.size(), pages, c.limit, &out) == c.result, c.what);
            QVERIFY2(c.result != LongValue::Ok || out == c.text, c.what);
        }

        // 16 bytes, the length, the value, 3 bytes more; a length beyond the
        // field is damage, not a value read past its end.
        std::vector<uint8_t> field(20, 0);
        put(field, 16, 4);
        field.insert(field.end(), {0xFF, 0xFE, 'a', 'b', 0, 0, 0});
        const uint8_t *value = nullptr;
        size_t length = 0;
        QVERIFY(unwrapCalculated(field.data(), field.size(), &value, &length));
        QCOMPARE(length, size_t(4));
        QCOMPARE(decode(std::vector<uint8_t>(value, value + length)), u"ab"_qs);
        put(field, 16, 8);
        QVERIFY(!unwrapCalculated(field.data(), field.size(), &value, &length));
        QVERIFY(!unwrapCalculated(field.data(), 19, &value, &length));
    }

    void charsets()
    {
        const QList<QPair<int, int>> expected = {{0, 1252},   {161, 1253}, {162, 1254}, {177, 1255}, {178, 1256},
                                                 {186, 1257}, {204, 1251}, {238, 1250}, {1, 1250},   {255, 1250}};
        for (const auto &[charset, codePage] : expected)
            QCOMPARE(codePageForCharset(charset), codePage);

        // "Москва" typed through a Cyrillic font on a 1250 system is stored as
        // the 1250 reading of its 1251 bytes. Real Unicode text has characters
        // outside 1250 and is shown as stored. 0xD2 is "Ň" in 1250 but has no
        // character in 1253: what is stored is kept.
        for (const auto &[stored, charset, shown] :
             {std::tuple(u"Ěîńęâŕ"_qs, 204, u"Москва"_qs), std::tuple(u"Ěîńęâŕ"_qs, 238, u"Ěîńęâŕ"_qs),
              std::tuple(u"žluťoučký"_qs, 238, u"žluťoučký"_qs), std::tuple(u"Москва"_qs, 204, u"Москва"_qs),
              std::tuple(u"house"_qs, 204, u"house"_qs), std::tuple(u"Ňa"_qs, 161, u"Ňa"_qs),
              std::tuple(u"áâ"_qs, 161, u"αβ"_qs), std::tuple(QString(), 204, QString())})
            QCOMPARE(displayTextJet4(stored, charset), shown);
        // Jet 3 bytes by the field's code page: tst_jetwriter, against mdb-export.

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
};

QTEST_GUILESS_MAIN(TestJetText)
#include "tst_jettext.moc"
