// The index cache's tidying: what goes (unused for a month, of no catalogue,
// beyond the size) and what never does (files not ours, links, a save in
// progress, anything while the record of catalogues is not to be trusted).
#include "db/index/CacheTidy.h"
#include "db/index/IndexCache.h"
#include "lookup/CacheUpkeep.h"
#include "util/Files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnvik;
using testutil::writeBytes;

namespace {

constexpr qint64 kHour = 3600, kDay = 24 * kHour;
const QByteArray kHead = "TVKIDX06 and the rest of an index";

qint64 now() { return QDateTime::currentSecsSinceEpoch(); }

void age(const QString &path, qint64 seconds)
{
    testutil::setModified(path, QDateTime::fromSecsSinceEpoch(now() - seconds));
}

void put(const QString &path, const QByteArray &bytes, qint64 ageSeconds)
{
    writeBytes(path, bytes);
    age(path, ageSeconds);
}

QString hexName(char c) { return QString(40, QLatin1Char(c)) + u".idx"_qs; }

qint64 mtimeOf(const QString &path) { return QFileInfo(path).lastModified().toSecsSinceEpoch(); }

} // namespace

class TestCacheTidy : public QObject
{
    Q_OBJECT
private slots:
    void tidy()
    {
        // The name, file kind (file, link to an old index outside, dir), its
        // first bytes, its age, whether the catalogues list it (1), not (0) or
        // are unknown (-1), and whether it goes.
        const QString ours = hexName('a'), writing = ours + u".Ab12xZ"_qs;
        const struct { const char *tag; QString name, kind; QByteArray head; qint64 age; int listed; bool removed; }
            cases[] = {
            {"used lately, listed", ours, "file", kHead, kHour, 1, false},
            {"unused 31 days, listed", ours, "file", kHead, 31 * kDay, 1, true},
            {"unlisted, used since the record", ours, "file", kHead, kHour, 0, true},
            {"unlisted, used before the record", ours, "file", kHead, 3 * kDay, 0, false},
            {"unlisted, catalogues unknown", ours, "file", kHead, kHour, -1, false},
            {"clock set back", ours, "file", kHead, -40 * kDay, 1, false},
            {"older format, unused", ours, "file", QByteArray("TVKIDX03...."), 31 * kDay, 1, true},
            {"foreign header", ours, "file", QByteArray("SQLite format 3"), 31 * kDay, 0, false},
            {"too short for a header", ours, "file", QByteArray("TVKIDX"), 31 * kDay, 0, false},
            {"foreign name", u"notes.idx"_qs, "file", kHead, 31 * kDay, 0, false},
            {"upper-case name", hexName('A'), "file", kHead, 31 * kDay, 0, false},
            {"save in progress", writing, "file", QByteArray("TVKIDX06"), 0ll, 0, false},
            {"save abandoned", writing, "file", kHead, 2 * kDay, 1, true},
            {"link out of the folder", ours, "link", kHead, 31 * kDay, 0, false},
            {"folder under our name", ours, "dir", kHead, 31 * kDay, 0, false},
        };
        for (const auto &[tag, name, kind, head, seconds, listed, removed] : cases) {
            QTemporaryDir dir;
            const QString cache = dir.filePath(u"cache"_qs), path = cache + u'/' + name;
            const QString outside = dir.filePath(u"outside.idx"_qs);
            QVERIFY(QDir().mkpath(cache));
            if (kind == u"file")
                put(path, head, seconds);
            else if (kind == u"dir")
                QVERIFY(QDir().mkpath(path));
            else {
                put(outside, head, seconds);
                QVERIFY(QFile::link(outside, path));
            }
            const auto live = listed < 0 ? std::nullopt : std::optional(listed ? QSet<QString>{name} : QSet<QString>{});
            const CacheTidy::Outcome out = CacheTidy(cache).tidy(live, now() - 2 * kDay, now());
            QVERIFY2(out.removed == (removed ? QStringList{name} : QStringList{}), tag);
            QVERIFY2((QFileInfo(path).exists() || QFileInfo(path).isSymLink()) == !removed, tag);
            QVERIFY2(kind != u"link" || QFileInfo::exists(outside), tag);
        }
    }

