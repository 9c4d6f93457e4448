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
    // Only an index loaded from a tampered cache file could go past the end.
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
    : m_index(new LookupIndex)
    , m_in(m_index->m_in)
    , m_out(m_index->m_out)
    , m_fold(m_index->m_fold)
    , m_collator(new Collator)
{
}

LookupIndex::Builder::~Builder() = default;

void LookupIndex::Builder::reserve(size_t rows, size_t chars)
{
    m_in.reserve(rows);
    m_out.reserve(rows);
    m_fold.reserve(rows);
    m_keyStart.reserve(rows + 1);
    m_index->m_text.reserve(chars);
}

LookupIndex::Span LookupIndex::Builder::append(QStringView s)
{
    std::vector<char16_t> &text = m_index->m_text;
    if (text.size() + size_t(s.size()) >= kNull)
        throw std::length_error("index text exceeds 4 G characters");
    Span span{uint32_t(text.size()), uint32_t(s.size())};
    text.insert(text.end(), reinterpret_cast<const char16_t *>(s.data()),
                reinterpret_cast<const char16_t *>(s.data()) + s.size());
    return span;
}

void LookupIndex::Builder::addRow(const QString *in, const QString *out)
{
    if (m_keyStart.empty())
        m_keyStart.push_back(0);
    const Span inSpan = in ? append(*in) : Span{};
    m_in.push_back(inSpan);
    m_out.push_back(out ? append(*out) : Span{});
    if (!in) {
        m_fold.push_back(Span{});
        m_keyStart.push_back(uint32_t(m_keys.size()));
        return;
    }
    const QString f = foldCase(*in);
    m_fold.push_back(f == *in ? inSpan : append(f));

    const UChar *src = reinterpret_cast<const UChar *>(in->utf16());
    size_t at = m_keys.size();
    size_t room = size_t(in->size()) * 3 + 16;
    for (;;) {
        m_keys.resize(at + room);
        const int32_t n = ucol_getSortKey(m_collator->c, src, int32_t(in->size()), m_keys.data() + at,
                                          int32_t(room));
        if (size_t(n) <= room) {
            m_keys.resize(at + size_t(n)); // includes the terminating zero
            break;
        }
        room = size_t(n);
    }
    if (m_keys.size() >= kNull)
        throw std::length_error("sort keys exceed 4 GB");
    m_keyStart.push_back(uint32_t(m_keys.size()));
}

std::shared_ptr<LookupIndex> LookupIndex::Builder::build()
{
    LookupIndex &ix = *m_index;
    const size_t n = m_in.size();
    std::vector<uint32_t> rows;
    rows.reserve(n);
    for (uint32_t r = 0; r < n; ++r) {
        if (!m_in[r].isNull())
            rows.push_back(r);
    }

    // The two orders are independent: sort them on two threads.
    ix.m_foldOrder = rows;
    std::thread foldSort([&ix] {
        const char16_t *text = ix.m_text.data();
        std::sort(ix.m_foldOrder.begin(), ix.m_foldOrder.end(), [&](uint32_t a, uint32_t b) {
            const Span sa = ix.m_fold[a], sb = ix.m_fold[b];
            const std::u16string_view va(text + sa.start, sa.length), vb(text + sb.start, sb.length);
            const int c = va.compare(vb);
            return c != 0 ? c < 0 : a < b;
        });
    });

    struct Keyed { uint64_t prefix; uint32_t row; };
    std::vector<Keyed> keyed(rows.size());
    const uint8_t *keys = m_keys.data();
    for (size_t i = 0; i < rows.size(); ++i) {
        const uint32_t r = rows[i];
        const uint32_t s = m_keyStart[r], len = m_keyStart[r + 1] - s;
        uint64_t p = 0;
        for (uint32_t j = 0; j < 8; ++j)
            p = (p << 8) | (j < len ? keys[s + j] : 0);
        keyed[i] = {p, r};
    }
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed &a, const Keyed &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        const uint32_t sa = m_keyStart[a.row], la = m_keyStart[a.row + 1] - sa;
        const uint32_t sb = m_keyStart[b.row], lb = m_keyStart[b.row + 1] - sb;
        if (la > 8 && lb > 8) {
            const int c = std::memcmp(keys + sa + 8, keys + sb + 8, std::min(la, lb) - 8);
            if (c != 0)
                return c < 0;
            if (la != lb)
                return la < lb;
        } else if (la != lb) {
            return la < lb; // keys end in a zero byte, so the shorter one sorts first
        }
        return a.row < b.row;
    });
    ix.m_displayOrder.resize(keyed.size());
    for (size_t i = 0; i < keyed.size(); ++i)
        ix.m_displayOrder[i] = keyed[i].row;
    std::vector<Keyed>().swap(keyed);
    std::vector<uint8_t>().swap(m_keys);
    std::vector<uint32_t>().swap(m_keyStart);

    foldSort.join();

    std::vector<uint32_t> rankOfRow(n, 0);
    for (uint32_t i = 0; i < ix.m_displayOrder.size(); ++i)
        rankOfRow[ix.m_displayOrder[i]] = i;
    std::vector<uint32_t> ranks(ix.m_foldOrder.size());
    for (size_t i = 0; i < ranks.size(); ++i)
        ranks[i] = rankOfRow[ix.m_foldOrder[i]];
    std::vector<uint32_t>().swap(rankOfRow);
    int bits = 1;
    while (bits < 32 && (size_t(1) << bits) < ranks.size())
        ++bits;
    ix.m_ranks = WaveletMatrix(std::move(ranks), bits);

    ix.m_text.shrink_to_fit();
    return std::shared_ptr<LookupIndex>(m_index.release());
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
    return m_text.capacity() * sizeof(char16_t)
        + (m_in.capacity() + m_out.capacity() + m_fold.capacity()) * sizeof(Span)
        + (m_displayOrder.capacity() + m_foldOrder.capacity()) * sizeof(uint32_t) + m_ranks.memoryBytes();
}

} // namespace tarnvik
