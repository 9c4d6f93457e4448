#include "LookupIndex.h"

#include "db/index/LeasedMapping.h"
#include "db/index/Collation.h"
#include "db/index/TwoThreads.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <malloc.h>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <sys/mman.h>
#include <unicode/ucol.h>
#include <unistd.h>

namespace tarnvik {

namespace {

// Text offsets are 32 bits: an Access file holds less than 2 GB, which is
// less than 3 GB of UTF-8.
constexpr size_t kMaxText = 0xFFFFFFFFu;

} // namespace

void appendUtf8(std::vector<char> &out, QStringView text)
{
    const char16_t *p = reinterpret_cast<const char16_t *>(text.data()), *end = p + text.size();
    // Through a buffer of its own: a byte at a time into the vector takes
    // several times as long.
    char buffer[3 * 256 + 1];
    while (p != end) {
        char *o = buffer;
        // A pair may take one unit past 'stop': four bytes for two units.
        const char16_t *stop = p + std::min<ptrdiff_t>(end - p, 255);
        while (p < stop) {
            char32_t c = *p++;
            if (c < 0x80) {
                *o++ = char(c);
            } else if (c < 0x800) {
                *o++ = char(0xC0 | c >> 6);
                *o++ = char(0x80 | (c & 0x3F));
            } else if (QChar::isHighSurrogate(c) && p != end && QChar::isLowSurrogate(*p)) {
                c = QChar::surrogateToUcs4(char16_t(c), *p++);
                *o++ = char(0xF0 | c >> 18);
                *o++ = char(0x80 | (c >> 12 & 0x3F));
                *o++ = char(0x80 | (c >> 6 & 0x3F));
                *o++ = char(0x80 | (c & 0x3F));
            } else {
                *o++ = char(0xE0 | c >> 12);
                *o++ = char(0x80 | (c >> 6 & 0x3F));
                *o++ = char(0x80 | (c & 0x3F));
            }
        }
        out.insert(out.end(), buffer, o);
    }
}

QStringView fromUtf8(std::string_view bytes, QString &buffer, bool *valid)
{
    // No UTF-8 byte makes more than one UTF-16 unit.
    buffer.resize(qsizetype(bytes.size()));
    char16_t *const begin = reinterpret_cast<char16_t *>(buffer.data());
    char16_t *out = begin;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data()), *end = p + bytes.size();
    auto follows = [&](size_t i) { return size_t(end - p) > i && (p[i] & 0xC0) == 0x80; };
    while (p != end) {
        const unsigned c = *p;
        if (c < 0x80) {
            *out++ = char16_t(c);
            ++p;
            continue;
        }
        if (c >= 0xC2 && c < 0xE0 && follows(1)) {
            *out++ = char16_t((c & 0x1F) << 6 | (p[1] & 0x3F));
            p += 2;
            continue;
        }
        if (c >= 0xE0 && c < 0xF0 && follows(1) && follows(2)) {
            const char16_t u = char16_t((c & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
            if (u >= 0x800) {
                if (valid && QChar::isSurrogate(u))
                    *valid = false;
                *out++ = u;
                p += 3;
                continue;
            }
        }
        if (c >= 0xF0 && c < 0xF5 && follows(1) && follows(2) && follows(3)) {
            const char32_t u = (c & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F);
            if (u >= 0x10000 && u <= 0x10FFFF) {
                *out++ = QChar::highSurrogate(u);
                *out++ = QChar::lowSurrogate(u);
                p += 4;
                continue;
            }
        }
        if (valid)
            *valid = false;
        *out++ = u'\uFFFD';
        ++p;
    }
    buffer.truncate(out - begin);
    return buffer;
}

bool isValidUtf8(std::string_view bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data()), *end = p + bytes.size();
    auto follows = [&](ptrdiff_t i) { return end - p > i && (p[i] & 0xC0) == 0x80; };
    while (p != end) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
        } else if (c >= 0xC2 && c < 0xE0 && follows(1)) {
            p += 2;
        } else if (c >= 0xE0 && c < 0xF0 && follows(1) && follows(2) && (c != 0xE0 || p[1] >= 0xA0)
                   && (c != 0xED || p[1] < 0xA0)) {
            p += 3;
        } else if (c >= 0xF0 && c < 0xF5 && follows(1) && follows(2) && follows(3) && (c != 0xF0 || p[1] >= 0x90)
                   && (c != 0xF4 || p[1] < 0x90)) {
            p += 4;
        } else {
            return false;
        }
    }
    return true;
}

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

struct LookupIndex::Builder::Collator : DisplayCollator
{
};

