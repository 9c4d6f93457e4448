#include "IndexCache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <bit>
#include <cstring>

namespace tarnvik {

namespace {

constexpr char kMagic[8] = {'T', 'V', 'K', 'I', 'D', 'X', '0', '1'};

// A fast 64-bit checksum over whole words; it finds damage, not attacks:
// everything read is bounds-checked as well.
struct Checksum
{
    uint64_t h = 0x9E3779B97F4A7C15ull;
    void add(const void *data, size_t n)
    {
        const auto *p = static_cast<const unsigned char *>(data);
        uint64_t w;
        for (; n >= 8; n -= 8, p += 8) {
            std::memcpy(&w, p, 8);
            h = std::rotl(h ^ (w * 0xFF51AFD7ED558CCDull), 29) * 0xC4CEB9FE1A85EC53ull;
        }
        w = 0;
        std::memcpy(&w, p, n);
        h = std::rotl(h ^ (w * 0xFF51AFD7ED558CCDull) ^ n, 29) * 0xC4CEB9FE1A85EC53ull;
    }
};

QByteArray keyOf(const IndexSource &s)
{
    return QStringLiteral("%1\n%2\n%3\n%4\n%5\n%6")
        .arg(s.path, s.table.toCaseFolded(), s.in.toCaseFolded(), s.out.toCaseFolded())
        .arg(s.charsetIn)
        .arg(s.charsetOut)
        .toUtf8();
}

class Writer
{
public:
    explicit Writer(QIODevice &d) : m_d(d) {}
    template <typename T> void value(T v) { bytes(&v, sizeof v); }
    template <typename T> void array(const std::vector<T> &v)
    {
        value<uint64_t>(v.size());
        bytes(v.data(), v.size() * sizeof(T));
    }
    void bytes(const void *p, size_t n)
    {
        m_sum.add(p, n);
        if (m_d.write(static_cast<const char *>(p), qint64(n)) != qint64(n))
            m_ok = false;
    }
    void finish() { m_d.write(reinterpret_cast<const char *>(&m_sum.h), 8); }
    bool ok() const { return m_ok; }

private:
    QIODevice &m_d;
    Checksum m_sum;
    bool m_ok = true;
};

class Reader
{
public:
    explicit Reader(QIODevice &d) : m_d(d) {}
    template <typename T> bool value(T *v) { return bytes(v, sizeof *v); }
    template <typename T> bool array(std::vector<T> *v, uint64_t maxCount)
    {
        uint64_t n = 0;
        if (!value(&n) || n > maxCount || n * sizeof(T) > uint64_t(m_d.bytesAvailable()))
            return false;
        v->resize(size_t(n));
        return bytes(v->data(), size_t(n) * sizeof(T));
    }
    bool bytes(void *p, size_t n)
    {
        if (m_d.read(static_cast<char *>(p), qint64(n)) != qint64(n))
            return false;
        m_sum.add(p, n);
        return true;
    }
    bool checksumMatches()
    {
        uint64_t stored = 0;
        return m_d.read(reinterpret_cast<char *>(&stored), 8) == 8 && stored == m_sum.h && m_d.atEnd();
    }

private:
    QIODevice &m_d;
    Checksum m_sum;
};

bool spansFit(const std::vector<LookupIndex::Span> &spans, size_t textSize)
{
    for (const LookupIndex::Span &s : spans) {
        if (!s.isNull() && (s.start > textSize || s.length > textSize - s.start))
            return false;
    }
    return true;
}

} // namespace

IndexCache::IndexCache(QString folder)
    : m_folder(std::move(folder))
{
}

QString IndexCache::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/tarnvik/index");
}

QString IndexCache::fileFor(const IndexSource &source) const
{
    if (m_folder.isEmpty())
        return QString();
    return m_folder + u'/'
        + QString::fromLatin1(QCryptographicHash::hash(keyOf(source), QCryptographicHash::Sha1).toHex()) + u".idx"_qs;
}

