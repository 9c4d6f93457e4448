// The look-up's statements through the data control, on databases we make.
#include "db/DataControl.h"
#include "db/query/Sql.h"
#include "util/Files.h"
#include "util/TestUtil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QRegularExpression>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

using namespace tarnvik;

namespace {

using testutil::Row;

// Table t, input a, output b: most databases here.
void writeDb(const QString &path, const std::vector<Row> &rows, const QString &table = u"t"_qs,
             const QString &in = u"a"_qs, const QString &out = u"b"_qs,
             JetWriter::Format format = JetWriter::Format::Jet4, int codePage = 1252)
{
    QString error;
    if (!testutil::writeTable(path, table, {{in}, {out}}, rows, &error, format, codePage))
        qFatal("%s", qPrintable(error));
}

// n rows "<in> i" = "<out> i".
std::vector<Row> numbered(int n, const QString &in, const QString &out)
{
    std::vector<Row> rows;
    for (int i = 0; i < n; ++i)
        rows.push_back({in + u' ' + QString::number(i), out + u' ' + QString::number(i)});
    return rows;
}

// Two databases of the same size, and what "st" finds in each.
const std::vector<Row> kOld = {{u"starý"_qs, u"1"_qs}, {u"stůl"_qs, u"2"_qs}};
const std::vector<Row> kNew = {{u"stroj"_qs, u"3"_qs}, {u"stan"_qs, u"4"_qs}};
const QStringList kBefore = {"starý=1", "stůl=2"}, kAfter = {"stan=4", "stroj=3"};

// The look-up's two statements for typed text: the count, then every pair.
struct Lookup { qint64 count = -1; QStringList pairs; QString error; };

Lookup find(DataControl &data, const QString &typed, const QString &in = u"a"_qs, const QString &out = u"b"_qs,
            const QString &table = u"t"_qs)
{
    Lookup r;
    data.setRecordSource(countStatement(table, in, typed));
    if (data.refresh())
        r.count = data.recordset().field(u"HEADCOUNT"_qs).toLongLong();
    data.setRecordSource(selectStatement(table, in, out, typed));
    if (r.count > 0 && data.refresh()) {
        // As many rows as counted: a select short of the count shows Nulls.
        Recordset &rs = data.recordset();
        for (qint64 i = 0; i < r.count; ++i, rs.moveNext()) {
            const QVariant o = rs.field(out);
            r.pairs << rs.field(in).toString() + u'=' + (o.isNull() ? u"<null>"_qs : o.toString());
        }
    }
    r.error = data.errorString();
    return r;
}

// Reads through the held helper, without a cache.
void holdReads(DataControl &data, const QDir &dir, int timeoutMs = 10000)
{
    // A wait for a held read would end at the timeout, failing.
    data.setReadLimits({.timeoutMs = timeoutMs, .helper = testutil::heldHelper(dir)});
    data.setCacheFolder(QString());
}

// A waiting control on 'db' that keeps its indexes in 'cacheDir'. One that
// cannot read answers from the cache or not at all.
std::unique_ptr<DataControl> cached(const QString &db, const QString &cacheDir, bool canRead = true)
{
    auto data = std::make_unique<DataControl>();
    data->setDatabaseName(db);
    data->setCacheFolder(cacheDir);
    data->setRequest({u"t"_qs, u"a"_qs, u"b"_qs}); // as the window does: one read serves both statements
    if (!canRead)
        data->setReadLimits({.helper = u"/nonexistent/tarnvik-mdbread"_qs});
    return data;
}

// The same, never waiting; 'prepared' counts the handler's calls.
std::unique_ptr<DataControl> nonWaiting(const QString &db, const QString &cacheDir,
                                        std::shared_ptr<std::atomic<int>> prepared)
{
    auto data = cached(db, cacheDir);
    data->setWaitForReads(false);
    data->setPreparedHandler([prepared] { ++*prepared; });
    return data;
}

} // namespace

