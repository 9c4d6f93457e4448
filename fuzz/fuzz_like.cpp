// LIKE patterns on any text. A pattern either compiles or says why; the
// shortcut the index takes for prefix patterns gives the matcher's answer.
// The text's bare form is its code points' decompositions less their
// nonspacing marks, by Qt's tables.
#include "FuzzUtil.h"
#include "db/query/Like.h"
#include "util/RandomText.h"

#include <unicode/uchar.h>

using namespace tarnvik;

namespace {

bool bareAsQtSays(const QString &text)
{
    QString expected;
    for (char32_t c : foldCase(text).toUcs4()) {
        // Where the two Unicode versions differ, nothing is known.
        if (QChar::category(c) == QChar::Other_NotAssigned || u_charType(UChar32(c)) == U_UNASSIGNED)
            return true;
        expected += testutil::naiveBare(c);
    }
    return bareText(text) == expected;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = fuzzutil::text(data, size);
    const qsizetype cut = input.indexOf(u'\n');
    const QString pattern = cut < 0 ? input : input.left(cut);
    const QString text = cut < 0 ? QString() : input.mid(cut + 1);

    FUZZ_ASSERT(bareAsQtSays(text));
    QString error;
    const auto like = LikePattern::compile(pattern, &error);
    FUZZ_ASSERT(like || !error.isEmpty());
    if (!like)
        return 0;
    const QString folded = foldCase(text);
    QString buffer;
    FUZZ_ASSERT(foldCase(QStringView(text), buffer) == folded);
    const bool match = like->matchesFolded(folded);
    FUZZ_ASSERT(match == like->matches(text));
    if (match)
        FUZZ_ASSERT(folded.startsWith(like->foldedPrefix()));
    if (like->isPrefixPattern())
        FUZZ_ASSERT(match == folded.startsWith(like->foldedPrefix()));
    return 0;
}