namespace {

std::u16string_view units(QStringView s)
{
    return std::u16string_view(reinterpret_cast<const char16_t *>(s.data()), size_t(s.size()));
}

// Twelve bytes as the two numbers of a key start.
KeyStart packed(const uint8_t *bytes, uint32_t row)
{
    KeyStart k{0, 0, row};
    for (int i = 0; i < 8; ++i)
        k.prefix = (k.prefix << 8) | bytes[i];
    for (int i = 8; i < 12; ++i)
        k.more = (k.more << 8) | bytes[i];
    return k;
}

// And back: a key start's twelve bytes, as a fence holds them.
void unpacked(const KeyStart &k, char *bytes)
{
    for (int i = 0; i < 8; ++i)
        bytes[i] = char(k.prefix >> (56 - 8 * i));
    for (int i = 8; i < 12; ++i)
        bytes[i] = char(k.more >> (88 - 8 * i));
}

// The first twelve bytes of the text with each UTF-16 unit written as UTF-8
// would write that code point, but ASCII one higher (no zero byte): bytes in
// that form order exactly like the units, and hold twice as many letters of
// most scripts as the units themselves, so fewer rows tie and go on to the
// rest of the text.
size_t unitBytes(std::u16string_view s, uint8_t (&bytes)[12 + 2], bool *whole = nullptr)
{
    size_t at = 0, j = 0;
    for (; j < s.size() && at < 12; ++j) {
        const char16_t u = s[j];
        if (u < 0x80) {
            bytes[at++] = uint8_t(u + 1);
        } else if (u < 0x800) {
            bytes[at++] = uint8_t(0xC0 | u >> 6);
            bytes[at++] = uint8_t(0x80 | (u & 0x3F));
        } else {
            bytes[at++] = uint8_t(0xE0 | u >> 12);
            bytes[at++] = uint8_t(0x80 | (u >> 6 & 0x3F));
            bytes[at++] = uint8_t(0x80 | (u & 0x3F));
        }
    }
    if (whole)
        *whole = j == s.size() && at <= 12;
    return std::min<size_t>(at, 12);
}

KeyStart unitPrefix(std::u16string_view s, uint32_t row)
{
    uint8_t bytes[12 + 2] = {};
    unitBytes(s, bytes);
    return packed(bytes, row);
}

// The same straight from the text's UTF-8, which is that form already but
// for ASCII and characters beyond the BMP; nothing for those beyond the BMP
// (and for bytes that are not UTF-8).
std::optional<KeyStart> utf8Prefix(std::string_view text, uint32_t row)
{
    uint8_t bytes[12 + 3] = {};
    const auto *p = reinterpret_cast<const uint8_t *>(text.data()), *end = p + text.size();
    auto follows = [&](ptrdiff_t i) { return end - p > i && (p[i] & 0xC0) == 0x80; };
    for (size_t at = 0; at < 12 && p != end;) {
        if (*p < 0x80) {
            bytes[at++] = uint8_t(*p++ + 1);
        } else if (*p >= 0xC2 && *p < 0xE0 && follows(1)) {
            bytes[at++] = *p++;
            bytes[at++] = *p++;
        } else if (*p >= 0xE0 && *p < 0xF0 && follows(1) && follows(2) && (*p > 0xE0 || p[1] >= 0xA0)) {
            bytes[at++] = *p++;
            bytes[at++] = *p++;
            bytes[at++] = *p++;
        } else {
            return std::nullopt;
        }
    }
    return packed(bytes, row);
}

} // namespace

