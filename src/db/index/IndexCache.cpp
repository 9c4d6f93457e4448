#include "IndexCache.h"
#include "CacheTidy.h"
#include "LeasedMapping.h"
#include "platform/Files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QStandardPaths>
#include <bit>
#include <utility>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnvik {

namespace {

// 03: the database's stamp (device, inode, size, times in ns). 04: the same
// layout; 03's folded order was wrong outside Latin script. 05: the bare key
// too, and the checksum in four chains. 07: the bare key's order alone, its
// text made from the folded key. 08: the text as UTF-8 with the fields'
// bounds and Null bits, no key text. 09: each order's fences. Files of an
// earlier format fail here and are rebuilt.
constexpr char kMagic[8] = {'T', 'V', 'K', 'I', 'D', 'X', '0', '9'};

// A fast 64-bit checksum over whole words; it finds damage, not attacks:
// everything read is bounds-checked as well. Word i goes to chain i % 4, so
// that four multiplications run side by side: a start reads the whole file.
struct Checksum
{
    // Fed in pieces or at once, it gives the same value.
    void add(const void *data, size_t n)
    {
        const auto *p = static_cast<const unsigned char *>(data);
        while (n > 0 && m_pending != 0) {
            m_tail = m_tail | uint64_t(*p++) << (8 * m_pending);
            --n;
            if (++m_pending == 8)
                word(std::exchange(m_tail, 0)), m_pending = 0;
        }
        if (m_pending != 0)
            return; // all of it went into the word begun before
        uint64_t w[4];
        for (; n >= 8 && m_words % 4 != 0; n -= 8, p += 8) {
            std::memcpy(w, p, 8);
            word(w[0]);
        }
        for (; n >= 32; n -= 32, p += 32) {
            std::memcpy(w, p, 32);
            for (int i = 0; i < 4; ++i)
                m_h[i] = mix(m_h[i], w[i]);
            m_words += 4;
        }
        for (; n >= 8; n -= 8, p += 8) {
            std::memcpy(w, p, 8);
            word(w[0]);
        }
        for (size_t i = 0; i < n; ++i)
            m_tail |= uint64_t(p[i]) << (8 * i);
        m_pending = n;
    }
    uint64_t value() const
    {
        Checksum c = *this;
        c.word(c.m_tail ^ (uint64_t(c.m_pending) << 61));
        uint64_t h = c.m_h[0];
        for (int i = 1; i < 4; ++i)
            h = mix(h, c.m_h[i]);
        return h;
    }

private:
    static uint64_t mix(uint64_t h, uint64_t w)
    {
        return std::rotl(h ^ (w * 0xFF51AFD7ED558CCDull), 29) * 0xC4CEB9FE1A85EC53ull;
    }
    void word(uint64_t w)
    {
        uint64_t &h = m_h[m_words++ % 4];
        h = mix(h, w);
    }
    uint64_t m_h[4] = {0x9E3779B97F4A7C15ull, 0xBF58476D1CE4E5B9ull, 0x94D049BB133111EBull, 0x2545F4914F6CDD1Dull};
    uint64_t m_tail = 0;
    size_t m_pending = 0;
    uint64_t m_words = 0;
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
    // Count, then the elements at an 8-byte boundary, so that they can be used
    // in place once the file is loaded.
    template <typename T> void array(const Array<T> &v)
    {
        value<uint64_t>(v.size());
        bytes(v.data(), v.size() * sizeof(T));
        pad();
    }
    void keys(const LookupIndex::Keys &k)
    {
        array(k.order);
        array(k.fences);
        value<uint64_t>(k.ranks.size());
        value<uint32_t>(uint32_t(k.ranks.levels().size()));
        value<uint32_t>(0);
        for (const WaveletMatrix::Level &level : k.ranks.levels()) {
            value<uint64_t>(level.zeros);
            array(level.bits);
        }
    }
    void bytes(const void *p, size_t n)
    {
        m_sum.add(p, n);
        m_written += n;
        if (m_d.write(static_cast<const char *>(p), qint64(n)) != qint64(n))
            m_ok = false;
    }
    void pad()
    {
        static const char zeros[8] = {};
        if (m_written % 8)
            bytes(zeros, 8 - m_written % 8);
    }
    void finish()
    {
        const uint64_t sum = m_sum.value();
        if (m_d.write(reinterpret_cast<const char *>(&sum), 8) != 8)
            m_ok = false;
    }
    bool ok() const { return m_ok; }

private:
    QIODevice &m_d;
    Checksum m_sum;
    size_t m_written = 0;
    bool m_ok = true;
};

// Reads the loaded file in place; every step is bounds-checked.
class Reader
{
public:
    Reader(const uchar *data, size_t size) : m_p(data), m_end(data + size) {}
    template <typename T> bool value(T *v) { return bytes(v, sizeof *v); }
    template <typename T> bool array(Array<T> *v, uint64_t maxCount)
    {
        uint64_t n = 0;
        if (!value(&n) || n > maxCount || n > left() / sizeof(T))
            return false;
        *v = Array<T>::view(reinterpret_cast<const T *>(m_p), size_t(n));
        m_p += n * sizeof(T);
        return align();
    }
    bool bytes(void *p, size_t n)
    {
        if (n > left())
            return false;
        std::memcpy(p, m_p, n);
        m_p += n;
        return true;
    }
    bool atEnd() const { return m_p == m_end; }
    // The buffer starts on a page, so file offsets and addresses align alike.
    bool align()
    {
        const size_t gap = (8 - reinterpret_cast<uintptr_t>(m_p) % 8) % 8;
        if (gap > left())
            return false;
        m_p += gap;
        return true;
    }

private:
    size_t left() const { return size_t(m_end - m_p); }
    const uchar *m_p, *m_end;
};

// Memory of its own that a loaded file is read into and its views lie in.
struct Buffer
{
    explicit Buffer(size_t n)
        : size(n)
    {
        data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    }
    ~Buffer()
    {
        if (data != MAP_FAILED)
            munmap(data, size);
    }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    void *data = MAP_FAILED;
    size_t size = 0;
};

// A loaded file's bytes, and what keeps them.
struct Loaded
{
    std::shared_ptr<const void> owner;
    LeasedMapping *mapping = nullptr; // the owner, when the file is mapped
    const uchar *bytes = nullptr;
    size_t size = 0;
};

// The whole regular file at 'path', its checksum checked: mapped under a
// lease where the file system and its owner allow one, else read into
// memory. A plain mapping would fault (SIGBUS) at the next look-up once
// another program cut the file short.
Loaded loadChecked(const QString &path, qint64 maxSize)
{
    RegularFile file = openRegularFile(path);
    const int fd = file.fd.get();
    if (file.problem != RegularFile::None || file.size < 16 || file.size > maxSize)
        return {};
    const size_t size = size_t(file.size), body = size - 8;
    Loaded loaded;
    Checksum sum;
    if (auto mapped = LeasedMapping::map(fd, size)) {
        file.fd.release(); // the mapping's now
        loaded = {mapped, mapped.get(), static_cast<const uchar *>(mapped->data()), size};
        sum.add(loaded.bytes, body);
    } else {
        auto buffer = std::make_shared<Buffer>(size);
        if (buffer->data == MAP_FAILED)
            return {};
        auto *bytes = static_cast<uchar *>(buffer->data);
        // The checksum is taken on the way, while each piece is still in the
        // processor's cache.
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::pread(fd, bytes + done, std::min<size_t>(size - done, 1 << 20), off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return {}; // cut short since
            if (done < body)
                sum.add(bytes + done, std::min(size_t(n), body - done));
            done += size_t(n);
        }
        mprotect(buffer->data, size, PROT_READ);
        loaded = {buffer, nullptr, bytes, size};
    }
    uint64_t stored = 0;
    std::memcpy(&stored, loaded.bytes + body, 8);
    if (stored != sum.value())
        return {};
    return loaded;
}

// One key's arrays, all checked; all empty stands for a bare key that is the
// folded one.
bool readKeys(Reader &r, LookupIndex::Keys *k, size_t rows, size_t listed)
{
    const uint64_t big = uint64_t(1) << 40;
    uint64_t waveletSize = 0;
    uint32_t levelCount = 0, levelPadding = 0;
    if (!r.array(&k->order, big) || !r.array(&k->fences, big) || !r.value(&waveletSize) || !r.value(&levelCount)
        || !r.value(&levelPadding))
        return false;
    if (k->order.empty() && k->fences.empty() && waveletSize == 0 && levelCount == 0)
        return true;
    using Keys = LookupIndex::Keys;
    if (k->order.size() != listed || k->fences.size() != Keys::fenceCount(listed) * Keys::kFenceBytes
        || waveletSize != listed
        || levelCount > 32 || (listed > 1 && (uint64_t(1) << levelCount) < listed))
        return false;
    // A Null row in the order reads as empty text (LookupIndex::run): not
    // checked here, where each check would be a miss of the processor's cache.
    for (size_t i = 0; i < listed; ++i) {
        if (k->order[i] >= rows)
            return false;
    }
    std::vector<WaveletMatrix::Level> levels(levelCount);
    const size_t words = (listed >> 6) + 1;
    for (WaveletMatrix::Level &level : levels) {
        uint64_t zeros = 0;
        if (!r.value(&zeros) || !r.array(&level.bits, words) || level.bits.size() != words)
            return false;
        // Ranks are recomputed, never trusted from disk; bits past the end must
        // be clear. With the zeros counted right, every step of a look-up stays
        // inside the levels; Matches::row() keeps a wrong rank inside the list.
        if (listed % 64 != 0 ? (level.bits[words - 1] >> (listed % 64)) != 0 : level.bits[words - 1] != 0)
            return false;
        if (zeros != listed - level.countRanks())
            return false;
        level.zeros = size_t(zeros);
    }
    k->ranks = WaveletMatrix::fromLevels(std::move(levels), listed);
    return true;
}

} // namespace

