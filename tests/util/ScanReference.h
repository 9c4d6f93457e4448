// The plain answer the look-up index must give, for the differential test and
// its fuzz harness: a scan of every non-Null row with the matcher, in the
// collator's order, equal rows in table order.
#pragma once

#include "db/index/LookupIndex.h"
#include "lookup/Lookup.h"

#include <QCollator>
#include <QList>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <optional>
#include <vector>

namespace testutil {

class ScanReference
{
public:
    explicit ScanReference(const QList<std::optional<QString>> &inputs,
                           tarnvik::CaseRule rule = tarnvik::CaseRule::Default)
        : m_rule(rule)
    {
        static const QCollator collator = [] {
            QCollator c(QLocale(QStringLiteral("cs_CZ")));
            c.setCaseSensitivity(Qt::CaseInsensitive);
            return c;
        }();
        for (uint32_t r = 0; r < uint32_t(inputs.size()); ++r) {
            m_folded << (inputs[r] ? tarnvik::foldCase(*inputs[r], rule) : QString());
            if (inputs[r])
                m_foldedSet.insert(m_folded.last());
            m_bare << (inputs[r] ? tarnvik::bareText(*inputs[r], rule) : QString());
            if (inputs[r])
                m_sorted.push_back(r);
        }
        std::stable_sort(m_sorted.begin(), m_sorted.end(),
                         [&](uint32_t a, uint32_t b) { return collator.compare(*inputs[a], *inputs[b]) < 0; });
    }

    // The rows 'typed' finds by the key; the pattern is made bare for the
    // bare key, as the look-up makes it. Nullopt when it is no pattern.
    std::optional<std::vector<uint32_t>> rows(const QString &typed, tarnvik::LookupIndex::Key key,
                                              std::optional<tarnvik::LikePattern> *compiled = nullptr) const
    {
        const bool bare = key == tarnvik::LookupIndex::Bare;
        QString error;
        const auto p = tarnvik::LikePattern::compile(bare ? tarnvik::bareText(typed, m_rule) : typed, &error, m_rule);
        if (compiled)
            *compiled = p;
        if (!p)
            return std::nullopt;
        std::vector<uint32_t> out;
        for (uint32_t r : m_sorted) {
            if (p->matchesFolded(bare ? m_bare[r] : m_folded[r]))
                out.push_back(r);
        }
        return out;
    }

    // What the strip shows for the typed text: the rows as typed, headed by
    // those that are the text itself once bare where none is the text in
    // any letter case (a literal text only); where nothing matches as typed,
    // the bare rows. With how many of the first ones diacritics were ignored.
    std::optional<std::pair<std::vector<uint32_t>, size_t>> shown(const QString &typed) const
    {
        const auto asTyped = rows(typed + u'*', tarnvik::LookupIndex::Folded);
        if (!asTyped)
            return std::nullopt;
        if (asTyped->empty()) {
            const auto bare = rows(typed + u'*', tarnvik::LookupIndex::Bare);
            return std::pair{*bare, bare->size()};
        }
        const QString folded = tarnvik::foldCase(typed, m_rule), bare = tarnvik::bareText(typed, m_rule);
        const bool literal = std::none_of(typed.begin(), typed.end(), [](QChar c) { return QStringView(u"*?#[").contains(c); });
        if (!literal || m_foldedSet.contains(folded))
            return std::pair{*asTyped, size_t(0)};
        std::vector<uint32_t> out;
        for (uint32_t r : m_sorted)
            if (m_bare[r] == bare && !m_folded[r].startsWith(folded))
                out.push_back(r);
        const size_t head = out.size();
        out.insert(out.end(), asTyped->begin(), asTyped->end());
        return std::pair{out, head};
    }

private:
    tarnvik::CaseRule m_rule;
    QStringList m_folded, m_bare;
    QSet<QString> m_foldedSet;
    std::vector<uint32_t> m_sorted;
};

// The index's side of ScanReference::shown(), as the look-up takes it from
// the index: as typed, the whole word first; or else the bare matches.
inline std::optional<tarnvik::Matches> shownByIndex(const tarnvik::LookupIndex &ix, const QString &typed)
{
    using namespace tarnvik;
    QString error;
    const CaseRule rule = ix.caseRule();
    const auto p = LikePattern::compile(typed + u'*', &error, rule);
    if (!p)
        return std::nullopt;
    const Matches m = ix.find(*p);
    return m.isEmpty() ? ix.find(*LikePattern::compile(bareText(typed, rule) + u'*', &error, rule), LookupIndex::Bare)
                       : wholeWordFirst(typed, m);
}

} // namespace testutil