bool IndexCache::save(const IndexSource &source, const LookupIndex &ix, QString *error) const
{
    if (m_folder.isEmpty())
        return true;
    if (!QDir().mkpath(m_folder)) {
        *error = QStringLiteral("cannot create %1").arg(m_folder);
        return false;
    }
    QSaveFile file(fileFor(source));
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    Writer w(file);
    w.bytes(kMagic, sizeof kMagic);
    const QByteArray key = keyOf(source);
    w.value<uint32_t>(uint32_t(key.size()));
    w.bytes(key.constData(), size_t(key.size()));
    w.value<int64_t>(source.size);
    w.value<int64_t>(source.modified.toMSecsSinceEpoch());
    w.array(ix.m_text);
    w.array(ix.m_in);
    w.array(ix.m_out);
    w.array(ix.m_fold);
    w.array(ix.m_displayOrder);
    w.array(ix.m_foldOrder);
    w.value<uint64_t>(ix.m_ranks.size());
    w.value<uint32_t>(uint32_t(ix.m_ranks.levels().size()));
    for (const WaveletMatrix::Level &level : ix.m_ranks.levels()) {
        w.value<uint64_t>(level.zeros);
        w.array(level.bits);
    }
    w.finish();
    if (!w.ok() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

std::shared_ptr<LookupIndex> IndexCache::load(const IndexSource &source) const
{
    if (m_folder.isEmpty())
        return nullptr;
    QFile file(fileFor(source));
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    Reader r(file);
    char magic[sizeof kMagic];
    uint32_t keySize = 0;
    if (!r.bytes(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0 || !r.value(&keySize)
        || keySize > 1 << 20)
        return nullptr;
    QByteArray key(keySize, Qt::Uninitialized);
    int64_t size = 0, modified = 0;
    if (!r.bytes(key.data(), keySize) || key != keyOf(source) || !r.value(&size) || !r.value(&modified)
        || size != source.size || modified != source.modified.toMSecsSinceEpoch())
        return nullptr;

    std::shared_ptr<LookupIndex> ix(new LookupIndex);
    const uint64_t big = uint64_t(1) << 40;
    if (!r.array(&ix->m_text, big) || !r.array(&ix->m_in, big) || !r.array(&ix->m_out, big)
        || !r.array(&ix->m_fold, big) || !r.array(&ix->m_displayOrder, big) || !r.array(&ix->m_foldOrder, big))
        return nullptr;
    const size_t rows = ix->m_in.size(), listed = ix->m_displayOrder.size();
    if (ix->m_out.size() != rows || ix->m_fold.size() != rows || ix->m_foldOrder.size() != listed || listed > rows
        || !spansFit(ix->m_in, ix->m_text.size()) || !spansFit(ix->m_out, ix->m_text.size())
        || !spansFit(ix->m_fold, ix->m_text.size()))
        return nullptr;
    for (size_t i = 0; i < listed; ++i) {
        if (ix->m_displayOrder[i] >= rows || ix->m_foldOrder[i] >= rows || ix->m_fold[ix->m_foldOrder[i]].isNull())
            return nullptr;
    }
    uint64_t waveletSize = 0;
    uint32_t levelCount = 0;
    if (!r.value(&waveletSize) || waveletSize != listed || !r.value(&levelCount) || levelCount > 32
        || (listed > 1 && (uint64_t(1) << levelCount) < listed))
        return nullptr;
    std::vector<WaveletMatrix::Level> levels(levelCount);
    const size_t words = (listed >> 6) + 1;
    for (WaveletMatrix::Level &level : levels) {
        uint64_t zeros = 0;
        if (!r.value(&zeros) || !r.array(&level.bits, words) || level.bits.size() != words)
            return nullptr;
        // Ranks are recomputed, never trusted from disk; bits past the end must be clear.
        if (listed % 64 != 0 ? (level.bits[words - 1] >> (listed % 64)) != 0 : level.bits[words - 1] != 0)
            return nullptr;
        level.ranks.resize(words);
        uint32_t ones = 0;
        for (size_t w = 0; w < words; ++w) {
            level.ranks[w] = ones;
            ones += uint32_t(std::popcount(level.bits[w]));
        }
        if (zeros != listed - ones)
            return nullptr;
        level.zeros = size_t(zeros);
    }
    if (!r.checksumMatches())
        return nullptr;
    ix->m_ranks = WaveletMatrix::fromLevels(std::move(levels), listed);
    // Every rank it gives must name a listed row.
    if (!ix->m_ranks.isPermutation())
        return nullptr;
    return ix;
}

} // namespace tarnvik
