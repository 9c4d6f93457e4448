// The look-up index built from any rows answers every pattern as a scan of
// the same rows does: the rows the matcher takes, in the collator's order,
// equal rows in table order; with the bare key, the bare pattern as a scan of
// the bare rows.
//
// Input: UTF-8 lines. The first holds patterns separated by tabs; each other
// line is a row's input value, and a line of one DEL (0x7F) is a Null one.
// Every one- to three-letter start of the first rows is tried as typed text too.
#include "FuzzUtil.h"
#include "db/index/LookupIndex.h"
#include "util/RandomText.h"
#include "util/ScanReference.h"

#include <QSet>

#include <algorithm>

using namespace tarnvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList lines = fuzzutil::text(data, size).split(u'\n');
    if (lines.size() > 300)
        return 0; // keep each run quick
    QList<std::optional<QString>> inputs;
    LookupIndex::Builder builder;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i] == u"\x7f")
            inputs << std::nullopt;
        else
            inputs << lines[i];
        const QString out = QString::number(i - 1);
        builder.addRow(inputs.last() ? &*inputs.last() : nullptr, &out);
    }
    const std::shared_ptr<LookupIndex> ix = builder.build();
    FUZZ_ASSERT(ix->rowCount() == size_t(inputs.size()));

    const testutil::ScanReference reference(inputs);

    QSet<QString> patterns;
    for (const QString &p : lines.first().split(u'\t'))
        patterns.insert(p);
    for (qsizetype r = 0; r < std::min<qsizetype>(inputs.size(), 40); ++r) {
        for (int n = 1; inputs[r] && n <= 3; ++n)
            patterns.insert(testutil::firstCodePoints(*inputs[r], n) + u'*');
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
    return 0;
}
