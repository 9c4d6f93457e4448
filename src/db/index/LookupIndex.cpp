#include "LookupIndex.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <unicode/ucol.h>

namespace tarnvik {

Matches::Matches(std::vector<uint32_t> head, Matches rest) : Matches(std::move(rest))
{
    if (!head.empty())
        m_head = std::make_shared<const std::vector<uint32_t>>(std::move(head));
}

uint32_t Matches::row(size_t k) const
{
    if (k < headSize())
        return (*m_head)[k];
    k -= headSize();
    const LookupIndex &ix = *m_index;
    const uint32_t rank = m_list
        ? (*m_list)[k]
        : ix.keys(m_bare ? LookupIndex::Bare : LookupIndex::Folded).ranks.kthSmallest(m_lo, m_hi, k);
    // Ranks from a cache file are not checked one by one at load; a wrong one
    // must still not read outside the list.
    return ix.m_displayOrder[std::min<size_t>(rank, ix.m_displayOrder.size() - 1)];
}

// Czech, case-insensitive, accent-sensitive: the same ICU collator QCollator
// makes for cs_CZ with Qt::CaseInsensitive, used directly for its sort keys.
// Normalising, as QCollator's does: marks stored in another order (Hebrew
// points, decomposed Vietnamese) sort as the same letter.
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
        ucol_setAttribute(c, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        if (U_FAILURE(status))
            throw std::runtime_error("ICU collator cannot normalise");
    }
    Collator(const Collator &other)
    {
        UErrorCode status = U_ZERO_ERROR;
        c = ucol_clone(other.c, &status);
        if (U_FAILURE(status) || !c)
            throw std::runtime_error("ICU collator cannot be cloned");
    }
    Collator &operator=(const Collator &) = delete;
    ~Collator() { ucol_close(c); }
};

LookupIndex::Builder::Builder(CaseRule rule)
    : m_rule(rule), m_collator(new Collator)
{
}

LookupIndex::Builder::~Builder() = default;

void LookupIndex::Builder::reserve(size_t rows, size_t chars)
{
    m_in.reserve(rows);
    m_out.reserve(rows);
    m_fold.reserve(rows);
    m_marks.reserve(rows);
    m_text.reserve(chars);
}