FileStamp FileStamp::of(const struct stat &st)
{
    FileStamp s;
    s.device = quint64(st.st_dev);
    s.inode = quint64(st.st_ino);
    s.size = qint64(st.st_size);
    s.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    s.regular = S_ISREG(st.st_mode);
    return s;
}

FileStamp FileStamp::ofPath(const QString &path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return FileStamp();
    return of(st);
}

quint64 IndexCache::checksum(const void *data, size_t size)
{
    Checksum sum;
    sum.add(data, size);
    return sum.value();
}

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
    // Written beside its final name and renamed over it, which replaces
    // whatever is there (a FIFO, a link) instead of writing through it.
    const QString final = fileFor(source);
    QTemporaryFile file(final + u".XXXXXX"_qs);
    if (!file.open()) {
        *error = QStringLiteral("%1: %2").arg(file.fileTemplate(), file.errorString());
        return false;
    }
    Writer w(file);
    w.bytes(kMagic, sizeof kMagic);
    const QByteArray key = keyOf(source);
    w.value<uint32_t>(uint32_t(key.size()));
    w.bytes(key.constData(), size_t(key.size()));
    w.value<uint64_t>(source.file.device);
    w.value<uint64_t>(source.file.inode);
    w.value<int64_t>(source.file.size);
    w.value<int64_t>(source.file.modifiedNs);
    w.value<int64_t>(source.file.changedNs);
    w.pad();
    w.array(ix.m_text);
    w.array(ix.m_bounds);
    w.array(ix.m_nulls);
    w.array(ix.m_displayOrder);
    w.keys(ix.m_folded);
    w.keys(ix.m_bare);
    w.finish();
    if (!w.ok() || !file.flush()) {
        *error = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    if (::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(final).constData()) != 0) {
        *error = QStringLiteral("%1: %2").arg(final, systemMessage(errno));
        return false;
    }
    file.setAutoRemove(false);
    return true;
}

