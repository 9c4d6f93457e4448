// The in-memory index behind the data control: every row's input and output
// text (UTF-8), the rows in display order (Czech collation, ties in table order), and
// the rows in the order of a search key (the case-folded input; the same with
// diacritics dropped; each made from the input when compared, never kept),
// where each prefix is one run. A wavelet matrix over the
// key order gives count, first match and any k-th match in display order in
// O(log n), so a keystroke never sorts or copies the matching rows.
#pragma once

#include "db/query/Like.h"
#include "db/index/WaveletMatrix.h"

#include <QString>
#include <memory>
#include <string>
#include <string_view>
#include <optional>
#include <vector>

namespace tarnvik {

class LeasedMapping;
class LookupIndex;
// A row and the start of its sort key or of its folded text as two numbers in
// the same order (the second fills what would be padding): most comparisons
// end there.
struct KeyStart
{
    uint64_t prefix;
    uint32_t more;
    uint32_t row;
    bool operator<(const KeyStart &o) const { return prefix != o.prefix ? prefix < o.prefix : more < o.more; }
    bool tiedWith(const KeyStart &o) const { return prefix == o.prefix && more == o.more; }
    // The whole key fits, a zero byte after it (no key holds one): rows tied
    // with this one have the same key, and only their order in the table
    // tells them apart.
    bool whole() const { return (more & 0xFF) == 0; }
};

// Key starts for the sorts alone (the fences keep the plain form): each unit
// the keys of a sample begin with as one byte, in the units' order; any other
// as the byte between its neighbours' and three of its own, never zero.
// Twelve bytes then hold twelve letters of most sources, where the plain form
// holds six Cyrillic ones: fewer rows tie and go on to their whole keys.
class DenseStarts
{
public:
    // None where the sample holds too many units for a byte each.
    static std::optional<DenseStarts> fromSample(const std::vector<bool> &seen);
    KeyStart start(std::u16string_view key, uint32_t row) const;

private:
    std::vector<uint8_t> m_code; // by unit
};

// The rows a pattern matched, in display order; shares the index it came from.
class Matches
{
public:
    Matches() = default;
    // 'rest' with table rows 'head' shown before it (each found with
    // diacritics ignored, where 'rest' may not be).
    Matches(std::vector<uint32_t> head, Matches rest);
    size_t size() const { return headSize() + (m_list ? m_list->size() : m_hi - m_lo); }
    bool isEmpty() const { return size() == 0; }
    uint32_t row(size_t k) const; // table row number of the k-th match
    const LookupIndex *index() const { return m_index.get(); }
    // The k-th match was found only with case and diacritics ignored.
    bool diacriticsIgnored(size_t k) const { return k < headSize() || m_bare; }

private:
    friend class LookupIndex;
    size_t headSize() const { return m_head ? m_head->size() : 0; }
    std::shared_ptr<const std::vector<uint32_t>> m_head; // table rows
    std::shared_ptr<const LookupIndex> m_index;
    bool m_bare = false;                            // of the bare key, not the folded
    size_t m_lo = 0, m_hi = 0;                      // a run in key order
    std::shared_ptr<std::vector<uint32_t>> m_list; // or explicit display ranks
};

class LookupIndex : public std::enable_shared_from_this<LookupIndex>
{
public:
    class Builder
    {
    public:
        // Inputs are folded by 'rule' (see CaseRule), as patterns must be.
        explicit Builder(CaseRule rule = CaseRule::Default);
        ~Builder();
        // Room for whatever a database file of that size holds.
        void reserveFor(uint64_t fileBytes);
        // nullptr or nullopt is Null. Texts are display text (code pages already applied).
        void addRow(const QString *in, const QString *out)
        {
            add(in ? std::optional<QStringView>(*in) : std::nullopt, out ? std::optional<QStringView>(*out) : std::nullopt);
        }
        void add(std::optional<QStringView> in, std::optional<QStringView> out);
        // The same as UTF-8 (valid, as the index keeps it), the input also as
        // the text it spells: what the reader gives needs no round through
        // UTF-16 and back.
        void addUtf8(std::optional<std::string_view> in, QStringView inText, std::optional<std::string_view> out);
        size_t rowCount() const { return (m_bounds.size() - 1) / 2; }
        std::shared_ptr<LookupIndex> build();

    private:
        void reserve(size_t rows, size_t bytes);
        void append(std::optional<std::string_view> utf8);
        std::vector<char> m_text;
        std::vector<uint32_t> m_bounds{0};
        std::vector<uint64_t> m_nulls;
        std::vector<bool> m_marks;   // the row's folded key has a mark to drop
        std::vector<bool> m_folds;   // folding changes the row's input
        QString m_foldBuffer;
        std::vector<char> m_inUtf8, m_outUtf8;
        CaseRule m_rule;
        bool m_marked = false; // some input has a mark to drop
        struct Collator;
        std::unique_ptr<Collator> m_collator;
        class DisplayKeys;
        std::unique_ptr<DisplayKeys> m_display; // each non-Null row's collation key, its start
    };

