// tarnvik-mkdb's StarDict reader on any dictionary: the first byte says which
// files are gzip, then the .ifo, .idx and .syn, each after its 16-bit length,
// and the rest is the .dict. Every row is a headword and a definition, a
// reader stops with an error or at the end, and the second pass agrees with
// the first.
#include "FuzzUtil.h"
#include "db/write/MakeDatabase.h"
#include "db/write/StarDictSource.h"

using namespace tarnvik;
using namespace tarnvik::mkdb;

namespace {

struct Pass
{
    int rows = 0;
    RowSource::Result end = RowSource::End;
    QString error;
};

Pass readAll(StarDictSource &source, size_t bound)
{
    Pass p;
    if (!source.start()) {
        FUZZ_ASSERT(!source.errorString().isEmpty());
        p.end = RowSource::Error;
        p.error = source.errorString();
        return p;
    }
    Row row;
    for (;;) {
        const RowSource::Result r = source.next(&row);
        if (r != RowSource::Ok) {
            FUZZ_ASSERT(r == RowSource::End || !source.errorString().isEmpty());
            p.end = r;
            p.error = r == RowSource::Error ? source.errorString() : QString();
            return p;
        }
        FUZZ_ASSERT(row.size() == 2 && row[0]);
        FUZZ_ASSERT(size_t(++p.rows) <= bound);
        QString headword = *row[0];
        MakeDatabase::cutToFit(&headword, JetWriter::FieldType::Text, JetWriter::Format::Jet4);
        FUZZ_ASSERT(headword.size() <= JetWriter::kMaxTextLength
                    && (headword.isEmpty() || !headword.back().isHighSurrogate()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 7)
        return 0;
    const uint8_t flags = data[0];
    QByteArrayView rest(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    QByteArrayView parts[3];
    for (QByteArrayView &part : parts) {
        if (rest.size() < 2)
            return 0;
        const qsizetype n = std::min<qsizetype>(uint8_t(rest[0]) << 8 | uint8_t(rest[1]), rest.size() - 2);
        part = rest.sliced(2, n);
        rest = rest.sliced(2 + n);
    }
    const bool idxGz = flags & 1, dictDz = flags & 2, syn = flags & 4;
    const QString ifo = fuzzutil::scratch("d.ifo", parts[0]);
    QString base = ifo;
    base.chop(4);
    for (const char *ending : {".idx", ".idx.gz", ".syn", ".dict", ".dict.dz"})
        QFile::remove(base + QLatin1String(ending));
    fuzzutil::scratch(idxGz ? "d.idx.gz" : "d.idx", parts[1]);
    if (syn)
        fuzzutil::scratch("d.syn", parts[2]);
    fuzzutil::scratch(dictDz ? "d.dict.dz" : "d.dict", rest);

    // Each row takes at least a NUL and a number from the index or synonyms,
    // unless gzip makes them from less.
    const size_t bound = idxGz ? SIZE_MAX : size_t(parts[1].size() + parts[2].size()) / 5 + 1;
    StarDictSource source(ifo);
    const Pass first = readAll(source, bound);
    const Pass second = readAll(source, bound);
    FUZZ_ASSERT(first.rows == second.rows && first.end == second.end && first.error == second.error);
    return 0;
}
