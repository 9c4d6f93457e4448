// The in-memory index behind the data control: every row's input and output
// text, the rows in display order (Czech collation, ties in table order), and
// the rows in the order of a search key (the case-folded input; the same with
// diacritics dropped, made from the folded key when compared, never kept),
// where each prefix is one run. A wavelet matrix over the
// key order gives count, first match and any k-th match in display order in
// O(log n), so a keystroke never sorts or copies the matching rows.
#pragma once

#include "db/query/Like.h"
#include "db/index/WaveletMatrix.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace tarnvik {

class LookupIndex;

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
    struct Span
    {
        uint32_t start = 0;
        uint32_t length = kNull;
        bool isNull() const { return length == kNull; }
    };
    static constexpr uint32_t kNull = 0xFFFFFFFFu;

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
        size_t rowCount() const { return m_in.size(); }
        std::shared_ptr<LookupIndex> build();

    private:
        void reserve(size_t rows, size_t chars);
        Span append(QStringView s);
        std::vector<char16_t> m_text;
        std::vector<Span> m_in, m_out, m_fold;
        std::vector<bool> m_marks; // the row's folded key has a mark to drop
        QString m_foldBuffer, m_bareBuffer;
        CaseRule m_rule;
        bool m_marked = false; // some input has a mark to drop
        struct Collator;
        std::unique_ptr<Collator> m_collator;
    };

    size_t rowCount() const { return m_in.size(); }
    // How the inputs were folded: patterns must be folded alike.
    CaseRule caseRule() const { return m_rule; }
    bool inputIsNull(uint32_t row) const { return m_in[row].isNull(); }
    bool outputIsNull(uint32_t row) const { return m_out[row].isNull(); }
    QStringView input(uint32_t row) const { return view(m_in[row]); }
    QStringView output(uint32_t row) const { return view(m_out[row]); }

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
    struct Keys
    {
        Array<Span> text;      // row -> its key (in m_text); none for the bare key
        Array<uint32_t> order; // key position -> row; Null rows left out
        WaveletMatrix ranks;   // key position -> display rank
        size_t memoryBytes() const { return text.ownedBytes() + order.ownedBytes() + ranks.memoryBytes(); }
    };

    // Heap bytes in use, a loaded cache file's included.
    size_t memoryBytes() const;
    size_t textBytes() const { return m_text.size() * sizeof(char16_t); }

private:
    friend class Matches;
    friend class IndexCache;
    LookupIndex() = default;
    QStringView view(Span s) const
    {
        return s.isNull() ? QStringView() : QStringView(m_text.data() + s.start, s.length);
    }
    // An empty bare order is the folded one: no input has a mark to drop.
    const Keys &keys(Key key) const { return key == Bare && !m_bare.order.empty() ? m_bare : m_folded; }
    // The row's key in 'keys'; a bare key is made in 'buffer'.
    std::u16string_view keyText(const Keys &keys, uint32_t row, QString &buffer) const;
    std::pair<size_t, size_t> run(const Keys &keys, QStringView prefix) const;

    Array<char16_t> m_text;
    Array<Span> m_in, m_out;
    Array<uint32_t> m_displayOrder; // display rank -> row
    Keys m_folded, m_bare;
    std::shared_ptr<const void> m_buffer; // what the views above lie in, if any
    size_t m_bufferBytes = 0;
    CaseRule m_rule = CaseRule::Default;
};

} // namespace tarnvik