// The collation keys are a dear part of a build; the thread that reads
// the rows spends much of the read waiting on the reader, so the keys are
// made on a thread of their own as the rows come in, a chunk of copied
// inputs at a time.
class LookupIndex::Builder::DisplayKeys
{
public:
    explicit DisplayKeys(const UCollator *c) { m_starts.emplace(c); }
    // Only while no row is added.
    void reserve(size_t rows) { m_keys.reserve(rows); }
    ~DisplayKeys()
    {
        stop();
    }
    void add(QStringView in, uint32_t row)
    {
        m_filling.text.append(units(in));
        m_filling.ends.push_back(uint32_t(m_filling.text.size()));
        m_filling.rows.push_back(row);
        if (m_filling.rows.size() == kChunkRows || size_t(m_filling.text.size()) > kChunkUnits)
            handOver();
    }
    // Every key, in the order added.
    std::vector<KeyStart> finish()
    {
        if (m_thread.joinable()) {
            handOver();
            stop();
            if (m_error)
                std::rethrow_exception(m_error);
        } else {
            make(m_filling);
        }
        // Its tables would add to the build's peak.
        m_starts.reset();
        return std::move(m_keys);
    }

private:
    static constexpr size_t kChunkRows = 8192, kChunkUnits = size_t(1) << 20, kQueued = 4;
    struct Chunk
    {
        std::u16string text;
        std::vector<uint32_t> ends, rows;
    };
    void make(const Chunk &chunk)
    {
        const char16_t *text = chunk.text.data();
        uint32_t from = 0;
        uint8_t bytes[12];
        for (size_t i = 0; i < chunk.rows.size(); ++i) {
            m_starts->make(std::u16string_view(text + from, chunk.ends[i] - from), bytes);
            m_keys.push_back(packed(bytes, chunk.rows[i]));
            from = chunk.ends[i];
        }
    }
    void handOver()
    {
        std::unique_lock lock(m_lock);
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        // Never far ahead of the thread: the copies would pile up.
        m_changed.wait(lock, [&] { return m_queue.size() < kQueued; });
        m_queue.push_back(std::move(m_filling));
        m_filling = Chunk();
        m_changed.notify_all();
    }
    void run()
    {
        std::unique_lock lock(m_lock);
        for (;;) {
            m_changed.wait(lock, [&] { return !m_queue.empty() || m_ending; });
            if (m_queue.empty())
                return;
            const Chunk chunk = std::move(m_queue.front());
            m_queue.pop_front();
            m_changed.notify_all();
            lock.unlock();
            try {
                if (!m_error)
                    make(chunk);
            } catch (...) {
                m_error = std::current_exception();
            }
            lock.lock();
        }
    }
    void stop()
    {
        if (!m_thread.joinable())
            return;
        {
            const std::lock_guard lock(m_lock);
            m_ending = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    std::optional<SortKeyStart> m_starts; // none once finished
    Chunk m_filling;
    std::vector<KeyStart> m_keys; // the thread's until it has ended
    std::exception_ptr m_error;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Chunk> m_queue;
    bool m_ending = false;
    std::thread m_thread;
};

LookupIndex::Builder::Builder(CaseRule rule)
    : m_rule(rule), m_collator(new Collator), m_display(new DisplayKeys(m_collator->c))
{
    // A build makes and frees arrays of many megabytes one after another.
    // Once one is freed, glibc would raise its threshold for mapping large
    // blocks and keep the next ones in the heap, where they stay resident
    // after they are freed: a fixed threshold hands each back when freed.
    static std::once_flag fixed;
    std::call_once(fixed, [] { mallopt(M_MMAP_THRESHOLD, 128 * 1024); });
}

LookupIndex::Builder::~Builder() = default;

namespace {

constexpr size_t kDigits = size_t(1) << 16;

// Moves each element to the run of its digit, in place: 'next[d]' is where
// the next of digit d goes, 'end[d]' where its run ends; only the runs of
// digits [from, to), which must hold exactly their own elements. Each
// element is carried round its cycle and written once where it goes.
template <typename Next, typename End, typename Digit>
void permute(KeyStart *first, Next &next, const End &end, size_t from, size_t to, Digit digit)
{
    for (size_t b = from; b < to; ++b) {
        while (next[b] < end[b]) {
            KeyStart k = first[next[b]];
            for (size_t home = digit(k); home != b; home = digit(k))
                std::swap(k, first[next[home]++]);
            first[next[b]++] = k;
        }
    }
}

// Sorts [first, last) by byte 'byte' (0 to 11) of the key start by
// distributing in place (no second array: beside the build's biggest array,
// it would add to its peak); returns where each value's run begins, and
// where the last ends.
std::array<size_t, 257> distribute(KeyStart *first, KeyStart *last, int byte)
{
    auto digit = [byte](const KeyStart &k) {
        return size_t(byte < 8 ? k.prefix >> (56 - 8 * byte) : k.more >> (88 - 8 * byte)) & 0xFF;
    };
    std::array<size_t, 257> start{};
    for (const KeyStart *k = first; k != last; ++k)
        ++start[digit(*k) + 1];
    for (size_t b = 0; b < 256; ++b)
        start[b + 1] += start[b];
    std::array<size_t, 256> next;
    std::copy_n(start.begin(), 256, next.begin());
    permute(first, next, start.data() + 1, 0, 256, digit);
    return start;
}

// Sorts elements alike in their first 'byte' bytes a byte at a time into 256
// runs (few enough that the writes stay in the cache), each run sorted alike
// by the next byte; a small run, or one alike in all twelve bytes, by 'less'.
template <typename Less>
void sortBucket(KeyStart *first, KeyStart *last, Less less, int byte)
{
    if (last - first < 64 || byte == 12) {
        std::sort(first, last, less);
        return;
    }
    const std::array<size_t, 257> start = distribute(first, last, byte);
    for (size_t b = 0; b < 256; ++b) {
        if (start[b + 1] - start[b] > 1)
            sortBucket(first + start[b], first + start[b + 1], less, byte + 1);
    }
}

// The order of the rows: their prefix numbers, then 'compare' (a three-way
// comparison of two rows), then the rows themselves.
template <typename Compare>
auto keyedLess(Compare &compare)
{
    return [&compare](const KeyStart &a, const KeyStart &b) {
        if (!a.tiedWith(b))
            return a < b;
        if (a.whole())
            return a.row < b.row;
        const int c = compare(a.row, b.row);
        return c != 0 ? c < 0 : a.row < b.row;
    };
}

// Sorts in that order, 'makeCompare(0)' and 'makeCompare(1)' each making the
// comparison one thread uses. The rows are first split in two at a value of
// their top 16 bits, one part for each thread; each part is distributed by
// those 16 bits at once (two bytes in one pass: a script whose letters share
// their first byte, as Cyrillic's do, would take a pass for that byte alone),
// then sorted a byte at a time (sortBucket): several times faster than one
// sort of the whole.
template <typename MakeCompare>
void sortKeyed(std::vector<KeyStart> &keyed, MakeCompare makeCompare)
{
    // Below this the buckets cost more than they save.
    if (keyed.size() < 2048) {
        auto compare = makeCompare(0);
        std::sort(keyed.begin(), keyed.end(), keyedLess(compare));
        return;
    }
    auto top16 = [](const KeyStart &k) { return size_t(k.prefix >> 48); };
    // The counts, then where each value's run ends and where the next of it
    // goes; 32 bits are enough for the rows of a table.
    std::vector<uint32_t> end(kDigits, 0), next(kDigits);
    for (const KeyStart &k : keyed)
        ++end[top16(k)];
    size_t split = 0;
    for (size_t below = 0; split < kDigits && below + end[split] <= keyed.size() / 2; ++split)
        below += end[split];
    for (size_t v = 0, at = 0; v < kDigits; ++v) {
        next[v] = uint32_t(at);
        at += end[v];
        end[v] = uint32_t(at);
    }
    KeyStart *const first = keyed.data();
    std::partition(first, first + keyed.size(), [&](const KeyStart &k) { return top16(k) < split; });
    // Each part's values [from, to) are its own: the two share the arrays.
    auto sortPart = [&](int part, size_t from, size_t to) {
        auto compare = makeCompare(part);
        const auto less = keyedLess(compare);
        permute(first, next, end, from, to, top16);
        for (size_t v = from; v < to; ++v) {
            const size_t begin = v == 0 ? 0 : end[v - 1];
            if (end[v] - begin > 1)
                sortBucket(first + begin, first + end[v], less, 2);
        }
    };
    onTwoThreads([&] { sortPart(0, 0, split); }, [&] { sortPart(1, split, kDigits); });
}

// Two UTF-8 texts in the order of their UTF-16 units, found from the bytes
// where that is the same; none where a character past the BMP meets one from
// U+E000 on or a lone surrogate at the first difference.
std::optional<int> compareAsUnits(std::string_view x, std::string_view y)
{
    const size_t n = std::min(x.size(), y.size());
    const size_t i = size_t(std::mismatch(x.begin(), x.begin() + n, y.begin()).first - x.begin());
    if (i == n)
        return x.size() < y.size() ? -1 : x.size() > y.size() ? 1 : 0;
    const unsigned a = uint8_t(x[i]), b = uint8_t(y[i]);
    // Leads that differ: a character past the BMP begins with a surrogate.
    if (std::max(a, b) >= 0xF0 && std::min(a, b) >= 0xED && (a & 0xC0) != 0x80)
        return std::nullopt;
    return a < b ? -1 : 1;
}

// Sorts (see sortKeyed), reads the rows off and lets the array go. The rows
// are first packed into the array's first quarter and the pages after it
// handed back, so the order is made beside a quarter of the array rather
// than all of it: the last sort of a build is its peak.
template <typename MakeCompare>
std::vector<uint32_t> orderRows(std::vector<KeyStart> &keyed, MakeCompare makeCompare)
{
    sortKeyed(keyed, makeCompare);
    const size_t n = keyed.size();
    auto *packed = reinterpret_cast<unsigned char *>(keyed.data());
    for (size_t i = 0; i < n; ++i) {
        const uint32_t row = keyed[i].row; // at or after where it goes: read first
        std::memcpy(packed + i * sizeof row, &row, sizeof row);
    }
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t from = (uintptr_t(packed) + n * sizeof(uint32_t) + page - 1) & ~(page - 1),
                    to = (uintptr_t(packed) + n * sizeof(KeyStart)) & ~(page - 1);
    if (from < to)
        madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
    std::vector<uint32_t> order(n);
    if (n)
        std::memcpy(order.data(), packed, n * sizeof(uint32_t));
    std::vector<KeyStart>().swap(keyed);
    return order;
}

} // namespace

std::optional<DenseStarts> DenseStarts::fromSample(const std::vector<bool> &seen)
{
    DenseStarts d;
    d.m_code.resize(size_t(1) << 16);
    unsigned below = 0; // seen units below the current one
    for (size_t u = 0; u < d.m_code.size(); ++u) {
        const bool in = u < seen.size() && seen[u];
        if (in && ++below > 126)
            return std::nullopt;
        d.m_code[u] = uint8_t(in ? 2 * below : 2 * below + 1);
    }
    return d;
}

KeyStart DenseStarts::start(std::u16string_view key, uint32_t row) const
{
    uint8_t bytes[12 + 3] = {};
    size_t at = 0;
    for (size_t i = 0; i < key.size() && at < 12; ++i) {
        const char16_t u = key[i];
        bytes[at++] = m_code[u];
        if (m_code[u] % 2) {
            bytes[at++] = uint8_t((u >> 14) + 1);
            bytes[at++] = uint8_t((u >> 7 & 0x7F) + 1);
            bytes[at++] = uint8_t((u & 0x7F) + 1);
        }
    }
    return packed(bytes, row);
}

void LookupIndex::Builder::reserve(size_t rows, size_t bytes)
{
    m_bounds.reserve(2 * rows + 1);
    m_nulls.reserve(rows / 32 + 1);
    m_display->reserve(rows);
    m_marks.reserve(rows);
    m_folds.reserve(rows);
    m_text.reserve(bytes);
}

void LookupIndex::Builder::reserveFor(uint64_t fileBytes)
{
    // A Jet row takes more than 16 bytes, and a character stored in one byte
    // (compressed) takes at most two in UTF-8, one stored in two at most
    // three; so this is room for everything without a copy on growth. Pages
    // never written cost address space, not memory.
    try {
        reserve(size_t(fileBytes / 16), size_t(fileBytes * 3 / 2));
    } catch (const std::bad_alloc &) {
        reserve(size_t(fileBytes / 64), size_t(fileBytes / 4));
    }
}

void LookupIndex::Builder::append(std::optional<std::string_view> utf8)
{
    const size_t field = m_bounds.size() - 1;
    if (field % 64 == 0)
        m_nulls.push_back(0);
    if (utf8)
        m_text.insert(m_text.end(), utf8->begin(), utf8->end());
    else
        m_nulls.back() |= uint64_t(1) << (field % 64);
    if (m_text.size() > kMaxText || field + 2 > kMaxText)
        throw std::length_error("index text exceeds 4 GiB");
    m_bounds.push_back(uint32_t(m_text.size()));
}

void LookupIndex::Builder::add(std::optional<QStringView> in, std::optional<QStringView> out)
{
    auto utf8 = [](std::optional<QStringView> s, std::vector<char> &buffer) -> std::optional<std::string_view> {
        if (!s)
            return std::nullopt;
        buffer.clear();
        appendUtf8(buffer, *s);
        return std::string_view(buffer.data(), buffer.size());
    };
    addUtf8(utf8(in, m_inUtf8), in.value_or(QStringView()), utf8(out, m_outUtf8));
}

void LookupIndex::Builder::addUtf8(std::optional<std::string_view> in, QStringView inText,
                                   std::optional<std::string_view> out)
{
    const uint32_t row = uint32_t(rowCount());
    append(in);
    append(out);
    if (!in) {
        m_marks.push_back(false);
        m_folds.push_back(false);
        return;
    }
    const QStringView folded = foldCase(inText, m_foldBuffer, m_rule);
    m_folds.push_back(folded.data() != inText.data());
    m_display->add(inText, row);
    const bool marked = dropsMarks(folded);
    m_marks.push_back(marked);
    m_marked = m_marked || marked;
}

std::shared_ptr<LookupIndex> LookupIndex::Builder::build()
{
    std::shared_ptr<LookupIndex> index(new LookupIndex);
    LookupIndex &ix = *index;
    ix.m_rule = m_rule;
    const size_t n = rowCount();
    ix.m_text = std::move(m_text);
    ix.m_bounds = std::move(m_bounds);
    ix.m_nulls = std::move(m_nulls);
    // Only a source where some input has a mark to drop needs a bare order.
    const bool bare = m_marked;

    // One order after the other, each sorted on both cores, each array let go
    // as soon as it is read off: the build's peak is what one sort needs
    // beside the text. Keys are made again wherever they are needed.

    // Display order: the first twelve bytes of each collation key decide most
    // comparisons; the rest go to the collator, one for each thread. No full
    // keys are kept: they would take more memory than the text.
    std::vector<KeyStart> display = m_display->finish();
    const Collator second(*m_collator);
    std::vector<uint32_t> displayOrder = orderRows(display, [&](int part) {
        const UCollator *c = part == 0 ? m_collator->c : second.c;
        return [&ix, c, x = QString(), y = QString()](uint32_t a, uint32_t b) mutable {
            const std::string_view p = ix.field(2 * size_t(a)), q = ix.field(2 * size_t(b));
            if (p == q) // most ties are the same word again
                return 0;
            const QStringView s = fromUtf8(p, x), t = fromUtf8(q, y);
            return int(ucol_strcoll(c, reinterpret_cast<const UChar *>(s.data()), int32_t(s.size()),
                                    reinterpret_cast<const UChar *>(t.data()), int32_t(t.size())));
        };
    });

    // The starts of each non-Null row's folded or bare key, in row order, each
    // half of the rows on a thread of its own; made straight from the stored
    // text where the input is its own folded key.
    auto marked = [&](uint32_t r) { return bool(m_marks[r]); };
    const uint32_t half = uint32_t(n / 2);
    size_t halfAt = 0;
    for (uint32_t r = 0; r < half; ++r)
        halfAt += !ix.inputIsNull(r);
    // The first units of a row's key, decoded from the stored text where the
    // input is its own folded key, or drops only marks for its bare one.
    auto keyUnits = [&](uint32_t r, bool bareKeys, KeyBuffers &x, char16_t (&units)[12]) {
        const std::string_view input = ix.field(2 * size_t(r));
        const bool dropping = bareKeys && marked(r);
        std::optional<size_t> made;
        if (!m_folds[r])
            made = dropping ? bareUnitsOfUtf8(input, units, std::size(units)) : unitsOfUtf8(input, units, std::size(units));
        if (made)
            return std::u16string_view(units, *made);
        const std::u16string_view key = ix.key(r, dropping, x);
        return key.substr(0, std::size(units));
    };
    // The plain start, copied from the stored bytes where the input is its
    // own key.
    auto startOf = [&](uint32_t r, bool bareKeys, KeyBuffers &x) {
        if (!m_folds[r] && !(bareKeys && marked(r))) {
            if (const std::optional<KeyStart> made = utf8Prefix(ix.field(2 * size_t(r)), r))
                return *made;
        }
        char16_t units[12];
        return unitPrefix(keyUnits(r, bareKeys, x, units), r);
    };
    // Dense starts where most units take two bytes or more in the plain form
    // (where they take one, they gain too little for their making).
    auto denseStarts = [&](bool bareKeys) -> std::optional<DenseStarts> {
        std::vector<bool> seen(size_t(1) << 16);
        KeyBuffers x;
        char16_t units[12];
        size_t all = 0, wide = 0;
        const uint32_t step = uint32_t(std::max<size_t>(1, n / 4096));
        for (uint32_t r = 0; r < n; r += step) {
            if (!ix.inputIsNull(r)) {
                for (const char16_t u : keyUnits(r, bareKeys, x, units)) {
                    seen[u] = true;
                    ++all;
                    wide += u >= 0x80;
                }
            }
        }
        if (2 * wide <= all)
            return std::nullopt;
        return DenseStarts::fromSample(seen);
    };
    auto makeStarts = [&](bool bareKeys) {
        std::vector<KeyStart> starts(displayOrder.size());
        const std::optional<DenseStarts> dense = denseStarts(bareKeys);
        auto make = [&](uint32_t first, uint32_t end, size_t at) {
            KeyBuffers x;
            char16_t units[12];
            for (uint32_t r = first; r < end; ++r) {
                if (ix.inputIsNull(r))
                    continue;
                if (dense)
                    starts[at++] = dense->start(keyUnits(r, bareKeys, x, units), r);
                else
                    starts[at++] = startOf(r, bareKeys, x);
            }
        };
        onTwoThreads([&] { make(0, half, 0); }, [&] { make(half, uint32_t(n), halfAt); });
        return starts;
    };
    // Rows whose inputs are their own keys are compared as they are stored,
    // where that orders them as their UTF-16 units would; the few rows still
    // tied go on to their whole keys.
    auto storedOrder = [&](uint32_t a, uint32_t b, bool bareKeys) -> std::optional<int> {
        if (m_folds[a] || m_folds[b] || (bareKeys && (marked(a) || marked(b))))
            return std::nullopt;
        return compareAsUnits(ix.field(2 * size_t(a)), ix.field(2 * size_t(b)));
    };

    // The binary order of the folded key, ties in table order.
    std::vector<KeyStart> folded = makeStarts(false);
    std::vector<uint32_t> foldOrder = orderRows(folded, [&](int) {
        return [&, x = KeyBuffers(), y = KeyBuffers()](uint32_t a, uint32_t b) mutable {
            if (const std::optional<int> c = storedOrder(a, b, false))
                return *c;
            return ix.key(a, false, x).compare(ix.key(b, false, y));
        };
    });

    // The bare key's order.
    std::vector<uint32_t> bareOrder;
    if (bare) {
        std::vector<KeyStart> starts = makeStarts(true);
        bareOrder = orderRows(starts, [&](int) {
            return [&, x = KeyBuffers(), y = KeyBuffers()](uint32_t a, uint32_t b) mutable {
                if (const std::optional<int> c = storedOrder(a, b, true))
                    return *c;
                return compareBare(QStringView(ix.key(a, false, x)), QStringView(ix.key(b, false, y)));
            };
        });
    }

    int bits = 1;
    while (bits < 32 && (size_t(1) << bits) < displayOrder.size())
        ++bits;
    // One matrix after the other, each built on both cores, with only its own
    // ranks beside it: the inverse of the display order is made again for
    // the second rather than the second's ranks kept meanwhile.
    auto makeKeys = [&](std::vector<uint32_t> &order, bool bareKeys, Keys &k) {
        std::vector<uint32_t> rankOfRow(n, 0), ranks(order.size());
        // Each half on a core of its own: one random access per row.
        auto inHalves = [](size_t size, auto part) {
            onTwoThreads([&] { part(0, size / 2); }, [&] { part(size / 2, size); });
        };
        inHalves(displayOrder.size(), [&](size_t from, size_t to) {
            for (size_t i = from; i < to; ++i)
                rankOfRow[displayOrder[i]] = uint32_t(i);
        });
        inHalves(ranks.size(), [&](size_t from, size_t to) {
            for (size_t i = from; i < to; ++i)
                ranks[i] = rankOfRow[order[i]];
        });
        std::vector<uint32_t>().swap(rankOfRow);
        k.ranks = WaveletMatrix(std::move(ranks), bits);
        // The fences last: beside a sort they would add to the build's peak.
        const size_t fenceCount = Keys::fenceCount(order.size());
        std::vector<char> fences(fenceCount * Keys::kFenceBytes);
        inHalves(fenceCount, [&](size_t from, size_t to) {
            KeyBuffers x;
            for (size_t f = from; f < to; ++f)
                unpacked(startOf(order[f * Keys::kFenceStep], bareKeys, x), fences.data() + f * Keys::kFenceBytes);
        });
        k.fences = std::move(fences);
        k.order = std::move(order);
    };
    makeKeys(foldOrder, false, ix.m_folded);
    if (bare)
        makeKeys(bareOrder, true, ix.m_bare);
    std::vector<bool>().swap(m_marks);
    std::vector<bool>().swap(m_folds);
    ix.m_displayOrder = std::move(displayOrder);
    return index;
}

std::string_view LookupIndex::field(size_t i) const
{
    if (i + 1 >= m_bounds.size())
        return {};
    const size_t size = m_text.size();
    const size_t from = std::min<size_t>(m_bounds[i], size);
    const size_t to = std::min<size_t>(std::max<size_t>(m_bounds[i + 1], from), size);
    return std::string_view(m_text.data() + from, to - from);
}

std::string_view LookupIndex::field(size_t i, std::string &spare, size_t limit) const
{
    const std::string_view bytes = field(i).substr(0, limit);
    if (!m_mapping || bytes.empty())
        return bytes;
    spare.resize(bytes.size());
    m_mapping->read(size_t(bytes.data() - static_cast<const char *>(m_mapping->data())), bytes.size(), spare.data());
    return spare;
}

QString LookupIndex::text(size_t i, qsizetype units) const
{
    // A unit takes at most three bytes; one more character may be cut.
    std::string spare;
    QString text;
    fromUtf8(field(i, spare, units >= 0 ? 3 * size_t(units) + 3 : SIZE_MAX), text);
    return text;
}

std::u16string_view LookupIndex::key(uint32_t row, bool bare, KeyBuffers &b) const
{
    const QStringView folded = foldCase(fromUtf8(field(2 * size_t(row), b.read), b.text), b.fold, m_rule);
    return units(bare ? dropMarks(folded, b.bare) : folded);
}

std::u16string_view LookupIndex::keyText(const Keys &keys, uint32_t row, KeyBuffers &buffers) const
{
    return key(row, &keys == &m_bare, buffers);
}

namespace {

// A search of one key order narrowed by its fences before any text is read,
// so that it touches few pages. A fence's bytes and those of the typed key
// order as the keys do, and the fence of a key that begins with the typed
// one begins with the typed key's first bytes.
class FencedSearch
{
public:
    using Keys = LookupIndex::Keys;
    FencedSearch(const Keys &keys, std::u16string_view typed)
        : m_keys(keys), m_count(keys.fences.size() / Keys::kFenceBytes), m_n(keys.order.size())
    {
        m_size = unitBytes(typed, m_bytes, &m_fits);
    }
    // Fence i against the typed key's bytes.
    int compare(size_t i) const { return std::memcmp(fence(i), m_bytes, m_size); }
    // The typed key's bytes are all of it.
    bool fits() const { return m_fits; }
    // The fences hold a byte after all of the typed key's.
    bool roomAfter() const { return m_fits && m_size < Keys::kFenceBytes; }
    // Fence i's byte after the typed key's (given room): zero where its key ends.
    uint8_t after(size_t i) const { return fence(i)[m_size]; }

    // Where the first position that is past a boundary may lie: after every
    // fence surely before it, at or before the first surely past it.
    template <typename Before, typename Past>
    std::pair<size_t, size_t> bounds(Before before, Past past) const
    {
        const size_t a = first([&](size_t i) { return !before(i); }), b = first(past);
        return {a == 0 ? 0 : std::min(m_n, (a - 1) * Keys::kFenceStep + 1), std::min(m_n, b * Keys::kFenceStep)};
    }

private:
    const uint8_t *fence(size_t i) const
    {
        return reinterpret_cast<const uint8_t *>(m_keys.fences.data()) + i * Keys::kFenceBytes;
    }
    template <typename Past> size_t first(Past past) const
    {
        size_t lo = 0, hi = m_count;
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (past(mid))
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    }

    const Keys &m_keys;
    const size_t m_count, m_n;
    uint8_t m_bytes[12 + 2] = {};
    size_t m_size = 0;
    bool m_fits = false;
};

} // namespace

std::pair<size_t, size_t> LookupIndex::run(const Keys &keys, QStringView prefix) const
{
    const std::u16string_view p = units(prefix);
    const FencedSearch f(keys, p);
    KeyBuffers buffer;
    const auto at = [&](size_t i) { return keys.order.begin() + i; };
    // The first key not below the prefix...
    const auto [lo0, lo1] = f.bounds([&](size_t i) { return f.compare(i) < 0; },
                                     [&](size_t i) { return f.compare(i) > 0 || (f.compare(i) == 0 && f.fits()); });
    const auto lo = std::partition_point(at(lo0), at(lo1), [&](uint32_t r) { return keyText(keys, r, buffer) < p; });
    // ...and the first after every key that begins with it.
    const auto [hi0, hi1] = f.bounds([&](size_t i) { return f.compare(i) < 0 || (f.compare(i) == 0 && f.fits()); },
                                     [&](size_t i) { return f.compare(i) > 0; });
    const auto hi = std::partition_point(std::max(lo, at(hi0)), std::max(lo, at(hi1)), [&](uint32_t r) {
        return keyText(keys, r, buffer).substr(0, p.size()) == p;
    });
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
    // A key equal to the text sorts before every longer one it begins; the
    // fences tell them apart where a zero byte follows the text's bytes.
    size_t from = lo, to = hi;
    const FencedSearch f(keys, units(k));
    if (f.roomAfter()) {
        const auto [a, b] = f.bounds(
            [&](size_t i) { return f.compare(i) < 0 || (f.compare(i) == 0 && f.after(i) == 0); },
            [&](size_t i) { return f.compare(i) > 0 || (f.compare(i) == 0 && f.after(i) != 0); });
        from = std::clamp(a, lo, hi);
        to = std::clamp(b, lo, hi);
    }
    KeyBuffers buffer;
    const auto equal = std::partition_point(keys.order.begin() + from, keys.order.begin() + to, [&](uint32_t r) {
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
    KeyBuffers buffer;
    for (size_t i = lo; i < hi; ++i) {
        const std::u16string_view key = keyText(k, k.order[i], buffer);
        if (pattern.matchesFolded(QStringView(key)))
            list->push_back(k.ranks.access(i));
    }
    std::sort(list->begin(), list->end());
    m.m_list = std::move(list);
    return m;
}

size_t LookupIndex::memoryBytes() const
{
    return m_text.ownedBytes() + m_bounds.ownedBytes() + m_nulls.ownedBytes() + m_displayOrder.ownedBytes()
        + m_folded.memoryBytes() + m_bare.memoryBytes() + m_bufferBytes;
}

void LookupIndex::releasePages() const
{
    if (m_mapping)
        m_mapping->releasePages();
}

} // namespace tarnvik