    // Beyond the size, the least recently used go first, until the folder is
    // down to the size exactly; only ours count.
    void bound()
    {
        QTemporaryDir dir;
        const CacheLimits limits{2500, 30 * kDay, kDay};
        const QByteArray kilo = kHead + QByteArray(1000 - kHead.size(), 'x');
        for (char c : {'a', 'b', 'c', 'd'})
            put(dir.filePath(hexName(c)), kilo, (5 - (c - 'a')) * kHour);
        put(dir.filePath(hexName('e') + u".abcdef"_qs), kilo.left(500), 0);
        put(dir.filePath(u"big foreign file"_qs), QByteArray(5000, 'z'), 40 * kDay);
        const CacheTidy::Outcome out = CacheTidy(dir.path()).tidy(std::nullopt, 0, now(), limits);
        QCOMPARE(out.removed, (QStringList{hexName('a'), hexName('b')}));
        QCOMPARE(out.bytesLeft, qint64(2500));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 4);
    }

    // The record of settings files, whole or damaged, and a round through
    // it: the index of a field the catalogue no longer names goes only while
    // the record can be trusted; a broken record is mended, never followed.
    void record()
    {
        // The record ("link", "fifo", "none" or its bytes, %1 for our settings
        // file), whether our settings read, whether the stale index goes.
        const QString since = u"tarnvik settings seen\nsince "_qs + QString::number(now() - 10 * kDay) + u'\n';
        const struct { const char *tag; QString record; bool settingsReadable, staleRemoved; } cases[] = {
            {"intact, lists ours", since + u"%1\n"_qs, true, true},
            {"intact, ours not yet in it", since + u"/elsewhere/TVK.ini\n"_qs, true, true},
            {"intact, our settings unreadable", since + u"%1\n"_qs, false, false},
            {"none", u"none"_qs, true, false},
            {"wrong header", u"tarnvik seen\nsince 5\n%1\n"_qs, true, false},
            {"no since", u"tarnvik settings seen\n%1\n"_qs, true, false},
            {"relative path", since + u"TVK.ini\n"_qs, true, false},
            {"cut short", since + u"/home/us"_qs, true, false},
            {"a FIFO", u"fifo"_qs, true, false},
            {"a link out", u"link"_qs, true, false},
        };
        for (const auto &[tag, record, settingsReadable, staleRemoved] : cases) {
            QTemporaryDir dir;
            const QString cache = dir.filePath(u"cache"_qs), ini = dir.filePath(u"TVK.ini"_qs);
            const QString db = dir.filePath(u"slovník.mdb"_qs), seen = cache + u"/settings-seen"_qs;
            const QString outside = dir.filePath(u"outside"_qs);
            QVERIFY(QDir().mkpath(cache));
            writeBytes(db, "not read here");
            SettingsStore store(ini);
            save_tables(store, {{u"Slovník"_qs, db, u"Slova"_qs, u"cz"_qs, u"en"_qs, 238, 238, false}}, 0);
            QString error;
            QVERIFY2(store.sync(&error), qPrintable(error));
            if (!settingsReadable)
                writeBytes(ini, "\xff\xfe not UTF-8");
            if (record == u"link") {
                writeBytes(outside, "tarnvik settings seen\nsince 1\n");
                QVERIFY(QFile::link(outside, seen));
            } else if (record == u"fifo") {
                QCOMPARE(::mkfifo(QFile::encodeName(seen).constData(), 0600), 0);
            } else if (record != u"none") {
                writeBytes(seen, (record.contains(u"%1") ? record.arg(ini) : record).toUtf8());
            }
            const IndexCache names(cache);
            IndexSource entry{QFileInfo(db).canonicalFilePath(), u"Slova"_qs, u"cz"_qs, u"en"_qs, 238, 238, {}};
            const QString live = names.fileFor(entry);
            entry.out = u"de"_qs;
            const QString stale = names.fileFor(entry);
            put(live, kHead, kHour);
            put(stale, kHead, kHour);

            tidyIndexCache(cache, ini, {dir.path(), dir.path(), {}}, true, now());
            QVERIFY2(QFileInfo::exists(live), tag);
            QVERIFY2(!QFileInfo::exists(stale) == staleRemoved, tag);
            const CacheTidy::Seen after = CacheTidy(cache).seen();
            QVERIFY2(after.intact && after.settings.contains(ini), tag);
            if (record == u"link")
                QCOMPARE(testutil::readBytes(outside), QByteArray("tarnvik settings seen\nsince 1\n"));
        }
    }

    // A loaded index counts as used, and so does the strip's own at every
    // round; the upkeep notes its settings at once, tidies when told to and
    // stops at once when it ends.
    void upkeep()
    {
        QTemporaryDir dir;
        const QString cache = dir.filePath(u"cache"_qs), ini = dir.filePath(u"TVK.ini"_qs);
        const IndexSource source{u"/nowhere/a.mdb"_qs, u"t"_qs, u"a"_qs, u"b"_qs, 238, 238,
                                 {1, 2, 100, 3, 4, true}};
        const IndexCache indexes(cache);
        LookupIndex::Builder b;
        const QString word = u"dům"_qs;
        b.addRow(&word, &word);
        QString error;
        QVERIFY2(indexes.save(source, *b.build(), &error), qPrintable(error));
        const QString file = indexes.fileFor(source);
        age(file, 40 * kDay);
        QVERIFY(indexes.load(source));
        QVERIFY(mtimeOf(file) >= now() - kHour);

        const QString old = cache + u'/' + hexName('b');
        put(old, kHead, 40 * kDay);
        {
            CacheUpkeep idle(cache, ini, {}, std::chrono::hours(1)); // its end must not wait the hour
            QTRY_VERIFY(CacheTidy(cache).seen().settings.contains(ini));
        }
        QVERIFY(QFileInfo::exists(old));
        age(file, 40 * kDay); // and still the strip's own: used as long as it runs
        {
            SettingsStore store(ini);
            save_tables(store, {{u"A"_qs, source.path, source.table, source.in, source.out, 238, 238, true}}, 0);
            QVERIFY(store.sync(&error));
        }
        CacheUpkeep soon(cache, ini, {}, std::chrono::milliseconds(10));
        soon.soon(file);
        QTRY_VERIFY(soon.rounds() > 0);
        QVERIFY(!QFileInfo::exists(old));
        QVERIFY(QFileInfo::exists(file));
    }
};

QTEST_GUILESS_MAIN(TestCacheTidy)
#include "tst_cachetidy.moc"
