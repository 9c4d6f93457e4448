// The index cache on its own: whatever lies at a cache file's path, only an
// intact file written for this very source and version of its database is
// used, and nothing there can crash or hang the program.
#include "db/index/IndexCache.h"
#include "platform/UniqueFd.h"
#include "util/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnvik;

namespace {

std::shared_ptr<LookupIndex> sampleIndex(const QString &tag)
{
    const QStringList words = {u"dům"_qs, u"domov"_qs, u"chata"_qs, u"hrad"_qs, u"čep"_qs, u"Cesta"_qs, u"řeka"_qs};
    LookupIndex::Builder b;
    for (int i = 0; i < 60; ++i) {
        const QString in = words[i % words.size()] + QString::number(i), out = tag + QString::number(i);
        b.addRow(i % 17 == 5 ? nullptr : &in, i % 11 == 3 ? nullptr : &out);
    }
    return b.build();
}

// Every row the index lists, in its order, with both values; then what
// its bare key finds.
QStringList everything(const LookupIndex &ix)
{
    QString error;
    QStringList out;
    for (const auto &[pattern, key] : {std::pair(u"*"_qs, LookupIndex::Folded), std::pair(u"dum*"_qs, LookupIndex::Bare),
                                       std::pair(u"[cr]e*"_qs, LookupIndex::Bare)}) {
        const Matches m = ix.find(*LikePattern::compile(pattern, &error), key);
        for (size_t k = 0; k < m.size(); ++k) {
            const uint32_t row = m.row(k);
            const QString start = ix.output(row, 1); // as the list reads it, before the whole
            out << ix.input(row) + u'=' + (ix.outputIsNull(row) ? u"<null>"_qs : ix.output(row)) + start.left(1);
        }
    }
    return out;
}

using namespace testutil;

// A file of our format with its checksum made right again after a change.
QByteArray withChecksum(QByteArray bytes)
{
    const quint64 sum = IndexCache::checksum(bytes.constData(), size_t(bytes.size() - 8));
    std::memcpy(bytes.data() + bytes.size() - 8, &sum, 8);
    return bytes;
}

QByteArray noise(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// The sample index saved in a cache folder of its own: what a test then
// damages, replaces or reads.
struct SavedSample
{
    IndexCache cache;
    IndexSource source{u"/data/slovník.mdb"_qs, u"Slova"_qs, u"slovo"_qs, u"význam"_qs, 238, 238,
                       {2049, 1234567, 409600, 1700000000123456789, 1700000001987654321, true}};
    std::shared_ptr<LookupIndex> built = sampleIndex(u"výklad"_qs);
    QString path = cache.fileFor(source);
    QByteArray good;

    explicit SavedSample(const QString &folder) : cache(folder)
    {
        QString error;
        if (!cache.save(source, *built, &error))
            qFatal("cannot save the sample: %s", qPrintable(error));
        good = readBytes(path);
    }
};

// Loads on another thread, so that a load that blocks fails the test instead
// of hanging it; a FIFO at the path is then opened for writing to let it go.
std::optional<std::shared_ptr<LookupIndex>> loadWithin(const IndexCache &cache, const IndexSource &source,
                                                      const QString &path)
{
    auto done = std::async(std::launch::async, [&] { return cache.load(source); });
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
        return done.get();
    UniqueFd writer(::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK));
    writer.reset(); // before the wait: a writer left open would hold the load's read
    done.wait();
    return std::nullopt;
}

} // namespace

