#include "LookupIndex.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <unicode/ucol.h>

namespace tarnvik {

uint32_t Matches::row(size_t k) const
{
    const LookupIndex &ix = *m_index;
    const uint32_t rank = m_list ? (*m_list)[k] : ix.m_ranks.kthSmallest(m_lo, m_hi, k);
    // Ranks from a cache file are not checked one by one at load; a wrong one
    // must still not read outside the list.
    return ix.m_displayOrder[std::min<size_t>(rank, ix.m_displayOrder.size() - 1)];
}

// Czech, case-insensitive, accent-sensitive: the same ICU collator QCollator
// makes for cs_CZ with Qt::CaseInsensitive, used directly for its sort keys.
struct LookupIndex::Builder::Collator
{
    UCollator *c = nullptr;
    Collator()
    {
        UErrorCode status = U_ZERO_ERROR;
        c = ucol_open("cs_CZ", &status);
        if (U_FAILURE(status) || !c)
            throw std::runtime_error("ICU collator for cs_CZ is not available");
        ucol_setStrength(c, UCOL_SECONDARY);
    }
    ~Collator() { ucol_close(c); }
};

LookupIndex::Builder::Builder()
    : m_collator(new Collator)
{
}

LookupIndex::Builder::~Builder() = default;

void LookupIndex::Builder::reserve(size_t rows, size_t chars)
{
    m_in.reserve(rows);
    m_out.reserve(rows);
    m_fold.reserve(rows);
    m_text.reserve(chars);
}

void LookupIndex::Builder::reserveFor(uint64_t fileBytes)
{
    // A Jet row takes more than 16 bytes, a character at least one (compressed
    // text), and a folded copy is no longer than its input; so this is room for
    // everything without a copy on growth. Pages never written cost address
    // space, not memory.
    try {
        reserve(size_t(fileBytes / 16), size_t(fileBytes * 2));
    } catch (const std::bad_alloc &) {
        reserve(size_t(fileBytes / 64), size_t(fileBytes / 4));
    }
}

LookupIndex::Span LookupIndex::Builder::append(QStringView s)
{
    std::vector<char16_t> &text = m_text;
    if (text.size() + size_t(s.size()) >= kNull)
        throw std::length_error("index text exceeds 4 G characters");
    Span span{uint32_t(text.size()), uint32_t(s.size())};
    text.insert(text.end(), reinterpret_cast<const char16_t *>(s.data()),
                reinterpret_cast<const char16_t *>(s.data()) + s.size());
    return span;
}

void LookupIndex::Builder::addRow(const QString *in, const QString *out)
{
    const Span inSpan = in ? append(*in) : Span{};
    m_in.push_back(inSpan);
    m_out.push_back(out ? append(*out) : Span{});
    if (!in) {
        m_fold.push_back(Span{});
        return;
    }
    const QString f = foldCase(*in);
    m_fold.push_back(f == *in ? inSpan : append(f));
}

namespace {

// The first eight bytes of a sort key or of folded text, as one number in the
// same order: most comparisons end there.
struct Keyed
{
    uint64_t prefix;
    uint32_t row;
};

uint64_t bytePrefix(const uint8_t *p, size_t n)
{
    uint64_t v = 0;
    for (size_t j = 0; j < 8; ++j)
        v = (v << 8) | (j < n ? p[j] : 0);
    return v;
}

uint64_t unitPrefix(const char16_t *p, size_t n)
{
    uint64_t v = 0;
    for (size_t j = 0; j < 4; ++j)
        v = (v << 16) | (j < n ? p[j] : 0);
    return v;
}

// The rows in the order of their prefix numbers, then of 'compare' (a
// three-way comparison of two rows), then of the rows themselves.
template <typename Prefix, typename Compare>
std::vector<uint32_t> orderRows(const std::vector<uint32_t> &rows, Prefix prefixOf, Compare compare)
{
    std::vector<Keyed> keyed(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        keyed[i] = {prefixOf(rows[i]), rows[i]};
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed &a, const Keyed &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        const int c = compare(a.row, b.row);
        return c != 0 ? c < 0 : a.row < b.row;
    });
    std::vector<uint32_t> order(keyed.size());
    for (size_t i = 0; i < keyed.size(); ++i)
        order[i] = keyed[i].row;
    return order;
}

} // namespace

