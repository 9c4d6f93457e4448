// LIKE patterns on any text. A pattern either compiles or says why; the
// shortcut the index takes for prefix patterns gives the matcher's answer.
#include "FuzzUtil.h"
#include "db/query/Like.h"

using namespace tarnvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = fuzzutil::text(data, size);
    const qsizetype cut = input.indexOf(u'\n');
    const QString pattern = cut < 0 ? input : input.left(cut);
    const QString text = cut < 0 ? QString() : input.mid(cut + 1);

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
