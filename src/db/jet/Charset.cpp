#include "Charset.h"

#include <QStringDecoder>
#include <map>
#include <memory>
#include <mutex>

namespace tarnvik {

int codePageForCharset(int charset)
{
    switch (charset) {
    case 0: return 1252;
    case 161: return 1253;
    case 162: return 1254;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 238: return 1250;
    default: return 1250;
    }
}

CodePage::CodePage(int number)
    : m_number(number)
{
    QStringDecoder decoder(QByteArray("windows-" + QByteArray::number(number)));
    for (int b = 0; b < 256; ++b) {
        const char byte = char(b);
        const QString s = decoder.decode(QByteArrayView(&byte, 1));
        decoder.resetState();
        // ICU fills the code page's holes with C1 controls; they are undefined.
        const char16_t u = s.size() == 1 ? s.at(0).unicode() : 0xFFFD;
        m_toUnicode[b] = (u >= 0x80 && u < 0xA0) ? 0xFFFD : u;
    }
    for (int b = 255; b >= 1; --b) {
        if (m_toUnicode[b] != 0xFFFD)
            m_fromUnicode[m_toUnicode[b]] = uint8_t(b);
    }
}

const CodePage *CodePage::get(int codePage)
{
    if (codePage < 1250 || codePage > 1258)
        return nullptr;
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<CodePage>> pages;
    std::lock_guard lock(mutex);
    auto &slot = pages[codePage];
    if (!slot) {
        std::unique_ptr<CodePage> page(new CodePage(codePage));
        // Without ICU, Qt knows no windows-125x codec: every byte would be undefined.
        if (page->m_toUnicode['A'] != u'A')
            return nullptr;
        slot = std::move(page);
    }
    return slot.get();
}

QString CodePage::decode(QByteArrayView bytes) const
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *p = out.data();
    for (char c : bytes)
        *p++ = QChar(m_toUnicode[uint8_t(c)]);
    return out;
}

bool CodePage::encode(QStringView text, QByteArray *out) const
{
    out->resize(text.size());
    char *p = out->data();
    for (QChar c : text) {
        const uint8_t b = m_fromUnicode[c.unicode()];
        if (b == 0 && c.unicode() != 0)
            return false;
        *p++ = char(b);
    }
    return true;
}

bool CodePage::canEncode(QStringView text) const
{
    for (QChar c : text) {
        if (m_fromUnicode[c.unicode()] == 0 && c.unicode() != 0)
            return false;
    }
    return true;
}

static bool isAscii(QStringView s)
{
    for (QChar c : s) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

QString displayTextJet4(const QString &stored, int charset)
{
    const int target = codePageForCharset(charset);
    if (target == kSystemCodePage || isAscii(stored))
        return stored;
    const CodePage *system = CodePage::get(kSystemCodePage);
    const CodePage *field = CodePage::get(target);
    if (!system || !field)
        return stored;
    QByteArray bytes;
    if (!system->encode(stored, &bytes))
        return stored;
    // A byte the field's code page leaves undefined would show as a box: keep the text.
    for (char b : bytes) {
        if (!field->isDefined(uint8_t(b)))
            return stored;
    }
    return field->decode(bytes);
}

QString displayTextJet3(QByteArrayView raw, int charset)
{
    const CodePage *field = CodePage::get(codePageForCharset(charset));
    if (!field)
        return QString::fromLatin1(raw);
    return field->decode(raw);
}

} // namespace tarnvik