    size_t rowCount() const { return m_bounds.empty() ? 0 : (m_bounds.size() - 1) / 2; }
    // How the inputs were folded: patterns must be folded alike.
    CaseRule caseRule() const { return m_rule; }
    bool inputIsNull(uint32_t row) const { return isNull(2 * size_t(row)); }
    bool outputIsNull(uint32_t row) const { return isNull(2 * size_t(row) + 1); }
    // Null reads as empty text. With 'units', the start of a long value only:
    // at least that many UTF-16 units of it as stored, the rest cut.
    QString input(uint32_t row, qsizetype units = -1) const { return text(2 * size_t(row), units); }
    QString output(uint32_t row, qsizetype units = -1) const { return text(2 * size_t(row) + 1, units); }

    enum Key {
        Folded, // case ignored: the look-up's LIKE
        Bare,   // case and diacritics ignored (see dropMarks): patterns must be bare too
    };
    // Rows whose input's key matches the pattern; Null never matches.
    Matches find(const LikePattern &pattern, Key key = Folded) const;
    // Rows whose input's key is 'text' itself, once made a key (folded, or
    // bare), in display order.
    Matches findWhole(QStringView text, Key key = Folded) const;

    // One way of comparing the inputs (public for the cache file's reader).
    // The keys themselves are made from the input whenever compared: kept,
    // they would take as much memory as the text.
    struct Keys
    {
        Array<uint32_t> order; // key position -> row; Null rows left out
        WaveletMatrix ranks;   // key position -> display rank
        // The start of the key at every kFenceStep-th position, as twelve
        // bytes that order as the keys do: a search narrows to a few
        // positions before it reads any text, so it touches few pages.
        Array<char> fences;
        static constexpr size_t kFenceStep = 32, kFenceBytes = 12;
        static size_t fenceCount(size_t positions) { return (positions + kFenceStep - 1) / kFenceStep; }
        size_t memoryBytes() const { return order.ownedBytes() + fences.ownedBytes() + ranks.memoryBytes(); }
    };

    // Heap bytes in use, a loaded cache file's included.
    size_t memoryBytes() const;
    // Lets go of the pages of a mapped cache file that look-ups touched:
    // they stay in the page cache, and come back when next touched.
    void releasePages() const;
    // The inputs and outputs as UTF-8.
    size_t textBytes() const { return m_text.size(); }

private:
    friend class Matches;
    friend class IndexCache;
    LookupIndex() = default;
    bool isNull(size_t field) const { return field / 64 < m_nulls.size() && (m_nulls[field / 64] >> (field % 64) & 1); }
    // Field 2 * row is the row's input, 2 * row + 1 its output; a loaded
    // file's bounds out of order or past the text read as empty.
    std::string_view field(size_t field) const;
    // The same, a mapped file's bytes read into 'spare' instead of touched
    // where they lie (see LeasedMapping::read); at most 'limit' bytes.
    std::string_view field(size_t field, std::string &spare, size_t limit = SIZE_MAX) const;
    QString text(size_t field, qsizetype units) const;
    // An empty bare order is the folded one: no input has a mark to drop.
    const Keys &keys(Key key) const { return key == Bare && !m_bare.order.empty() ? m_bare : m_folded; }
    struct KeyBuffers
    {
        QString text, fold, bare;
        std::string read;
    };
    // The row's key (folded, or bare), made from its input in 'buffers'.
    std::u16string_view key(uint32_t row, bool bare, KeyBuffers &buffers) const;
    std::u16string_view keyText(const Keys &keys, uint32_t row, KeyBuffers &buffers) const;
    std::pair<size_t, size_t> run(const Keys &keys, QStringView prefix) const;

    // Every row's input then output, as UTF-8 (lone surrogates kept as WTF-8
    // has them, so that the text comes back exactly).
    Array<char> m_text;
    Array<uint32_t> m_bounds;  // where field i begins in m_text; one more at the end
    Array<uint64_t> m_nulls;   // bit i: field i is Null
    Array<uint32_t> m_displayOrder; // display rank -> row
    Keys m_folded, m_bare;
    std::shared_ptr<const void> m_buffer; // what the views above lie in, if any
    LeasedMapping *m_mapping = nullptr;   // the buffer, when it is a mapped file
    size_t m_bufferBytes = 0;
    CaseRule m_rule = CaseRule::Default;
};

// UTF-16 as UTF-8 and back, exactly: a lone surrogate is written as its own
// three bytes. Any bytes decode, a malformed one to U+FFFD.
void appendUtf8(std::vector<char> &out, QStringView text);
// With 'valid', also whether the bytes were strict UTF-8 (see isValidUtf8).
QStringView fromUtf8(std::string_view bytes, QString &buffer, bool *valid = nullptr);
// Strict UTF-8 (no surrogates, overlong forms or code points past U+10FFFF),
// as QByteArrayView::isValidUtf8 has it, in half its time on short texts
// with letters beyond ASCII.
bool isValidUtf8(std::string_view bytes);

} // namespace tarnvik