class TestIndexCache : public QObject
{
    Q_OBJECT
private slots:
    void damagedOrCutFiles()
    {
        const auto &[cache, source, built, path, good] = SavedSample(m_dir.filePath(u"damaged"_qs));
        const auto loaded = cache.load(source);
        QCOMPARE(loaded ? everything(*loaded) : QStringList{u"not loaded"_qs}, everything(*built));
        QCOMPARE(loaded->rowCount(), built->rowCount());
        QString error;
        std::vector<LikePattern> compiled;
        for (const QString &p : {u"*"_qs, u"d*"_qs, u"ch*"_qs, u"[!c]*"_qs, u"?e*"_qs})
            compiled.push_back(*LikePattern::compile(p, &error));

        // Changed in place, not written anew: a file system may flush a file
        // truncated to nothing when it is closed, which costs thousands of times.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
        auto put = [&](qsizetype at, const QByteArray &bytes) {
            QVERIFY(f.seek(at) && f.write(bytes) == bytes.size());
        };
        // Every byte changed in turn is refused; then damage the checksum cannot
        // see (the checksum made right again). Whatever is accepted must answer
        // within its own data; the sanitizer build checks every read.
        int accepted = 0;
        for (qsizetype at = 0; at < good.size(); ++at) {
            for (const char change : {char(0x01), char(0x80), char(0xFF)}) {
                const QByteArray bad = withByte(good, at, good[at] ^ change);
                put(at, bad.mid(at, 1));
                QVERIFY2(!cache.load(source), qPrintable(QStringLiteral("byte %1 changed").arg(at)));
                if (at >= good.size() - 8)
                    continue;
                put(good.size() - 8, withChecksum(bad).right(8));
                const auto ix = cache.load(source);
                put(good.size() - 8, good.right(8));
                if (!ix)
                    continue;
                ++accepted;
                const size_t rows = ix->rowCount(), chars = ix->textBytes();
                for (const LikePattern &p : compiled) {
                    for (const auto key : {LookupIndex::Folded, LookupIndex::Bare}) {
                        const Matches m = ix->find(p, key);
                        QVERIFY(m.size() <= rows);
                        for (size_t k = 0; k < m.size(); ++k) {
                            const uint32_t row = m.row(k);
                            QVERIFY2(row < rows, qPrintable(QStringLiteral("byte %1").arg(at)));
                            QVERIFY(size_t(ix->input(row).size()) <= chars && size_t(ix->output(row).size()) <= chars);
                        }
                    }
                }
            }
            put(at, good.mid(at, 1));
        }
        // Text bytes changed in place are taken: the checks are of structure.
        QVERIFY(accepted > 0);

        for (qsizetype length = good.size() - 1; length >= 0; --length) {
            QVERIFY(f.resize(length));
            QVERIFY2(!cache.load(source), qPrintable(QStringLiteral("cut to %1 bytes").arg(length)));
        }
        f.close();
        for (const QByteArray &tail : {QByteArray(1, '\0'), QByteArray(8, '\0'), good.right(8)}) {
            writeBytes(path, good + tail);
            QVERIFY(!cache.load(source));
        }
        writeBytes(path, good);
        QVERIFY(cache.load(source));
    }

