// Text values as a Jet file stores them, turned into what the helper sends,
// without libmdb: libmdb's own conversion turns each half of a character
// beyond the Basic Multilingual Plane into '?', and empty text into Null.
// Plain C++ (no Qt, no libmdb), so that it is tested on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tarnvik::jettext {

// Jet 4 text (UTF-16LE, or "compressed Unicode" after the bytes FF FE) as
// UTF-8, appended to 'out'. A surrogate without its partner and a dangling
// last byte become U+FFFD.
void appendJet4Utf8(const uint8_t *data, size_t size, std::string *out);

// The same piece by piece, for a long memo decoded in slices.
class Jet4Decoder
{
public:
    // 'compressed': the value begins with FF FE, which are not fed.
    Jet4Decoder(bool compressed, std::string *out) : m_out(out), m_compressed(compressed) {}
    void feed(const uint8_t *data, size_t size);
    void finish();

private:
    void unit(char16_t u, char *&o);
    std::string *m_out;
    bool m_compressed;
    bool m_narrow = true; // compressed: one byte a character until a zero byte
    int m_low = -1;       // the first byte of a character, waiting for its second
    char16_t m_high = 0;  // a high surrogate, waiting for its low one
};

// The pages a long value may lie on.
struct Pages
{
    size_t pageSize = 4096;
    size_t rowCountAt = 0x0C; // offset of a data page's row count
    // The page, or null when it cannot be read (beyond the file, the header).
    // What it points to may change with the next call.
    std::function<const uint8_t *(uint32_t page)> read;
};

enum class LongValue { Ok, Damaged, TooLong };

// A memo field's bytes as stored, from its 12-byte header in the row: inline,
// on one long-value page, or on a chain of them. Longer than 'maxBytes' is
// TooLong, a pointer or length that does not fit the pages is Damaged.
LongValue readLongValue(const uint8_t *field, size_t size, const Pages &pages, size_t maxBytes, std::string *out);

// A calculated field's value (Access 2010 and later) out of the wrapper it is
// stored in: 16 bytes, the value's length (u32), the value, a few bytes more.
// False when the wrapper does not fit.
bool unwrapCalculated(const uint8_t *field, size_t size, const uint8_t **value, size_t *length);

} // namespace tarnvik::jettext