std::shared_ptr<LookupIndex> IndexCache::load(const IndexSource &source) const
{
    if (m_folder.isEmpty())
        return nullptr;
    // No source gives an index many times the size of its database: a bigger
    // file (a sparse one, say) is not read into memory to find that out.
    const qint64 maxSize = 16 * std::max<qint64>(source.file.size, 0) + (1 << 20);
    const Loaded loaded = loadChecked(fileFor(source), maxSize);
    if (!loaded.bytes)
        return nullptr;
    const uchar *bytes = loaded.bytes;
    const size_t body = loaded.size - 8;

    Reader r(bytes, body);
    char magic[sizeof kMagic];
    uint32_t keySize = 0;
    if (!r.bytes(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0 || !r.value(&keySize)
        || keySize > 1 << 20)
        return nullptr;
    QByteArray key(keySize, Qt::Uninitialized);
    FileStamp built;
    built.regular = true;
    if (!r.bytes(key.data(), keySize) || key != keyOf(source) || !r.value(&built.device) || !r.value(&built.inode)
        || !r.value(&built.size) || !r.value(&built.modifiedNs) || !r.value(&built.changedNs)
        || built != source.file || !r.align())
        return nullptr;

    std::shared_ptr<LookupIndex> ix(new LookupIndex);
    ix->m_rule = caseRuleFor(source.charsetIn); // the keys were folded so
    const uint64_t big = uint64_t(1) << 40;
    if (!r.array(&ix->m_text, big) || !r.array(&ix->m_bounds, big) || !r.array(&ix->m_nulls, big)
        || !r.array(&ix->m_displayOrder, big))
        return nullptr;
    // Bounds are not checked one by one: each field is read within the text
    // whatever they say (LookupIndex::field).
    const size_t fields = ix->m_bounds.size() - 1, rows = fields / 2, listed = ix->m_displayOrder.size();
    if (ix->m_bounds.empty() || fields % 2 != 0 || ix->m_nulls.size() != (fields + 63) / 64 || listed > rows)
        return nullptr;
    for (size_t i = 0; i < listed; ++i) {
        if (ix->m_displayOrder[i] >= rows)
            return nullptr;
    }
    if (!readKeys(r, &ix->m_folded, rows, listed) || !readKeys(r, &ix->m_bare, rows, listed)
        || ix->m_folded.order.size() != listed || !r.atEnd())
        return nullptr;
    ix->m_bufferBytes = loaded.size;
    ix->m_buffer = loaded.owner;
    ix->m_mapping = loaded.mapping;
    // The checks read every page; a warm start keeps only what is used.
    ix->releasePages();
    // What the cache's tidying goes by: an index in use is kept.
    CacheTidy::markUsed(fileFor(source));
    return ix;
}

} // namespace tarnvik
