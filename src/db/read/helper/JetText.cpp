#include "JetText.h"

#include <algorithm>
#include <unordered_set>

namespace tarnvik::jettext {

namespace {

uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// Writes c at 'o' (at most four bytes) and moves 'o' past it.
void putUtf8(char32_t c, char *&o)
{
    if (c < 0x80) {
        *o++ = char(c);
    } else if (c < 0x800) {
        *o++ = char(0xC0 | (c >> 6));
        *o++ = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *o++ = char(0xE0 | (c >> 12));
        *o++ = char(0x80 | ((c >> 6) & 0x3F));
        *o++ = char(0x80 | (c & 0x3F));
    } else {
        *o++ = char(0xF0 | (c >> 18));
        *o++ = char(0x80 | ((c >> 12) & 0x3F));
        *o++ = char(0x80 | ((c >> 6) & 0x3F));
        *o++ = char(0x80 | (c & 0x3F));
    }
}

// A row of a data page (long values are rows of data pages, which say LVAL
// where others name their table).
bool rowOf(const uint8_t *page, const Pages &pages, unsigned row, const uint8_t **data, size_t *len)
{
    const size_t at = pages.rowCountAt;
    if (page[0] != 0x01 || at + 2 > pages.pageSize)
        return false;
    const unsigned rows = get16(page + at);
    const size_t table = at + 2 + 2 * size_t(rows);
    if (row >= rows || table > pages.pageSize)
        return false;
    const size_t start = get16(page + at + 2 + 2 * row) & 0x1FFF;
    const size_t end = row == 0 ? pages.pageSize : get16(page + at + 2 * row) & 0x1FFF;
    if (start < table || start > end || end > pages.pageSize)
        return false;
    *data = page + start;
    *len = end - start;
    return true;
}

} // namespace

void Jet4Decoder::unit(char16_t u, char *&o)
{
    const bool high = u >= 0xD800 && u <= 0xDBFF, low = u >= 0xDC00 && u <= 0xDFFF;
    if (m_high) {
        if (low) {
            putUtf8(0x10000 + ((char32_t(m_high) - 0xD800) << 10) + (u - 0xDC00), o);
            m_high = 0;
            return;
        }
        putUtf8(0xFFFD, o);
        m_high = 0;
    }
    if (high)
        m_high = u;
    else
        putUtf8(low ? 0xFFFD : u, o);
}

void Jet4Decoder::feed(const uint8_t *p, size_t n)
{
    // Straight into the string, first made long enough for the most a feed
    // writes: two bytes a byte (a compressed letter past ASCII; a UTF-16
    // unit takes at most one and a half), and for a half character from the
    // last feed a U+FFFD and a character.
    const size_t at = m_out->size();
    m_out->resize(at + 2 * n + 8);
    char *const begin = m_out->data();
    char *o = begin + at;
    size_t i = 0;
    while (i < n) {
        // With no half character waiting, whole characters go straight to
        // UTF-8 until one needs the step below.
        if (m_low < 0 && m_high == 0) {
            if (m_compressed && m_narrow) {
                for (; i < n && p[i] != 0; ++i)
                    putUtf8(p[i], o);
            } else {
                for (; i + 1 < n && !(m_compressed && p[i] == 0); i += 2) {
                    const char16_t u = char16_t(p[i] | p[i + 1] << 8);
                    if (u >= 0xD800 && u <= 0xDFFF)
                        break;
                    putUtf8(u, o);
                }
            }
            if (i == n)
                break;
        }
        const uint8_t b = p[i++];
        if (m_low >= 0) {
            unit(char16_t(m_low | b << 8), o);
            m_low = -1;
        } else if (m_compressed && b == 0) {
            m_narrow = !m_narrow;
        } else if (m_compressed && m_narrow) {
            unit(b, o);
        } else {
            m_low = b;
        }
    }
    m_out->resize(size_t(o - begin));
}

void Jet4Decoder::finish()
{
    char buffer[8];
    char *o = buffer;
    if (m_high)
        putUtf8(0xFFFD, o);
    if (m_low >= 0)
        putUtf8(0xFFFD, o);
    m_out->append(buffer, size_t(o - buffer));
    m_high = 0;
    m_low = -1;
}

void appendJet4Utf8(const uint8_t *p, size_t n, std::string *out)
{
    const bool compressed = n >= 2 && p[0] == 0xFF && p[1] == 0xFE;
    Jet4Decoder text(compressed, out);
    text.feed(p + (compressed ? 2 : 0), n - (compressed ? 2 : 0));
    text.finish();
}

LongValue readLongValue(const uint8_t *field, size_t size, const Pages &pages, size_t maxBytes, std::string *out)
{
    if (size < 12)
        return LongValue::Damaged;
    const uint32_t head = get32(field);
    const size_t len = head & 0x3FFFFFFFu;
    if (len > maxBytes)
        return LongValue::TooLong;
    uint32_t pointer = get32(field + 4); // page << 8 | row
    const uint8_t *data = nullptr;
    size_t n = 0;
    if (head & 0x80000000u) { // in the row, after the header
        if (len > size - 12)
            return LongValue::Damaged;
        out->append(reinterpret_cast<const char *>(field) + 12, len);
        return LongValue::Ok;
    }
    if (head & 0x40000000u) { // one row of a long-value page
        const uint8_t *page = pages.read(pointer >> 8);
        if (!page || !rowOf(page, pages, pointer & 0xFF, &data, &n) || n < len)
            return LongValue::Damaged;
        out->append(reinterpret_cast<const char *>(data), len);
        return LongValue::Ok;
    }
    // A chain of rows, each the pointer to the next and a piece. A chain that
    // ends early or comes back to a row it has passed is damaged.
    const size_t first = out->size();
    out->reserve(first + len);
    std::unordered_set<uint32_t> passed;
    while (out->size() - first < len) {
        if (pointer == 0 || !passed.insert(pointer).second)
            return LongValue::Damaged;
        const uint8_t *page = pages.read(pointer >> 8);
        if (!page || !rowOf(page, pages, pointer & 0xFF, &data, &n) || n < 4)
            return LongValue::Damaged;
        pointer = get32(data);
        out->append(reinterpret_cast<const char *>(data) + 4, std::min(n - 4, len - (out->size() - first)));
    }
    return LongValue::Ok;
}

bool unwrapCalculated(const uint8_t *field, size_t size, const uint8_t **value, size_t *length)
{
    constexpr size_t kLengthAt = 16, kValueAt = 20;
    if (size < kValueAt || get32(field + kLengthAt) > size - kValueAt)
        return false;
    *value = field + kValueAt;
    *length = get32(field + kLengthAt);
    return true;
}

} // namespace tarnvik::jettext