std::shared_ptr<LookupIndex> LookupIndex::Builder::build()
{
    std::shared_ptr<LookupIndex> index(new LookupIndex);
    LookupIndex &ix = *index;
    const size_t n = m_in.size();
    std::vector<uint32_t> rows;
    rows.reserve(n);
    for (uint32_t r = 0; r < n; ++r) {
        if (!m_in[r].isNull())
            rows.push_back(r);
    }
    const char16_t *text = m_text.data();
    std::vector<uint32_t> foldOrder;

    // Folded order: binary order of the folded text, ties in table order.
    std::thread foldSort([this, &foldOrder, &rows, text] {
        auto view = [&](uint32_t row) {
            const Span s = m_fold[row];
            return std::u16string_view(text + s.start, s.length);
        };
        foldOrder = orderRows(
            rows, [&](uint32_t r) { return unitPrefix(view(r).data(), view(r).size()); },
            [&](uint32_t a, uint32_t b) { return view(a).compare(view(b)); });
    });

    // Display order: the collator's sort keys, made here rather than row by row
    // so that the read is not held up by them.
    struct KeyRef { uint32_t start, length; };
    std::vector<uint8_t> keys;
    std::vector<KeyRef> keyOf(n, KeyRef{0, 0});
    size_t inputChars = 0;
    for (uint32_t r : rows)
        inputChars += m_in[r].length;
    // As with the text: generous, so that the keys are never copied.
    keys.reserve(rows.size() * 8 + inputChars * 4);
    std::vector<uint8_t> buffer(256);
    for (uint32_t r : rows) {
        const Span s = m_in[r];
        const UChar *src = reinterpret_cast<const UChar *>(text + s.start);
        int32_t len = ucol_getSortKey(m_collator->c, src, int32_t(s.length), buffer.data(), int32_t(buffer.size()));
        if (size_t(len) > buffer.size()) {
            buffer.resize(size_t(len));
            len = ucol_getSortKey(m_collator->c, src, int32_t(s.length), buffer.data(), int32_t(buffer.size()));
        }
        if (keys.size() + size_t(len) >= kNull)
            throw std::length_error("sort keys exceed 4 GB");
        keyOf[r] = {uint32_t(keys.size()), uint32_t(len)};
        keys.insert(keys.end(), buffer.begin(), buffer.begin() + len);
    }
    std::vector<uint32_t> displayOrder = orderRows(
        rows, [&](uint32_t r) { return bytePrefix(keys.data() + keyOf[r].start, keyOf[r].length); },
        [&](uint32_t a, uint32_t b) {
            // Keys end in their only zero byte, so comparing up to the shorter
            // length decides unless the keys are equal.
            const KeyRef ka = keyOf[a], kb = keyOf[b];
            return std::memcmp(keys.data() + ka.start, keys.data() + kb.start, std::min(ka.length, kb.length));
        });
    std::vector<uint8_t>().swap(keys);
    std::vector<KeyRef>().swap(keyOf);

    foldSort.join();

    std::vector<uint32_t> rankOfRow(n, 0);
    for (uint32_t i = 0; i < displayOrder.size(); ++i)
        rankOfRow[displayOrder[i]] = i;
    std::vector<uint32_t> ranks(foldOrder.size());
    for (size_t i = 0; i < ranks.size(); ++i)
        ranks[i] = rankOfRow[foldOrder[i]];
    std::vector<uint32_t>().swap(rankOfRow);
    int bits = 1;
    while (bits < 32 && (size_t(1) << bits) < ranks.size())
        ++bits;
    ix.m_ranks = WaveletMatrix(std::move(ranks), bits);
    ix.m_displayOrder = std::move(displayOrder);
    ix.m_foldOrder = std::move(foldOrder);
    ix.m_text = std::move(m_text);
    ix.m_in = std::move(m_in);
    ix.m_out = std::move(m_out);
    ix.m_fold = std::move(m_fold);
    return index;
}

std::pair<size_t, size_t> LookupIndex::foldedRun(QStringView prefix) const
{
    const std::u16string_view p(reinterpret_cast<const char16_t *>(prefix.data()), size_t(prefix.size()));
    auto textOf = [this](uint32_t row) {
        const Span s = m_fold[row];
        return std::u16string_view(m_text.data() + s.start, s.length);
    };
    const auto lo = std::partition_point(m_foldOrder.begin(), m_foldOrder.end(),
                                         [&](uint32_t r) { return textOf(r) < p; });
    const auto hi = std::partition_point(lo, m_foldOrder.end(),
                                         [&](uint32_t r) { return textOf(r).substr(0, p.size()) == p; });
    return {size_t(lo - m_foldOrder.begin()), size_t(hi - m_foldOrder.begin())};
}

Matches LookupIndex::find(const LikePattern &pattern) const
{
    Matches m;
    m.m_index = shared_from_this();
    const auto [lo, hi] = foldedRun(pattern.foldedPrefix());
    if (pattern.isPrefixPattern()) {
        m.m_lo = lo;
        m.m_hi = hi;
        return m;
    }
    auto list = std::make_shared<std::vector<uint32_t>>();
    for (size_t i = lo; i < hi; ++i) {
        if (pattern.matchesFolded(folded(m_foldOrder[i])))
            list->push_back(m_ranks.access(i));
    }
    std::sort(list->begin(), list->end());
    m.m_list = std::move(list);
    return m;
}

size_t LookupIndex::memoryBytes() const
{
    return m_text.ownedBytes() + m_in.ownedBytes() + m_out.ownedBytes() + m_fold.ownedBytes()
        + m_displayOrder.ownedBytes() + m_foldOrder.ownedBytes() + m_ranks.memoryBytes();
}

} // namespace tarnvik
