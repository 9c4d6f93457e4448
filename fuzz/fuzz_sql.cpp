// The statement parser on any text, and the builders' promise: whatever the
// user types and whatever the catalogue names, the statement made from it
// parses back to the same table, fields and pattern.
#include "FuzzUtil.h"
#include "db/query/Sql.h"

#include <QCoreApplication>

using namespace tarnvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = fuzzutil::text(data, size);
    QString error;
    const auto any = parseStatement(input, &error);
    FUZZ_ASSERT(any || !error.isEmpty());

    // Split the input into a table, two fields and typed text.
    const QStringList parts = input.split(u'\x1f');
    auto part = [&](int i, const char *fallback) {
        return i < parts.size() && !parts[i].isEmpty() ? parts[i] : QString::fromLatin1(fallback);
    };
    const QString table = part(0, "T"), in = part(1, "I"), out = part(2, "O"), typed = parts.value(3);
    // Access names hold no brackets; such names are refused by the editor.
    for (const QString &name : {table, in, out})
        if (name.contains(u']') || name.contains(u'['))
            return 0;

    const auto count = parseStatement(countStatement(table, in, typed), &error);
    FUZZ_ASSERT(count);
    FUZZ_ASSERT(count->kind == Statement::Count);
    FUZZ_ASSERT(count->table == table && count->likeField == in);
    FUZZ_ASSERT(count->pattern == typed + u'*');

    const auto select = parseStatement(selectStatement(table, in, out, typed), &error);
    FUZZ_ASSERT(select);
    FUZZ_ASSERT(select->kind == Statement::Select);
    FUZZ_ASSERT(select->table == table && select->likeField == in && select->orderField == in);
    FUZZ_ASSERT(select->fields == QStringList({in, out}));
    FUZZ_ASSERT(select->pattern == typed + u'*');
    return 0;
}
