// Text as the user sees it: font character-set numbers, single-byte code pages,
// and the rule that turns stored database text into displayed text.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

namespace tarnvik {

// Windows code page that a font character-set number draws with.
int codePageForCharset(int charset);

// A single-byte Windows code page (125x). Undefined bytes decode to U+FFFD.
class CodePage
{
public:
    // nullptr for a code page that is not single-byte or not known here.
    static const CodePage *get(int codePage);

    int number() const { return m_number; }
    QChar decodeByte(uint8_t b) const { return QChar(m_toUnicode[b]); }
    bool isDefined(uint8_t b) const { return m_toUnicode[b] != 0xFFFD; }
    QString decode(QByteArrayView bytes) const;
    // False when a character has no byte here; 'out' is then unspecified.
    bool encode(QStringView text, QByteArray *out) const;
    bool canEncode(QStringView text) const;

private:
    explicit CodePage(int number);
    int m_number;
    std::array<char16_t, 256> m_toUnicode{};
    std::array<uint8_t, 65536> m_fromUnicode{}; // 0 = none (except for U+0000)
};

// The code page under which the catalogue's databases were made.
constexpr int kSystemCodePage = 1250;

// Jet 4 text: shown as stored, unless every character exists in code page 1250;
// then its 1250 bytes are read in the field's code page (text typed through a
// font of another character set on a 1250 system was stored that way).
QString displayTextJet4(const QString &stored, int charset);

// Jet 3 text: raw bytes in the field's code page.
QString displayTextJet3(QByteArrayView raw, int charset);

} // namespace tarnvik
