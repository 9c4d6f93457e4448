// The reader under fault: whatever libmdb does with a damaged file, the call
// ends within its limits with a message naming the file, and this process
// goes on unharmed.
#include "db/write/JetWriter.h"
#include "db/read/MdbFile.h"
#include "util/TestUtil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace tarnvik;
using namespace testutil;

class TestReader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void refusesWhatIsNoDatabase();
    void truncatedFileIsDamaged();
    void fileGrowingWhileReadIsReported();
    void memoryLimitEndsTheHelper();
    void damagedRealFiles_data();
    void damagedRealFiles();
    void cancelStopsTheRead();
    void floodOfWarningsIsNotRead();

private:
    QString makeDatabase(const QString &name, int rows);
    void writeScript(const QString &path, const QString &body);
    QTemporaryDir m_dir;
};

void TestReader::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestReader::makeDatabase(const QString &name, int rows)
{
    const QString path = m_dir.filePath(name);
    std::vector<Row> data;
    for (int i = 0; i < rows; ++i)
        data.push_back({QStringLiteral("slovo %1").arg(i), QStringLiteral("význam %1").arg(i)});
    QString error;
    if (!writeTable(path, u"t"_qs, {{u"in"_qs}, {u"out"_qs}}, data, &error))
        qFatal("%s", qPrintable(error));
    return path;
}