void LookupIndex::Builder::reserveFor(uint64_t fileBytes)
{
    // A Jet row takes more than 16 bytes, a character at least one (compressed
    // text), and a folded or bare copy is seldom longer than its input; so
    // this is room for everything without a copy on growth. Pages never
    // written cost address space, not memory.
    try {
        reserve(size_t(fileBytes / 16), size_t(fileBytes * 3));
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

void LookupIndex::Builder::add(std::optional<QStringView> in, std::optional<QStringView> out)
{
    const Span inSpan = in ? append(*in) : Span{};
    m_in.push_back(inSpan);
    m_out.push_back(out ? append(*out) : Span{});
    if (!in) {
        m_fold.push_back(Span{});
        m_marks.push_back(false);
        return;
    }
    const QStringView folded = foldCase(*in, m_foldBuffer, m_rule);
    const Span foldSpan = folded.data() == in->data() ? inSpan : append(folded);
    m_fold.push_back(foldSpan);
    const QStringView bare = dropMarks(folded, m_bareBuffer);
    const bool marked = bare.data() != folded.data();
    m_marks.push_back(marked);
    m_marked = m_marked || marked;
}

namespace {

// The start of a sort key or of folded text as two numbers in the same order
// (the second fills what would be padding): most comparisons end there.
struct Keyed
{
    uint64_t prefix;
    uint32_t more;
    uint32_t row;
    bool operator<(const Keyed &o) const { return prefix != o.prefix ? prefix < o.prefix : more < o.more; }
    bool tiedWith(const Keyed &o) const { return prefix == o.prefix && more == o.more; }
};

// The first six UTF-16 units, whole: the numbers order exactly like the text
// as far as they reach, and only ties go on to the rest of it.
Keyed unitPrefix(std::u16string_view s, uint32_t row)
{
    auto unit = [&](size_t j) -> uint64_t { return j < s.size() ? s[j] : 0; };
    return {unit(0) << 48 | unit(1) << 32 | unit(2) << 16 | unit(3), uint32_t(unit(4) << 16 | unit(5)), row};
}

// The first twelve bytes of the collation key. Empty text comes first, before
// text the collator ignores altogether (NULs, controls), as QCollator has it:
// no key of other text starts with a zero byte.
Keyed keyPrefix(const UCollator *c, std::u16string_view s, uint32_t row)
{
    if (s.empty())
        return {0, 0, row};
    // The whole key is made either way; only its start is copied.
    uint8_t part[12] = {};
    ucol_getSortKey(c, reinterpret_cast<const UChar *>(s.data()), int32_t(s.size()), part, sizeof part);
    Keyed k{0, 0, row};
    for (int i = 0; i < 8; ++i)
        k.prefix = (k.prefix << 8) | part[i];
    for (int i = 8; i < 12; ++i)
        k.more = (k.more << 8) | part[i];
    return k;
}

// Sorts one bucket (elements alike in their top 16 bits): the other 80 bits
// by an LSD radix of bytes, skipping bytes all share, then each run of equal
// numbers by 'less'. Keeps 'spare' for the next bucket.
template <typename Less>
void sortBucket(Keyed *first, Keyed *last, std::vector<Keyed> &spare, Less less)
{
    const size_t n = size_t(last - first);
    if (n < 64) {
        std::sort(first, last, less);
        return;
    }
    if (spare.size() < n)
        spare.resize(n);
    Keyed *src = first, *dst = spare.data();
    for (int d = 0; d < 10; ++d) {
        auto digit = [d](const Keyed &k) {
            return unsigned(d < 4 ? k.more >> (8 * d) : k.prefix >> (8 * (d - 4))) & 0xFF;
        };
        size_t at[257] = {};
        for (size_t i = 0; i < n; ++i)
            ++at[digit(src[i]) + 1];
        if (std::find(at + 1, at + 257, n) != at + 257)
            continue; // all share this byte
        for (int v = 0; v < 256; ++v)
            at[v + 1] += at[v];
        for (size_t i = 0; i < n; ++i)
            dst[at[digit(src[i])]++] = src[i];
        std::swap(src, dst);
    }
    if (src != first)
        std::copy(src, src + n, first);
    for (Keyed *run = first; run != last;) {
        Keyed *end = run + 1;
        while (end != last && end->tiedWith(*run))
            ++end;
        if (end - run > 1)
            std::sort(run, end, less);
        run = end;
    }
}

// The order of the rows: their prefix numbers, then 'compare' (a three-way
// comparison of two rows), then the rows themselves.
template <typename Compare>
auto keyedLess(Compare &compare)
{
    return [&compare](const Keyed &a, const Keyed &b) {
        if (!a.tiedWith(b))
            return a < b;
        const int c = compare(a.row, b.row);
        return c != 0 ? c < 0 : a.row < b.row;
    };
}

// Sorts in that order. The top 16 bits are sorted by distributing in place
// (no second array), the rest within each bucket (sortBucket): several times
// faster than one sort of the whole.
template <typename Compare>
void sortKeyed(std::vector<Keyed> &keyed, Compare compare)
{
    const auto less = keyedLess(compare);
    constexpr int kShift = 48;
    constexpr size_t kBuckets = size_t(1) << 16;
    // Below this the buckets cost more than they save.
    if (keyed.size() < 2048) {
        std::sort(keyed.begin(), keyed.end(), less);
        return;
    }
    std::vector<size_t> start(kBuckets + 1, 0);
    for (const Keyed &k : keyed)
        ++start[size_t(k.prefix >> kShift) + 1];
    for (size_t b = 0; b < kBuckets; ++b)
        start[b + 1] += start[b];
    std::vector<size_t> next(start.begin(), start.end() - 1);
    for (size_t b = 0; b < kBuckets; ++b) {
        while (next[b] < start[b + 1]) {
            Keyed &k = keyed[next[b]];
            const size_t home = size_t(k.prefix >> kShift);
            if (home == b)
                ++next[b];
            else
                std::swap(k, keyed[next[home]++]);
        }
    }
    std::vector<Keyed> spare;
    for (size_t b = 0; b < kBuckets; ++b) {
        if (start[b + 1] - start[b] > 1)
            sortBucket(keyed.data() + start[b], keyed.data() + start[b + 1], spare, less);
    }
}

std::vector<uint32_t> rowsOf(const std::vector<Keyed> &keyed)
{
    std::vector<uint32_t> order(keyed.size());
    for (size_t i = 0; i < keyed.size(); ++i)
        order[i] = keyed[i].row;
    return order;
}

template <typename Compare>
std::vector<uint32_t> orderRows(std::vector<Keyed> &keyed, Compare compare)
{
    sortKeyed(keyed, compare);
    std::vector<uint32_t> order = rowsOf(keyed);
    std::vector<Keyed>().swap(keyed);
    return order;
}

// Calls work(from, to) on two threads, each for half of [0, n).
template <typename Work>
void inHalves(size_t n, Work work)
{
    std::thread other([&] { work(n / 2, n); });
    work(0, n / 2);
    other.join();
}

} // namespace

std::shared_ptr<LookupIndex> LookupIndex::Builder::build()
{
    std::shared_ptr<LookupIndex> index(new LookupIndex);
    LookupIndex &ix = *index;
    ix.m_rule = m_rule;
    const size_t n = m_in.size();
    std::vector<uint32_t> rows;
    rows.reserve(n);
    for (uint32_t r = 0; r < n; ++r) {
        if (!m_in[r].isNull())
            rows.push_back(r);
    }
    const char16_t *text = m_text.data();
    auto input = [&](uint32_t row) { return std::u16string_view(text + m_in[row].start, m_in[row].length); };
    // Only a source where some input has a mark to drop needs a bare order.
    const bool bare = m_marked;

    // Beside the display order, on a thread of its own from the start: the
    // binary order of each key, ties in table order, one after the other (so
    // that only one key's sort arrays exist at a time). A row with no mark to
    // drop has the same bare key as folded, so those are in bare order once
    // the folded order is made: only the others are sorted for the bare key,
    // and the two merged.
    std::vector<uint32_t> foldOrder, bareOrder;
    auto foldKey = [&](uint32_t row) { return std::u16string_view(text + m_fold[row].start, m_fold[row].length); };
    auto marked = [&](uint32_t r) { return bool(m_marks[r]); };
    // Bare keys are made again wherever they are needed: kept, they would
    // take a third as much memory as the text.
    auto bareKey = [&](uint32_t row, QString &buffer) {
        const std::u16string_view f = foldKey(row);
        if (!m_marks[row])
            return f;
        const QStringView b = dropMarks(QStringView(f.data(), qsizetype(f.size())), buffer);
        return std::u16string_view(reinterpret_cast<const char16_t *>(b.data()), size_t(b.size()));
    };
    auto compareKeys = [](std::u16string_view x, std::u16string_view y) {
        // Most ties are the same short word again: the prefix holds all of both.
        if (x.size() <= 6 && y.size() <= 6)
            return int(x.size()) - int(y.size());
        return x.compare(y);
    };
    auto byBare = [&](uint32_t a, uint32_t b) {
        const std::u16string_view x = foldKey(a), y = foldKey(b);
        return compareBare(QStringView(x.data(), qsizetype(x.size())), QStringView(y.data(), qsizetype(y.size())));
    };
    auto keyedBy = [&](auto key, auto take) {
        std::vector<Keyed> keyed;
        keyed.reserve(rows.size());
        for (uint32_t r : rows) {
            if (take(r))
                keyed.push_back(unitPrefix(key(r), r));
        }
        return keyed;
    };
    std::thread keySort([&] {
        auto all = [](uint32_t) { return true; };
        std::vector<Keyed> folded = keyedBy(foldKey, all);
        sortKeyed(folded, [&](uint32_t a, uint32_t b) { return compareKeys(foldKey(a), foldKey(b)); });
        foldOrder = rowsOf(folded);
        std::vector<Keyed>().swap(folded);
        if (!bare)
            return;
        std::vector<Keyed> changed =
            keyedBy([&, buffer = QString()](uint32_t r) mutable { return bareKey(r, buffer); }, marked);
        sortKeyed(changed, byBare);
        const auto less = keyedLess(byBare);
        bareOrder.reserve(foldOrder.size());
        size_t j = 0;
        for (const uint32_t row : foldOrder) {
            if (marked(row))
                continue;
            const Keyed k = unitPrefix(foldKey(row), row);
            for (; j < changed.size() && less(changed[j], k); ++j)
                bareOrder.push_back(changed[j].row);
            bareOrder.push_back(row);
        }
        for (; j < changed.size(); ++j)
            bareOrder.push_back(changed[j].row);
    });

    // Display order: the first twelve bytes of each collation key, made on both
    // cores (each with its own collator), decide most comparisons; the rest go
    // to the collator. No full keys are kept: they would take more memory than
    // the text.
    std::vector<Keyed> display(rows.size());
    std::unique_ptr<Collator> second(new Collator(*m_collator));
    inHalves(rows.size(), [&](size_t from, size_t to) {
        const UCollator *c = from == 0 ? m_collator->c : second->c;
        for (size_t i = from; i < to; ++i)
            display[i] = keyPrefix(c, input(rows[i]), rows[i]);
    });

    std::vector<uint32_t> displayOrder = orderRows(display, [&](uint32_t a, uint32_t b) {
        const std::u16string_view x = input(a), y = input(b);
        if (x == y) // most ties are the same word again
            return 0;
        return int(ucol_strcoll(m_collator->c, reinterpret_cast<const UChar *>(x.data()), int32_t(x.size()),
                                reinterpret_cast<const UChar *>(y.data()), int32_t(y.size())));
    });
    keySort.join();
    std::vector<uint32_t>().swap(rows);

    std::vector<uint32_t> rankOfRow(n, 0);
    for (uint32_t i = 0; i < displayOrder.size(); ++i)
        rankOfRow[displayOrder[i]] = i;
    int bits = 1;
    while (bits < 32 && (size_t(1) << bits) < displayOrder.size())
        ++bits;
    std::vector<bool>().swap(m_marks);
    auto makeKeys = [&](std::vector<uint32_t> &order, Keys &k) {
        std::vector<uint32_t> ranks(order.size());
        for (size_t i = 0; i < ranks.size(); ++i)
            ranks[i] = rankOfRow[order[i]];
        k.ranks = WaveletMatrix(std::move(ranks), bits);
        k.order = std::move(order);
    };
    std::thread bareRanks([&] {
        if (bare)
            makeKeys(bareOrder, ix.m_bare);
    });
    makeKeys(foldOrder, ix.m_folded);
    ix.m_folded.text = std::move(m_fold);
    bareRanks.join();
    ix.m_displayOrder = std::move(displayOrder);
    ix.m_text = std::move(m_text);
    ix.m_in = std::move(m_in);
    ix.m_out = std::move(m_out);
    return index;
}

std::u16string_view LookupIndex::keyText(const Keys &keys, uint32_t row, QString &buffer) const
{
    const Span s = m_folded.text[row];
    if (s.isNull())
        return std::u16string_view();
    const QStringView folded(m_text.data() + s.start, s.length);
    const QStringView key = &keys == &m_bare ? dropMarks(folded, buffer) : folded;
    return std::u16string_view(reinterpret_cast<const char16_t *>(key.data()), size_t(key.size()));
}

std::pair<size_t, size_t> LookupIndex::run(const Keys &keys, QStringView prefix) const
{
    const std::u16string_view p(reinterpret_cast<const char16_t *>(prefix.data()), size_t(prefix.size()));
    QString buffer;
    const auto lo = std::partition_point(keys.order.begin(), keys.order.end(),
                                         [&](uint32_t r) { return keyText(keys, r, buffer) < p; });
    const auto hi = std::partition_point(
        lo, keys.order.end(), [&](uint32_t r) { return keyText(keys, r, buffer).substr(0, p.size()) == p; });
    return {size_t(lo - keys.order.begin()), size_t(hi - keys.order.begin())};
}

Matches LookupIndex::findWhole(QStringView text, Key key) const
{
    QString folded, bare;
    QStringView k = foldCase(text, folded, m_rule);
    if (key == Bare)
        k = dropMarks(k, bare);
    Matches m;
    m.m_index = shared_from_this();
    m.m_bare = key == Bare;
    const Keys &keys = this->keys(key);
    const auto [lo, hi] = run(keys, k);
    // A key equal to the text sorts before every longer one it begins.
    QString buffer;
    const auto equal = std::partition_point(keys.order.begin() + lo, keys.order.begin() + hi, [&](uint32_t r) {
        return keyText(keys, r, buffer).size() == size_t(k.size());
    });
    m.m_lo = lo;
    m.m_hi = size_t(equal - keys.order.begin());
    return m;
}

Matches LookupIndex::find(const LikePattern &pattern, Key key) const
{
    Matches m;
    m.m_index = shared_from_this();
    m.m_bare = key == Bare;
    const Keys &k = keys(key);
    const auto [lo, hi] = run(k, pattern.foldedPrefix());
    if (pattern.isPrefixPattern()) {
        m.m_lo = lo;
        m.m_hi = hi;
        return m;
    }
    auto list = std::make_shared<std::vector<uint32_t>>();
    QString buffer;
    for (size_t i = lo; i < hi; ++i) {
        const std::u16string_view key = keyText(k, k.order[i], buffer);
        if (pattern.matchesFolded(QStringView(key.data(), qsizetype(key.size()))))
            list->push_back(k.ranks.access(i));
    }
    std::sort(list->begin(), list->end());
    m.m_list = std::move(list);
    return m;
}

size_t LookupIndex::memoryBytes() const
{
    return m_text.ownedBytes() + m_in.ownedBytes() + m_out.ownedBytes() + m_displayOrder.ownedBytes()
        + m_folded.memoryBytes() + m_bare.memoryBytes() + m_bufferBytes;
}

} // namespace tarnvik
