// Whatever lies at an index cache file's path: any bytes, or a saved file with
// bytes flipped, overwritten, cut or added, and with its checksum made right
// again. Loading never crashes; only the file as saved loads as the index that
// was saved, anything else that loads passed the checksum; and every index
// that loads answers look-ups within its own rows and text.
#include "FuzzUtil.h"
#include "db/index/IndexCache.h"

#include <QTemporaryDir>

#include <cstring>
#include <memory>

using namespace tarnvik;

namespace {

struct Sample
{
    QTemporaryDir dir;
    IndexCache cache{dir.path()};
    IndexSource source;
    std::shared_ptr<LookupIndex> built;
    QByteArray good;
    QString path;
    std::vector<LikePattern> patterns;

    Sample()
    {
        source = {u"/data/slovník.mdb"_qs, u"Slova"_qs, u"slovo"_qs, u"význam"_qs, 238, 238, {}};
        source.file = {2049, 1234567, 409600, 1700000000123456789, 1700000001987654321, true};
        const QStringList words = {u"dům"_qs, u"Domov"_qs, u"chata"_qs, u"hrad"_qs, u"čep"_qs, u"cesta"_qs, u"řeka"_qs};
        LookupIndex::Builder b;
        for (int i = 0; i < 12; ++i) {
            const QString in = words[i % words.size()] + QString::number(i), out = u"v"_qs + QString::number(i);
            b.addRow(i == 5 ? nullptr : &in, i == 3 ? nullptr : &out);
        }
        built = b.build();
        QString error;
        if (!dir.isValid() || !cache.save(source, *built, &error))
            std::abort();
        path = cache.fileFor(source);
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            std::abort();
        good = f.readAll();
        for (const QString &p : {u"*"_qs, u"d*"_qs, u"ch*"_qs, u"c*"_qs, u"[!c]*"_qs, u"?e*"_qs, u"řeka6"_qs})
            patterns.push_back(*LikePattern::compile(p, &error));
    }
};

// Every row a pattern lists by both keys, with both values.
QStringList listed(const LookupIndex &ix, const LikePattern &pattern)
{
    QStringList out;
    for (const auto key : {LookupIndex::Folded, LookupIndex::Bare}) {
        const Matches m = ix.find(pattern, key);
        for (size_t k = 0; k < m.size(); ++k) {
            const uint32_t row = m.row(k);
            out << ix.input(row) + u'=' + (ix.outputIsNull(row) ? u"<null>"_qs : ix.output(row));
        }
    }
    return out;
}

// An index that loaded, whatever it holds: look-ups stay inside it.
void checkSafe(const LookupIndex &ix, const std::vector<LikePattern> &patterns)
{
    const size_t rows = ix.rowCount(), chars = ix.textBytes();
    for (const LikePattern &p : patterns) {
        for (const auto key : {LookupIndex::Folded, LookupIndex::Bare}) {
            const Matches m = ix.find(p, key);
            FUZZ_ASSERT(m.size() <= rows);
            for (size_t k = 0; k < m.size() && k < 64; ++k) {
                const uint32_t row = m.row(k);
                FUZZ_ASSERT(row < rows);
                FUZZ_ASSERT(size_t(ix.input(row).size()) <= chars && size_t(ix.output(row).size()) <= chars);
            }
        }
    }
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Sample s;
    if (size < 1)
        return 0;
    const uint8_t mode = data[0] % 3;
    ++data, --size;
    QByteArray bytes;
    if (mode == 0) {
        // Any bytes at all.
        bytes = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    } else {
        // The saved file, changed: four bytes an edit (what, where, value).
        bytes = s.good;
        for (size_t i = 0; i + 4 <= size; i += 4) {
            const qsizetype at = qsizetype(data[i + 1] | data[i + 2] << 8);
            const char value = char(data[i + 3]);
            switch (data[i] % 5) {
            case 0:
                if (at < bytes.size())
                    bytes[at] = char(bytes[at] ^ value);
                break;
            case 1:
                if (at < bytes.size())
                    bytes[at] = value;
                break;
            case 2:
                bytes.truncate(at);
                break;
            case 3:
                bytes.insert(std::min(at, bytes.size()), value);
                break;
            case 4:
                if (at < bytes.size())
                    bytes.remove(at, 1);
                break;
            }
        }
        if (mode == 2 && bytes.size() >= 8) {
            const quint64 sum = IndexCache::checksum(bytes.constData(), size_t(bytes.size() - 8));
            std::memcpy(bytes.data() + bytes.size() - 8, &sum, 8);
        }
    }
    write(s.path, bytes);
    const std::shared_ptr<LookupIndex> ix = s.cache.load(s.source);
    if (bytes == s.good) {
        FUZZ_ASSERT(ix);
        for (const LikePattern &p : s.patterns)
            FUZZ_ASSERT(listed(*ix, p) == listed(*s.built, p));
        return 0;
    }
    if (!ix)
        return 0;
    // Taken though changed: then only past a checksum that agrees.
    quint64 stored = 0;
    FUZZ_ASSERT(bytes.size() >= 16);
    std::memcpy(&stored, bytes.constData() + bytes.size() - 8, 8);
    FUZZ_ASSERT(stored == IndexCache::checksum(bytes.constData(), size_t(bytes.size() - 8)));
    checkSafe(*ix, s.patterns);
    return 0;
}