void TestReader::writeScript(const QString &path, const QString &body)
{
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    script.write("#!/bin/sh\n" + body.toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestReader::refusesWhatIsNoDatabase()
{
    QString error;
    QVERIFY(!MdbFile(m_dir.filePath(u"missing.mdb"_qs)).tables(&error));
    QVERIFY(error.contains(u"missing.mdb") && error.contains(u"neexistuje"));
    QVERIFY(!MdbFile(m_dir.path()).tables(&error));
    QVERIFY(error.contains(u"složka"));
    QFile empty(m_dir.filePath(u"empty.mdb"_qs));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QVERIFY(!MdbFile(empty.fileName()).tables(&error));
    QVERIFY(error.contains(u"empty.mdb") && error.contains(u"prázdný"));
    QFile text(m_dir.filePath(u"text.mdb"_qs));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write(QByteArray(10000, 'x'));
    text.close();
    QVERIFY(!MdbFile(text.fileName()).tables(&error));
    QVERIFY(error.contains(u"text.mdb") && error.contains(u"není databáze"));

    // A Jet header of an unknown version, and one that says it is encrypted.
    QFile good(makeDatabase(u"v.mdb"_qs, 1));
    QVERIFY(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();
    QByteArray version = bytes;
    version[0x14] = char(0x09);
    QFile bad(m_dir.filePath(u"version.mdb"_qs));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(version);
    bad.close();
    QVERIFY(!MdbFile(bad.fileName()).tables(&error));
    QVERIFY(error.contains(u"verze"));
    QByteArray keyed = bytes;
    keyed[0x3E] = char(keyed[0x3E] ^ 0x5A); // the database key, under the header's RC4
    QFile crypt(m_dir.filePath(u"crypt.mdb"_qs));
    QVERIFY(crypt.open(QIODevice::WriteOnly));
    crypt.write(keyed);
    crypt.close();
    QVERIFY(!MdbFile(crypt.fileName()).tables(&error));
    QVERIFY(error.contains(u"crypt.mdb") && error.contains(u"zašifrovaný"));
}

void TestReader::truncatedFileIsDamaged()
{
    const QString path = makeDatabase(u"cut.mdb"_qs, 5000);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    const qint64 full = f.size();
    // Cut the table's data short at a page boundary, where the size alone tells nothing.
    QVERIFY(f.resize((full / 4096 / 2) * 4096));
    f.close();
    QString error;
    int rows = 0;
    QVERIFY(!MdbFile(path).readRows(u"t"_qs, {u"in"_qs}, [&](const StoredValue *) { ++rows; }, &error));
    QVERIFY2(error.contains(u"cut.mdb") && error.contains(u"poškozený"), qPrintable(error));

    // One byte short: libmdb reads the last page's rows as Nulls and reports
    // success, so a file that is not whole pages is refused before it is read.
    const QString shortByOne = makeDatabase(u"byte.mdb"_qs, 10);
    QVERIFY(QFile::resize(shortByOne, QFileInfo(shortByOne).size() - 1));
    QVERIFY(!MdbFile(shortByOne).readRows(u"t"_qs, {u"in"_qs}, [](const StoredValue *) {}, &error));
    QVERIFY2(error.contains(shortByOne) && error.contains(u"celý počet stránek"), qPrintable(error));
    QVERIFY(!MdbFile(shortByOne).tables(&error));
    QVERIFY2(error.contains(shortByOne) && error.contains(u"celý počet stránek"), qPrintable(error));

    // The helper refuses such a file too: here it is cut after the caller looked.
    const QString later = makeDatabase(u"later.mdb"_qs, 10);
    const QString cutter = m_dir.filePath(u"cutting-helper"_qs);
    writeScript(cutter, QStringLiteral("truncate -s -1 \"$2\"\nexec '%1' \"$@\"\n").arg(MdbFile::helperPath()));
    ReadLimits limits;
    limits.helper = cutter;
    QVERIFY(!MdbFile(later, limits).readRows(u"t"_qs, {u"in"_qs}, [](const StoredValue *) {}, &error));
    QVERIFY2(error.contains(later) && error.contains(u"celý počet stránek"), qPrintable(error));

    // A real file where the lost byte costs a row that libmdb reads as Nulls.
    const QString corpus = corpusDir();
    if (corpus.isEmpty())
        QSKIP("TARNVIK_CORPUS_DIR is not set");
    QFile real(corpus + u"/jk_delTestV1997.mdb"_qs);
    if (!real.open(QIODevice::ReadOnly))
        QSKIP("corpus file missing");
    const QString realCut = m_dir.filePath(u"delTest-cut.mdb"_qs);
    QFile out(realCut);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(real.readAll().chopped(1));
    out.close();
    QVERIFY(!MdbFile(realCut).readRows(u"Table"_qs, {u"a"_qs}, [](const StoredValue *) {}, &error));
    QVERIFY2(error.contains(realCut) && error.contains(u"celý počet stránek"), qPrintable(error));
}

void TestReader::fileGrowingWhileReadIsReported()
{
    const QString path = makeDatabase(u"grow.mdb"_qs, 200000);
    QString error;
    bool grown = false;
    const bool ok = MdbFile(path).readRows(
        u"t"_qs, {u"in"_qs, u"out"_qs},
        [&](const StoredValue *) {
            if (grown)
                return;
            grown = true;
            QFile f(path);
            if (f.open(QIODevice::Append))
                f.write(QByteArray(4096 * 8, '\x01'));
        },
        &error);
    QVERIFY(grown);
    QVERIFY(!ok);
    QVERIFY2(error.contains(u"grow.mdb") && error.contains(u"změnil"), qPrintable(error));
    // The next read of the now stable file goes through.
    QVERIFY2(MdbFile(path).readRows(u"t"_qs, {u"in"_qs}, [](const StoredValue *) {}, &error), qPrintable(error));
}

void TestReader::memoryLimitEndsTheHelper()
{
    const QString path = makeDatabase(u"mem.mdb"_qs, 10);
    ReadLimits limits;
    limits.memoryBytes = 24 << 20; // too little for the helper's value buffers: it aborts
    QString error;
    QVERIFY(!MdbFile(path, limits).readRows(u"t"_qs, {u"in"_qs}, [](const StoredValue *) {}, &error));
    QVERIFY2(error.contains(u"mem.mdb") && error.contains(u"poškozený"), qPrintable(error));
}

void TestReader::damagedRealFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<int>("value");
    // One byte changed, found by fuzzing: libmdb loops for good on the first,
    // dies of SIGSEGV on the second.
    QTest::newRow("loops") << u"jk_test2V2000.mdb"_qs << qint64(130334) << 0xFF;
    QTest::newRow("crashes") << u"jk_testV1997.mdb"_qs << qint64(4131) << 177;
}

void TestReader::damagedRealFiles()
{
    QFETCH(QString, file);
    QFETCH(qint64, offset);
    QFETCH(int, value);
    const QString corpus = corpusDir();
    if (corpus.isEmpty())
        QSKIP("TARNVIK_CORPUS_DIR is not set");
    QFile in(corpus + u'/' + file);
    if (!in.open(QIODevice::ReadOnly))
        QSKIP("corpus file missing");
    QByteArray bytes = in.readAll();
    QVERIFY(offset < bytes.size());
    bytes[offset] = char(value);
    const QString damaged = m_dir.filePath(u"damaged-"_qs + file);
    QFile out(damaged);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(bytes);
    out.close();

    ReadLimits limits;
    limits.timeoutMs = 3000;
    QElapsedTimer timer;
    timer.start();
    QString error;
    QVERIFY(!MdbFile(damaged, limits).tables(&error));
    QVERIFY(timer.elapsed() < limits.timeoutMs + 3000);
    QVERIFY2(error.contains(damaged), qPrintable(error));
    QVERIFY2(error.contains(u"poškozený"), qPrintable(error));
    // Unharmed: the undamaged original still reads.
    QVERIFY2(MdbFile(in.fileName()).tables(&error), qPrintable(error));
}

void TestReader::cancelStopsTheRead()
{
    const QString path = makeDatabase(u"cancel.mdb"_qs, 100000);
    std::atomic<bool> cancel = false;
    QString error;
    int rows = 0;
    QVERIFY(!MdbFile(path).readRows(
        u"t"_qs, {u"in"_qs},
        [&](const StoredValue *) {
            if (++rows == 10)
                cancel = true;
        },
        &error, &cancel));
    QVERIFY(error.contains(u"zrušeno"));
    QVERIFY(rows < 100000);
}

void TestReader::floodOfWarningsIsNotRead()
{
    // A helper that writes warnings for as long as anyone reads them (as libmdb
    // can on a damaged file), then reads: the read must not wait for the end of
    // the warnings, nor fail for the pipe that was closed on them.
    const QString path = makeDatabase(u"flood.mdb"_qs, 1000);
    const QString helper = m_dir.filePath(u"flooding-helper"_qs);
    QFile script(helper);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\nyes 'warning: page 7 is damaged' >&2\nexec '%1' \"$@\"\n")
                     .arg(MdbFile::helperPath())
                     .toUtf8());
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    ReadLimits limits;
    limits.helper = helper;
    limits.timeoutMs = 30000; // reading every warning would end here
    QString error;
    int rows = 0;
    QVERIFY2(MdbFile(path, limits).readRows(u"t"_qs, {u"in"_qs}, [&](const StoredValue *) { ++rows; }, &error),
             qPrintable(error));
    QCOMPARE(rows, 1000);
}

QTEST_GUILESS_MAIN(TestReader)
#include "tst_reader.moc"
