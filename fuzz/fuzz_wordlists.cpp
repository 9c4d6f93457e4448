// tarnvik-mkdb's readers on any input: TSV, CSV, and a dictd index with its
// dictionary (the first byte picks which). Every row has as many fields as
// the header names, and a reader stops with an error or at the end.
#include "FuzzUtil.h"
#include "db/write/RowSource.h"

#include <QCoreApplication>

using namespace tarnvik::mkdb;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView rest(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    QString path, format;
    switch (data[0] % 3) {
    case 0:
        path = fuzzutil::scratch("words.tsv", rest);
        format = QStringLiteral("tsv");
        break;
    case 1:
        path = fuzzutil::scratch("words.csv", rest);
        format = QStringLiteral("csv");
        break;
    default: {
        // The index, then after a NUL the dictionary text.
        const qsizetype cut = rest.indexOf('\0');
        path = fuzzutil::scratch("words.index", cut < 0 ? rest : rest.first(cut));
        fuzzutil::scratch("words.dict", cut < 0 ? QByteArrayView() : rest.sliced(cut + 1));
        format = QStringLiteral("dictd");
        break;
    }
    }
    QString error;
    auto source = RowSource::forFile(path, format, &error);
    FUZZ_ASSERT(source || !error.isEmpty());
    if (!source || !source->start())
        return 0;
    const qsizetype columns = source->fieldNames().size();
    Row row;
    for (int rows = 0;; ++rows) {
        FUZZ_ASSERT(rows <= int(size) + 1); // no row comes from nothing
        const RowSource::Result r = source->next(&row);
        if (r == RowSource::Ok)
            FUZZ_ASSERT(qsizetype(row.size()) == columns);
        else if (r == RowSource::Error)
            FUZZ_ASSERT(!source->errorString().isEmpty());
        if (r != RowSource::Ok)
            break;
    }
    return 0;
}