class TestDataControl : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true); // keep the user's cache out of it
        QVERIFY(m_dir.isValid());
    }

    void prefixLookups()
    {
        const QString db = m_dir.filePath(u"slovnik.mdb"_qs);
        writeDb(db,
                {{u"dům"_qs, u"house"_qs}, {u"domov"_qs, u"home"_qs}, {u"Dóm"_qs, u"cathedral"_qs},
                 {u"chata"_qs, u"cottage"_qs}, {u"hrad"_qs, u"castle"_qs}, {u"dub"_qs, std::nullopt},
                 {u"do školy"_qs, u"to school"_qs}, {u"a*b"_qs, u"star"_qs}, {u"axb"_qs, u"x"_qs},
                 {std::nullopt, u"nothing"_qs}, {u""_qs, u"empty"_qs}, {u"bez"_qs, u""_qs},
                 {u"\uFEFFbom"_qs, u"\uFEFFout"_qs}},
                u"Můj slovník"_qs, u"Česky"_qs, u"Anglicky"_qs);
        DataControl data;
        QVERIFY(!find(data, u"x"_qs).error.isEmpty()); // nothing bound
        data.setDatabaseName(db);
        data.setRequest({u"Můj slovník"_qs, u"Česky"_qs, u"Anglicky"_qs});
        // Names with blanks and accents go in brackets; matching ignores case.
        auto q = [&](const QString &typed) { return find(data, typed, u"Česky"_qs, u"Anglicky"_qs, u"Můj slovník"_qs); };
        Lookup r = q(u"D"_qs);
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QCOMPARE(r.pairs, QStringList({"do školy=to school", "Dóm=cathedral", "domov=home", "dub=<null>", "dům=house"}));
        // Typed wildcards keep their meaning.
        QCOMPARE(q(u"a*b"_qs).pairs, QStringList({"a*b=star", "axb=x"}));
        QCOMPARE(q(u"[ch]"_qs).pairs, QStringList({"hrad=castle", "chata=cottage"}));
        QCOMPARE(find(data, u"hr"_qs, u"česky"_qs, u"anglicky"_qs, u"můj SLOVNÍK"_qs).pairs,
                 QStringList({"hrad=castle"}));
        // Access's like '*' matches empty text but never Null; a leading U+FEFF
        // is no byte order mark in a value.
        r = q(QString());
        QCOMPARE(r.count, 12);
        QVERIFY2(r.pairs.contains(u"=empty"_qs) && r.pairs.contains(u"bez="_qs), qPrintable(r.pairs.join(u'|')));
        QCOMPARE(q(u"\uFEFFb"_qs).pairs, QStringList({u"\uFEFFbom=\uFEFFout"_qs}));

        // Failures name their cause; after them the same control answers again.
        r = find(data, u"x"_qs, u"Česky"_qs, u"Anglicky"_qs, u"nosuch"_qs);
        QVERIFY(r.error.contains(u"nosuch") && r.error.contains(u"slovnik.mdb"));
        r = find(data, u"d"_qs, u"Česky"_qs, u"nosuch"_qs, u"Můj slovník"_qs);
        QVERIFY(r.error.contains(u"nosuch") && r.pairs.isEmpty());
        QVERIFY(find(data, u"x"_qs, u"zz"_qs, u"Anglicky"_qs, u"Můj slovník"_qs).error.contains(u"zz"));
        for (const QString &statement : {u"delete from t"_qs, u"select b,a from t where a like 'x*' order by b"_qs}) {
            data.setRecordSource(statement);
            QVERIFY(!data.refresh() && !data.errorString().isEmpty());
        }
        QCOMPARE(q(u"hr"_qs).pairs, QStringList({"hrad=castle"}));
    }

    void textInTheFieldsCharset()
    {
        // Moscow typed through a Cyrillic font on a Central European system:
        // Jet 3 keeps the code page 1251 bytes, Jet 4 the characters code page
        // 1250 reads them as. Shown as Cyrillic (204) the field reads Москва,
        // as Central European (238) Ěîńęâŕ.
        for (const auto format : {JetWriter::Format::Jet3, JetWriter::Format::Jet4}) {
            const bool jet3 = format == JetWriter::Format::Jet3;
            const QString db = m_dir.filePath(jet3 ? u"jet3.mdb"_qs : u"jet4.mdb"_qs);
            writeDb(db, {{jet3 ? u"Москва"_qs : u"Ěîńęâŕ"_qs, u"Moskva"_qs}, {jet3 ? u"мост"_qs : u"ěîńň"_qs, u"most"_qs}},
                    u"t"_qs, u"ru"_qs, u"cs"_qs, format, 1251);
            DataControl data;
            data.setDatabaseName(db);
            // One field as input and output, each in its own charset, typed in
            // the input's; then only the output's charset changed.
            auto shown = [&](int in, int out) {
                data.setRequest({u"t"_qs, u"ru"_qs, u"ru"_qs, in, out});
                find(data, in == 204 ? u"МОС"_qs : u"Ěî"_qs, u"ru"_qs, u"ru"_qs);
                const Matches m = data.recordset().matches();
                QStringList texts;
                for (size_t k = 0; k < m.size(); ++k)
                    texts << m.index()->input(m.row(k)) + u'=' + m.index()->output(m.row(k));
                return texts;
            };
            QCOMPARE(shown(204, 238), QStringList({"Москва=Ěîńęâŕ", "мост=ěîńň"}));
            QCOMPARE(shown(204, 204), QStringList({"Москва=Москва", "мост=мост"}));
            QCOMPARE(shown(238, 204), QStringList({"Ěîńęâŕ=Москва", "ěîńň=мост"}));
        }
    }

    void indexIsKeptOnDisk()
    {
        const QString db = m_dir.filePath(u"cached.mdb"_qs), cacheDir = m_dir.filePath(u"cache"_qs);
        writeDb(db, numbered(2000, u"heslo"_qs, u"výklad"_qs));
        const QStringList expected = {"heslo 1999=výklad 1999"};
        QVERIFY(!find(*cached(db, cacheDir, false), u"heslo"_qs).error.isEmpty());
        QCOMPARE(find(*cached(db, cacheDir), u"heslo 1999"_qs).pairs, expected);
        const QStringList files = QDir(cacheDir).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        const QString cacheFile = cacheDir + u'/' + files.first();
        const QByteArray good = testutil::readBytes(cacheFile);
        QCOMPARE(find(*cached(db, cacheDir, false), u"heslo 1999"_qs).pairs, expected);

        // A damaged file is not trusted (every kind of damage: tst_indexcache);
        // a control that can read rebuilds it as it was.
        testutil::overwrite(cacheFile, testutil::withByte(good, good.size() / 2, good[good.size() / 2] ^ 0x10));
        QVERIFY(!find(*cached(db, cacheDir, false), u"heslo"_qs).error.isEmpty());
        QCOMPARE(find(*cached(db, cacheDir), u"heslo 1999"_qs).pairs, expected);
        QVERIFY(testutil::readBytes(cacheFile) == good);
    }

    void unwritableCacheCostsOnlySpeed_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("a file where the folder should be") << u"file"_qs;
        QTest::newRow("file size limit") << u"limit"_qs;
    }

    void unwritableCacheCostsOnlySpeed()
    {
        QFETCH(QString, how);
        const QDir dir = subdir(u"unwritable-"_qs + how);
        const QString db = dir.filePath(u"zdroj.mdb"_qs), cacheDir = dir.filePath(u"cache"_qs);
        writeDb(db, numbered(2000, u"heslo"_qs, u"výklad"_qs));
        rlimit limit;
        QVERIFY(getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &limit); });
        if (how == u"file") {
            QFile(cacheDir).open(QIODevice::WriteOnly);
        } else if (how == u"limit") {
            // Writes past the limit fail (EFBIG) instead of ending the process.
            signal(SIGXFSZ, SIG_IGN);
            rlimit small = limit;
            small.rlim_cur = 16 << 10;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        }

        // A warning for whoever reads the log; the look-up itself knows nothing of it.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Index cache not written: "_qs));
        {
            auto data = cached(db, cacheDir);
            QCOMPARE(find(*data, u"heslo 1999"_qs).pairs, QStringList({"heslo 1999=výklad 1999"}));
            QCOMPARE(find(*data, u"heslo 7"_qs).count, 111);
        }
        setrlimit(RLIMIT_FSIZE, &limit); // lifted: the next start may write the cache
        // Nothing half-written is left behind.
        if (QFileInfo(cacheDir).isDir())
            QCOMPARE(QDir(cacheDir).entryList(QDir::Files | QDir::Hidden), QStringList());
        // And the next start reads the database again, with the same answers.
        if (how != u"limit")
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Index cache not written: "_qs));
        QCOMPARE(find(*cached(db, cacheDir), u"heslo 1999"_qs).pairs, QStringList({"heslo 1999=výklad 1999"}));
        if (how == u"limit") // without the limit it is written
            QCOMPARE(QDir(cacheDir).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void sourceReplacedOrDeletedWhileBound_data()
    {
        // A rename (also rsync -t's way) brings a new inode; cp -p (like touch -r
        // after a rewrite) keeps the inode; a restore may get the old inode back.
        // These three keep the size and the modification time: another file of
        // the same size and time is another file all the same.
        QTest::addColumn<QString>("change"); // in sh: $1 the bound source, $2 the other database
        QTest::addColumn<bool>("read");     // whether telling it takes a read
        QTest::addColumn<QString>("after"); // the answer then: pairs, or a part of the error
        const QString found = u"stan=4,stroj=3"_qs;
        QTest::newRow("renamed over by another database")
            << u"cp -p \"$2\" \"$1.new\" && mv \"$1.new\" \"$1\""_qs << true << found;
        QTest::newRow("cp -p over it (written in place)") << u"cp -p \"$2\" \"$1\""_qs << true << found;
        QTest::newRow("deleted and made anew (a restore)")
            << u"rm \"$1\" && cat \"$2\" > \"$1\" && touch -r \"$2\" \"$1\""_qs << true << found;
        QTest::newRow("its link turned to another database") << u"ln -sf \"$2\" \"$1\""_qs << true << found;
        QTest::newRow("deleted") << u"rm \"$1\""_qs << false << u"neexistuje"_qs;
        QTest::newRow("emptied") << u": > \"$1\""_qs << false << u"prázdný"_qs;
        QTest::newRow("damaged in place")
            << u"dd if=/dev/zero of=\"$1\" bs=4096 seek=1 count=$(($(stat -c %s \"$1\") / 4096 - 1)) conv=notrunc"_qs
            << true << u"poškozený"_qs;
        // (Folders and FIFOs are refused as the reader refuses them: tst_reader.)
        QTest::newRow("replaced by a link to a device")
            << u"rm \"$1\" && ln -s /dev/zero \"$1\""_qs << false << u"zařízení"_qs;
    }

    void sourceReplacedOrDeletedWhileBound()
    {
        QFETCH(QString, change);
        QFETCH(bool, read);
        QFETCH(QString, after);
        const QDir dir = subdir(u"bound "_qs + QString::fromUtf8(QTest::currentDataTag()));
        const QString one = dir.filePath(u"jeden.mdb"_qs), two = dir.filePath(u"dva.mdb"_qs);
        const QString db = dir.filePath(u"zdroj.mdb"_qs), cacheDir = dir.filePath(u"cache"_qs);
        writeDb(one, kOld);
        writeDb(two, kNew);
        QCOMPARE(QFileInfo(two).size(), QFileInfo(one).size());
        const bool linked = change.startsWith(u"ln ");
        auto put = [&](const QString &from) {
            QFile::remove(db);
            QVERIFY(linked ? QFile::link(from, db) : QFile::copy(from, db));
        };
        put(one);
        const timespec modified = testutil::modifiedNs(db);
        testutil::setModifiedNs(two, modified);

        auto prepared = std::make_shared<std::atomic<int>>(0);
        auto data = nonWaiting(db, cacheDir, prepared);
        auto answer = [&] {
            const int was = prepared->load();
            Lookup r = find(*data, u"st"_qs);
            if (data->preparing()) {
                if (!QTest::qWaitFor([&] { return prepared->load() > was; }, 10000))
                    r.error = u"still preparing"_qs;
                else
                    r = find(*data, u"st"_qs);
            }
            return r;
        };
        QCOMPARE(answer().pairs, kBefore);
        const Matches shown = data->recordset().matches(); // as the window's list holds them
        data->waitForCache();

        const testutil::Run changed = testutil::run(u"sh"_qs, {u"-c"_qs, change, u"sh"_qs, db, two});
        QVERIFY2(changed.exitCode == 0, changed.err.constData());
        if (after.contains(u'=')) {
            const timespec now = testutil::modifiedNs(db);
            QVERIFY(QFileInfo(db).size() == QFileInfo(one).size() && now.tv_sec == modified.tv_sec
                    && now.tv_nsec == modified.tv_nsec);
        }

        const int was = prepared->load();
        const Lookup r = find(*data, u"st"_qs);
        QCOMPARE(data->preparing(), read); // what needs no read is told at once
        // The control in use, and a new one, which finds the old index on disk.
        for (const Lookup &now : {read ? answer() : r, find(*cached(db, cacheDir), u"st"_qs)}) {
            if (after.contains(u'='))
                QCOMPARE(now.pairs, after.split(u','));
            else
                QVERIFY2(now.error.contains(after) && now.error.contains(u"zdroj.mdb"), qPrintable(now.error));
        }
        QCOMPARE(prepared->load() > was, read);
        // What the window still shows stays readable.
        QCOMPARE(shown.size(), size_t(2));
        QCOMPARE(shown.index()->input(shown.row(1)), u"stůl"_qs);

        // And the first database back is answered again.
        put(one);
        QCOMPARE(answer().pairs, kBefore);
    }

    void rewrittenWithinOneClockTick()
    {
        // File times move in whole seconds here (ext4 with small inodes, as on
        // old or small file systems; FAT has two): a rewrite in the second of the
        // read leaves every time as it was, unless the read began after it.
        if (geteuid() != 0 || !testutil::haveProgram(u"mkfs.ext4"_qs))
            QSKIP("needs root and mkfs.ext4 for a file system of whole-second times");
        const QString image = m_dir.filePath(u"seconds.img"_qs), mount = m_dir.filePath(u"seconds"_qs);
        QVERIFY(QDir().mkpath(mount));
        testutil::writeBytes(image, QByteArray(16 << 20, 0));
        if (testutil::run(u"mkfs.ext4"_qs, {u"-q"_qs, u"-F"_qs, u"-I"_qs, u"128"_qs, image}).exitCode != 0
            || testutil::run(u"mount"_qs, {u"-o"_qs, u"loop,nodev,nosuid"_qs, image, mount}).exitCode != 0)
            QSKIP("cannot mount a file system image here");
        const auto unmount = qScopeGuard([mount] { testutil::run(u"umount"_qs, {mount}); });

        const QString db = mount + u"/zdroj.mdb"_qs, other = m_dir.filePath(u"vterina.mdb"_qs);
        writeDb(other, kNew);
        const QByteArray otherBytes = testutil::readBytes(other);
        const QString cacheDir = m_dir.filePath(u"seconds-cache"_qs);
        // Early in a second, so that all below could happen within it.
        while (QDateTime::currentMSecsSinceEpoch() % 1000 > 200)
            QThread::msleep(5);
        writeDb(db, kOld);
        const QDateTime modified = QFileInfo(db).lastModified();
        auto data = cached(db, cacheDir);
        QCOMPARE(find(*data, u"st"_qs).pairs, kBefore);
        data->waitForCache();
        testutil::overwrite(db, otherBytes, modified);
        QCOMPARE(find(*cached(db, cacheDir), u"st"_qs).pairs, kAfter);
        QCOMPARE(find(*data, u"st"_qs).pairs, kAfter);
    }

    void preparedInTheBackground()
    {
        const QString one = m_dir.filePath(u"prep1.mdb"_qs), two = m_dir.filePath(u"prep2.mdb"_qs);
        writeDb(one, numbered(3000, u"slovo"_qs, u"n"_qs));
        writeDb(two, {{u"jiné"_qs, u"x"_qs}});
        // Prepared, then asked: the answer is the prepared index's. (A control
        // that goes while it prepares: abandonedReadsAreNotWaitedFor.)
        DataControl data;
        data.setDatabaseName(one);
        data.setRequest({u"t"_qs, u"a"_qs, u"b"_qs});
        data.prepare();
        QCOMPARE(find(data, u"slovo 2999"_qs).pairs, QStringList({"slovo 2999=n 2999"}));
        // Another file or other fields while one is being prepared: the answer
        // is always for what is asked now.
        data.setDatabaseName(two);
        data.prepare();
        data.setDatabaseName(one);
        QCOMPARE(find(data, u"n 2999"_qs, u"b"_qs, u"a"_qs).pairs, QStringList({"n 2999=slovo 2999"}));
        data.setRequest({u"t"_qs, u"nosuch"_qs, u"b"_qs});
        data.prepare();
        QVERIFY(find(data, u"x"_qs, u"nosuch"_qs, u"b"_qs).error.contains(u"nosuch"));
    }

    void refreshNeverWaits()
    {
        const QDir dir = subdir(u"nowait"_qs);
        const QString db = dir.filePath(u"held.mdb"_qs), two = dir.filePath(u"dva.mdb"_qs);
        writeDb(db, kOld);
        writeDb(two, kNew);
        auto prepared = std::make_shared<std::atomic<int>>(0);
        auto data = nonWaiting(db, QString(), prepared);
        holdReads(*data, dir);
        data->setRecordSource(countStatement(u"t"_qs, u"a"_qs, u"st"_qs));
        // The read is held: this refresh and the next must not wait for it, nor
        // start a second one.
        QVERIFY(!data->refresh() && data->preparing());
        QCOMPARE(data->errorString(), u"Zdroj dat se připravuje…"_qs);
        QTRY_COMPARE(testutil::heldStarts(dir, db), 1);
        QVERIFY(!data->refresh() && data->preparing());
        data->setRequest({u"t"_qs, u"a"_qs, u"b"_qs});
        data->prepare();
        QCOMPARE(prepared->load(), 0);
        // Replaced during the read: what it read is not taken for the file there now.
        QVERIFY(::rename(QFile::encodeName(two).constData(), QFile::encodeName(db).constData()) == 0);
        testutil::release(db);
        QTRY_COMPARE(prepared->load(), 1);
        QVERIFY(!find(*data, u"st"_qs).error.isEmpty() && data->preparing());
        QTRY_COMPARE(prepared->load(), 2);
        QCOMPARE(find(*data, u"st"_qs).pairs, kAfter);
        QVERIFY(!data->preparing());
        QCOMPARE(find(*data, u"stro"_qs).pairs, QStringList({"stroj=3"}));
        QCOMPARE(std::pair(testutil::heldStarts(dir, db), prepared->load()), std::pair(2, 2));

        // A damaged file: preparing, then the failure (not "preparing"), which
        // stands without another read until the file changes, even when it is
        // mended keeping its size and modification time.
        const QString bad = dir.filePath(u"bad.mdb"_qs);
        writeDb(bad, {{u"x"_qs, u"y"_qs}});
        const QByteArray good = testutil::readBytes(bad);
        const QDateTime modified = QFileInfo(bad).lastModified();
        // The first 4 KiB kept, the rest overwritten: damaged past its header.
        testutil::overwrite(bad, good.left(4096) + QByteArray(good.size() - 4096, 'x'), modified);
        data->setDatabaseName(bad);
        QVERIFY(!find(*data, u"x"_qs).error.isEmpty() && data->preparing());
        testutil::release(bad);
        QTRY_COMPARE(prepared->load(), 3);
        const QString damaged = find(*data, u"x"_qs).error;
        QVERIFY2(!data->preparing() && damaged.contains(u"bad.mdb") && damaged.contains(u"poškozený"), qPrintable(damaged));
        QCOMPARE(find(*data, u"xy"_qs).error, damaged);
        QCOMPARE(std::pair(data->preparing(), testutil::heldStarts(dir, bad)), std::pair(false, 1));
        testutil::overwrite(bad, good, modified);
        QVERIFY(!find(*data, u"x"_qs).error.isEmpty() && data->preparing());
        QTRY_COMPARE(prepared->load(), 4);
        QCOMPARE(find(*data, u"x"_qs).pairs, QStringList({"x=y"}));
        QCOMPARE(testutil::heldStarts(dir, bad), 2);
    }

    void abandonedReadsAreNotWaitedFor()
    {
        const QDir dir = subdir(u"abandon"_qs);
        const QString one = dir.filePath(u"one.mdb"_qs), two = dir.filePath(u"two.mdb"_qs);
        writeDb(one, {{u"jedna"_qs, u"1"_qs}});
        writeDb(two, {{u"jiné"_qs, u"2"_qs}});
        // Held reads here last 10 s unless abandoned; a bound of 2 s only tells
        // whether the step waited for one.
        auto quickly = [](const std::function<void()> &step) {
            QElapsedTimer timer;
            timer.start();
            step();
            return timer.elapsed() < 2000;
        };

        // A new database bound and prepared, its read held.
        auto holdOne = [&](DataControl &control, const QString &name, int timeoutMs = ReadLimits().timeoutMs) {
            const QString db = dir.filePath(name);
            writeDb(db, {{name, u"x"_qs}});
            holdReads(control, dir, timeoutMs);
            control.setDatabaseName(db);
            control.setRequest({u"t"_qs, u"a"_qs, u"b"_qs});
            control.prepare();
            QTRY_COMPARE(testutil::heldStarts(dir, db), 1);
        };

        auto prepared = std::make_shared<std::atomic<int>>(0);
        auto data = nonWaiting(one, QString(), prepared);
        holdReads(*data, dir);
        QVERIFY(!find(*data, u"j"_qs).error.isEmpty() && data->preparing());
        QTRY_COMPARE(testutil::heldStarts(dir, one), 1);
        QVERIFY(quickly([&] { data->setDatabaseName(two); }));
        // The old read, let go now, is neither told nor taken for the new file.
        testutil::release(one);
        testutil::release(two);
        QVERIFY(!find(*data, u"j"_qs).error.isEmpty());
        QTRY_COMPARE(prepared->load(), 1);
        QCOMPARE(find(*data, u"j"_qs).pairs, QStringList({"jiné=2"}));
        QTest::qWait(500);
        QCOMPARE(prepared->load(), 1);
        QCOMPARE(find(*data, u"j"_qs).pairs, QStringList({"jiné=2"}));

        // Other fields while a read is held; then the control goes while one is.
        const QString three = dir.filePath(u"three.mdb"_qs);
        holdOne(*data, u"three.mdb"_qs, 10000);
        QVERIFY(quickly([&] {
            data->setRequest({u"t"_qs, u"b"_qs, u"a"_qs});
            data->prepare();
        }));
        QTRY_COMPARE(testutil::heldStarts(dir, three), 2);
        QVERIFY(quickly([&] { data.reset(); }));
        testutil::release(three);
        QTest::qWait(500);
        QCOMPARE(prepared->load(), 1);

        // The same for a control that waits for reads when refreshed.
        auto waiting = std::make_unique<DataControl>();
        holdOne(*waiting, u"four.mdb"_qs);
        QVERIFY(quickly([&] { waiting.reset(); }));

        // Still reading when the application ends: the exit stops the read
        // rather than hang or run it on past the application's end.
        static DataControl outlivesTheApplication;
        holdOne(outlivesTheApplication, u"five.mdb"_qs);
    }

private:
    QDir subdir(const QString &name)
    {
        const QDir dir(m_dir.filePath(name));
        if (!QDir().mkpath(dir.path()))
            qFatal("cannot make %s", qPrintable(dir.path()));
        return dir;
    }
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestDataControl)
#include "tst_datacontrol.moc"
