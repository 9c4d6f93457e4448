// The helper's reading of Jet 4 text and long values, on any bytes: text
// comes out as valid UTF-8 whether decoded at once or in slices, nothing is
// read outside the row or the pages given (the sanitizers watch), a chain of
// long-value pages ends, and text our writer stores reads back as itself.
#include "FuzzUtil.h"
#include "db/read/helper/JetText.h"
#include "db/write/JetWriter.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace tarnvik;
using namespace tarnvik::jettext;

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool validUtf8(std::string_view s)
{
    for (size_t i = 0; i < s.size();) {
        const uint8_t c = uint8_t(s[i]);
        size_t n;
        char32_t v;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c < 0xE0) {
            n = 1, v = c & 0x1F;
        } else if (c >= 0xE0 && c < 0xF0) {
            n = 2, v = c & 0x0F;
        } else if (c >= 0xF0 && c < 0xF5) {
            n = 3, v = c & 0x07;
        } else {
            return false;
        }
        if (s.size() - i - 1 < n)
            return false;
        for (size_t k = 1; k <= n; ++k) {
            const uint8_t t = uint8_t(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            v = v << 6 | (t & 0x3F);
        }
        if ((n == 2 && v < 0x800) || (n == 3 && v < 0x10000) || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

std::string decoded(const uint8_t *p, size_t n)
{
    std::string out = "kept:";
    appendJet4Utf8(p, n, &out);
    FUZZ_ASSERT(out.rfind("kept:", 0) == 0);
    FUZZ_ASSERT(validUtf8(out));
    return out.substr(5);
}

// As the helper decodes a memo: the two marker bytes, then slices.
std::string decodedInSlices(const uint8_t *p, size_t n, size_t slice)
{
    std::string out;
    const bool compressed = n >= 2 && p[0] == 0xFF && p[1] == 0xFE;
    Jet4Decoder decoder(compressed, &out);
    for (size_t at = compressed ? 2 : 0; at < n; at += slice)
        decoder.feed(p + at, std::min(slice, n - at));
    decoder.finish();
    return out;
}

void text(const uint8_t *data, size_t size, size_t slice)
{
    const std::string whole = decoded(data, size);
    FUZZ_ASSERT(decodedInSlices(data, size, slice) == whole);
}

// A memo's 12-byte header and the pages it points into, all from the input.
void longValue(FuzzedDataProvider &in)
{
    static constexpr size_t kPageSizes[] = {16, 32, 64, 128, 2048, 4096};
    Pages pages;
    pages.pageSize = kPageSizes[in.ConsumeIntegralInRange<size_t>(0, std::size(kPageSizes) - 1)];
    pages.rowCountAt = in.ConsumeBool() ? 0x0C : 0x08;
    const size_t maxBytes = in.ConsumeIntegralInRange<size_t>(0, 1 << 16);
    const std::vector<uint8_t> field = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 40));
    const std::vector<uint8_t> file = in.ConsumeRemainingBytes<uint8_t>();
    const uint32_t pageCount = uint32_t(file.size() / pages.pageSize);
    // Each page read into memory of its own, freed at the next read: a page
    // used after it was let go, or read past its end, shows.
    std::unique_ptr<uint8_t[]> current;
    size_t reads = 0;
    pages.read = [&](uint32_t page) -> const uint8_t * {
        ++reads;
        current.reset();
        if (page == 0 || page >= pageCount)
            return nullptr;
        current.reset(new uint8_t[pages.pageSize]);
        std::memcpy(current.get(), file.data() + size_t(page) * pages.pageSize, pages.pageSize);
        return current.get();
    };
    std::string out = "kept:";
    // A field of its own size: a read past its end shows.
    std::unique_ptr<uint8_t[]> row(new uint8_t[field.size()]);
    std::copy(field.begin(), field.end(), row.get());
    const LongValue result = readLongValue(row.get(), field.size(), pages, maxBytes, &out);
    FUZZ_ASSERT(out.rfind("kept:", 0) == 0);
    // Every row of every page at most once: the chain ends.
    FUZZ_ASSERT(reads <= size_t(pageCount) * 256 + 1);
    if (field.size() >= 12) {
        const size_t length = (field[0] | field[1] << 8 | field[2] << 16 | size_t(field[3]) << 24) & 0x3FFFFFFF;
        FUZZ_ASSERT((result == LongValue::TooLong) == (length > maxBytes));
        if (result == LongValue::Ok)
            FUZZ_ASSERT(out.size() == 5 + length);
    } else {
        FUZZ_ASSERT(result == LongValue::Damaged);
    }
    if (result == LongValue::Ok)
        decoded(reinterpret_cast<const uint8_t *>(out.data()) + 5, out.size() - 5);

    const uint8_t *value = nullptr;
    size_t length = 0;
    if (unwrapCalculated(row.get(), field.size(), &value, &length)) {
        FUZZ_ASSERT(value >= row.get() && length <= field.size() && size_t(value - row.get()) <= field.size() - length);
        decoded(value, length);
    }
}

// Text our writer stores, read back.
void roundTrip(const uint8_t *data, size_t size, size_t slice)
{
    QString s(qsizetype(size / 2), Qt::Uninitialized);
    for (size_t i = 0; i + 1 < size; i += 2)
        s[qsizetype(i / 2)] = QChar(char16_t(data[i] | data[i + 1] << 8));
    if (!s.isValidUtf16())
        return;
    const std::optional<QByteArray> text = JetWriter::jet4Text(s);
    // Refused only where no stored form reads back: U+FEFF first, and a
    // character that cannot be compressed.
    const bool lowByteZero = std::any_of(s.begin(), s.end(), [](QChar c) { return (c.unicode() & 0xFF) == 0; });
    FUZZ_ASSERT(text.has_value() == !(s.startsWith(QChar(0xFEFF)) && lowByteZero));
    if (!text)
        return;
    const QByteArray &stored = *text;
    const auto *p = reinterpret_cast<const uint8_t *>(stored.constData());
    const std::string back = decoded(p, size_t(stored.size()));
    FUZZ_ASSERT(back == s.toStdString());
    FUZZ_ASSERT(decodedInSlices(p, size_t(stored.size()), slice) == back);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t slice = data[0] % 7 + 1;
    text(data + 1, size - 1, slice);
    roundTrip(data + 1, size - 1, slice);
    FuzzedDataProvider in(data + 1, size - 1);
    longValue(in);
    return 0;
}