    void foreignStaleAndStrangeFilesAreRejected()
    {
        const auto &[cache, source, built, path, good] = SavedSample(m_dir.filePath(u"foreign"_qs));
        QString error;
        const QByteArray key = good.mid(12, qsizetype(*reinterpret_cast<const quint32 *>(good.constData() + 8)));
        QVERIFY(key.startsWith(QFile::encodeName(source.path)));

        // Saved for the source changed so, then renamed to this source's file.
        auto other = [&](std::function<void(IndexSource &)> change) {
            return [=, &cache] {
                IndexSource before = source;
                change(before);
                QString e;
                if (!cache.save(before, *sampleIndex(u"jiný"_qs), &e)
                    || ::rename(QFile::encodeName(cache.fileFor(before)).constData(), QFile::encodeName(path).constData()))
                    qFatal("cannot save another source's index in its place: %s", qPrintable(e));
            };
        };
        const QString victim = m_dir.filePath(u"victim"_qs);
        writeBytes(victim, "not a cache file");
        auto link = [&](const QString &target) { return [=] { QVERIFY(QFile::link(target, path)); }; };
        const struct { const char *name; std::function<void()> make; } cases[] = {
            {"another source's file renamed in place", other([](IndexSource &s) { s.table = u"Jiná"_qs; })},
            {"a file for other fields", other([](IndexSource &s) { s.out = u"poznámka"_qs; })},
            {"a file for other character sets", other([](IndexSource &s) { s.charsetOut = 204; })},
            {"stale: another device", other([](IndexSource &s) { ++s.file.device; })},
            {"stale: another inode", other([](IndexSource &s) { ++s.file.inode; })},
            {"stale: another size", other([](IndexSource &s) { --s.file.size; })},
            {"stale: modified a nanosecond apart", other([](IndexSource &s) { ++s.file.modifiedNs; })},
            {"stale: changed a nanosecond apart", other([](IndexSource &s) { --s.file.changedNs; })},
            {"this format with another version number",
             [&] { writeBytes(path, withChecksum(testutil::withByte(good, 7, good[7] + 1))); }},
            {"this layout with the version before",
             [&] { writeBytes(path, withChecksum(testutil::withByte(good, 7, good[7] - 1))); }},
            {"random bytes", [&] { writeBytes(path, noise(good.size(), 1)); }},
            {"random bytes with a right checksum", [&] { writeBytes(path, withChecksum(noise(good.size(), 2))); }},
            {"an empty file", [&] { writeBytes(path, QByteArray()); }},
            {"a checksum of nothing", [&] { writeBytes(path, withChecksum(QByteArray(8, '\0'))); }},
            {"a directory", [&] { QVERIFY(QDir().mkdir(path)); }},
            {"a FIFO", [&] { QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0); }},
            {"a link to an endless device", link(u"/dev/zero"_qs)},
            {"a link to another file", link(victim)},
        };
        for (const auto &c : cases) {
            QFile::remove(path);
            QDir(path).removeRecursively();
            c.make();
            const auto loaded = loadWithin(cache, source, path);
            QVERIFY2(loaded, qPrintable(u"blocked on "_qs + QLatin1String(c.name)));
            QVERIFY2(!*loaded, c.name);
            // The next index saved takes its place, unless a folder holds it.
            const bool folder = QFileInfo(path).isDir();
            QCOMPARE(cache.save(source, *built, &error), !folder);
            if (!folder) {
                const auto again = cache.load(source);
                QVERIFY2(again && everything(*again) == everything(*built), c.name);
                // A link is replaced, never written through.
                QVERIFY2(!QFileInfo(path).isSymLink(), c.name);
            }
        }
        QCOMPARE(readBytes(victim), QByteArray("not a cache file"));

        // A database rewritten within the second at its size: its stamp tells it
        // by the nanoseconds of its time.
        const QString db = m_dir.filePath(u"stamped.mdb"_qs);
        writeBytes(db, "x");
        testutil::setModifiedNs(db, {1700000000, 100});
        const FileStamp first = FileStamp::ofPath(db);
        testutil::setModifiedNs(db, {1700000000, 200});
        QCOMPARE(FileStamp::ofPath(db).modifiedNs - first.modifiedNs, 100);

        // A file far bigger than its database could give (here sparse, 4 GiB) is
        // not taken into memory to be checked.
        writeBytes(path, QByteArray());
        QVERIFY(QFile::resize(path, qint64(4) << 30));
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        QVERIFY(!cache.load(source));
        getrusage(RUSAGE_SELF, &after);
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 64 << 10, qPrintable(QString::number(after.ru_maxrss)));
        QFile::remove(path);
    }

    void indexInUseOutlivesItsFile()
    {
        // Another program cuts the file short or writes into it while an index
        // loaded from it answers: mapped, read in while something else has the
        // file open for writing, or both one after the other.
        const auto &[cache, source, built, path, good] = SavedSample(m_dir.filePath(u"in-use"_qs));
        const QStringList rows = everything(*built);
        for (const bool openElsewhere : {false, true}) {
            writeBytes(path, good);
            QFile writer(path);
            if (openElsewhere)
                QVERIFY(writer.open(QIODevice::ReadWrite));
            // Loaded on a thread that is gone by the time the file is cut, as the
            // program's loads are.
            const auto ix = std::async(std::launch::async, [&] { return cache.load(source); }).get();
            QCOMPARE(ix ? everything(*ix) : QStringList{u"not loaded"_qs}, rows);
            ix->releasePages();
            QCOMPARE(QProcess::execute(u"/bin/sh"_qs, {u"-c"_qs, u": > \"$1\""_qs, u"sh"_qs, path}), 0);
            QCOMPARE(QFileInfo(path).size(), 0);
            writeBytes(path, QByteArray(good.size(), '\xff'));
            // Pages let go at a quiet moment come back as they were.
            ix->releasePages();
            QCOMPARE(everything(*ix), rows);
        }
    }
private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestIndexCache)
#include "tst_indexcache.moc"
