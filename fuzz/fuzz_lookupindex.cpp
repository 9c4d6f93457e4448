// The look-up index built from any rows answers every pattern as a scan of
// the same rows does: the rows the matcher takes, in the collator's order,
// equal rows in table order; with the bare key, the bare pattern as a scan of
// the bare rows.
//
// Input: UTF-8 lines. The first holds patterns separated by tabs; each other
// line is a row's input value, and a line of one DEL (0x7F) is a Null one.
// Every one- to three-letter start of the first rows is tried as typed text too,
// and each of those rows whole without its marks: what the strip shows for a
// typed text (the whole word typed plain first) as the scan's answer. All of
// it twice: with Unicode's letter case, and with Turkish I. The input's bytes
// are also UTF-8 to the index's own checks exactly when they are to Qt's, and
// each row's collation key starts the same looked up as made by ICU.
#include "FuzzUtil.h"
#include "db/index/Collation.h"
#include "db/index/LookupIndex.h"
#include "util/RandomText.h"
#include "util/ScanReference.h"

#include <QSet>

#include <algorithm>
#include <cstring>

using namespace tarnvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const bool valid = QByteArrayView(bytes.data(), qsizetype(size)).isValidUtf8();
    bool decoded = true;
    QString buffer;
    fromUtf8(bytes, buffer, &decoded);
    FUZZ_ASSERT(isValidUtf8(bytes) == valid && decoded == valid);
    const QStringList lines = fuzzutil::text(data, size).split(u'\n');
    if (lines.size() > 300)
        return 0; // keep each run quick
    QList<std::optional<QString>> inputs;
    for (qsizetype i = 1; i < lines.size(); ++i)
        inputs << (lines[i] == u"\x7f" ? std::nullopt : std::optional<QString>(lines[i]));
    static const DisplayCollator collator;
    static SortKeyStart keys(collator.c);
    for (const QString &line : lines) {
        const std::u16string_view text(reinterpret_cast<const char16_t *>(line.utf16()), size_t(line.size()));
        uint8_t fast[12], icu[12];
        keys.byCollator(text, icu);
        FUZZ_ASSERT(!keys.lookedUp(text, fast) || std::memcmp(fast, icu, 12) == 0);
    }
    for (const CaseRule rule : {CaseRule::Default, CaseRule::Turkish}) {
        LookupIndex::Builder builder(rule);
        for (qsizetype i = 0; i < inputs.size(); ++i) {
            const QString out = QString::number(i);
            builder.addRow(inputs[i] ? &*inputs[i] : nullptr, &out);
        }
        const std::shared_ptr<LookupIndex> ix = builder.build();
        FUZZ_ASSERT(ix->rowCount() == size_t(inputs.size()));
        const testutil::ScanReference reference(inputs, rule);

        QSet<QString> patterns, typed;
        for (const QString &p : lines.first().split(u'\t'))
            patterns.insert(p);
        for (qsizetype r = 0; r < std::min<qsizetype>(inputs.size(), 40); ++r) {
            for (int n = 1; inputs[r] && n <= 3; ++n) {
                typed.insert(testutil::firstCodePoints(*inputs[r], n));
                patterns.insert(testutil::firstCodePoints(*inputs[r], n) + u'*');
            }
            if (inputs[r])
                typed.insert(bareText(*inputs[r], rule));
        }
        // Each pattern as typed, and bare against the bare inputs.
        for (const QString &pattern : patterns) {
            for (const auto key : {LookupIndex::Folded, LookupIndex::Bare}) {
                std::optional<LikePattern> p;
                const auto expected = reference.rows(pattern, key, &p);
                if (!expected)
                    continue;
                const Matches m = ix->find(*p, key);
                FUZZ_ASSERT(m.size() == expected->size());
                for (size_t k = 0; k < m.size(); ++k) {
                    const uint32_t row = m.row(k);
                    FUZZ_ASSERT(row == (*expected)[k]);
                    FUZZ_ASSERT(ix->input(row) == *inputs[row]);
                    FUZZ_ASSERT(ix->output(row) == QString::number(row));
                }
            }
        }
        // What the strip shows: as typed, headed by the whole word made
        // plain; or, with nothing as typed, the bare matches.
        for (const QString &t : typed) {
            const auto expected = reference.shown(t);
            const auto shown = testutil::shownByIndex(*ix, t);
            FUZZ_ASSERT(expected.has_value() == shown.has_value());
            if (!expected)
                continue;
            const Matches &m = *shown;
            FUZZ_ASSERT(m.size() == expected->first.size());
            for (size_t k = 0; k < m.size(); ++k) {
                FUZZ_ASSERT(m.row(k) == expected->first[k]);
                FUZZ_ASSERT(m.diacriticsIgnored(k) == (k < expected->second));
            }
        }
    }
    return 0;
}
