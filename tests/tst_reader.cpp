// The reader under fault: whatever libmdb does with a damaged file, the call
// ends within its limits with a message naming the file, and this process
// goes on unharmed.
#include "db/write/JetWriter.h"
#include "db/read/MdbFile.h"
#include "util/Files.h"
#include "util/TestUtil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/stat.h>

using namespace tarnvik;
using namespace testutil;

namespace {

// Rows of t.in read, or -1 with 'error' set.
int countRows(const QString &path, QString *error, const ReadLimits &limits = {})
{
    int rows = 0;
    return MdbFile(path, limits).readRows(u"t"_qs, {u"in"_qs}, [&](const StoredValue *) { ++rows; }, error) ? rows : -1;
}

// What the reader logs (libmdb's prints among it), while alive.
struct ReaderLog
{
    ReaderLog()
    {
        lines.clear();
        QLoggingCategory::setFilterRules(u"tarnvik.read.debug=true"_qs);
        previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &message) {
            if (context.category && std::strcmp(context.category, "tarnvik.read") == 0)
                lines.append(message);
        });
    }
    ~ReaderLog()
    {
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QString());
    }
    QString all() const { return lines.join(u'\n'); }
    static inline QStringList lines;
    QtMessageHandler previous;
};

// This process's peak memory (VmHWM), in KiB.
qint64 peakKib()
{
    const QString status = QString::fromLatin1(readBytes(u"/proc/self/status"_qs));
    return QRegularExpression(u"VmHWM:\\s*(\\d+)"_qs).match(status).captured(1).toLongLong();
}

} // namespace

class TestReader : public QObject
{
    Q_OBJECT
private slots:
    void refusesWhatIsNoDatabase()
    {
        QString error;
        QVERIFY2(!MdbFile(m_dir.filePath(u"missing.mdb"_qs)).tables(&error) && error.contains(u"missing.mdb")
                     && error.contains(u"neexistuje"), qPrintable(error));
        QVERIFY2(!MdbFile(m_dir.path()).tables(&error) && error.contains(u"složka"), qPrintable(error));
        // Each file with the words its refusal names.
        auto refused = [&](const QString &name, const QByteArray &bytes, const QString &cause) {
            writeBytes(m_dir.filePath(name), bytes);
            QVERIFY2(!MdbFile(m_dir.filePath(name)).tables(&error) && error.contains(name) && error.contains(cause),
                     qPrintable(error));
        };
        refused(u"empty.mdb"_qs, {}, u"prázdný"_qs);
        refused(u"text.mdb"_qs, QByteArray(10000, 'x'), u"není databáze"_qs);
        // A FIFO is refused, not opened for a writer that never comes.
        const QString fifo = m_dir.filePath(u"fifo.mdb"_qs);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY2(!MdbFile(fifo).tables(&error) && error.contains(u"fifo.mdb") && error.contains(u"roura"), qPrintable(error));

        // A Jet header of an unknown version, and one that says it is encrypted.
        const QByteArray bytes = readBytes(makeDatabase(u"v.mdb"_qs, 1));
        refused(u"version.mdb"_qs, withByte(bytes, 0x14, 0x09), u"verze"_qs);
        // The database key, under the header's RC4.
        refused(u"crypt.mdb"_qs, withByte(bytes, 0x3E, bytes[0x3E] ^ 0x5A), u"zašifrovaný"_qs);
        refused(u"short.mdb"_qs, bytes.left(2 * 4096), u"zkrácený"_qs);
        // The header and the catalogue's first page intact, every later page zeroed.
        refused(u"wiped.mdb"_qs, bytes.left(4096) + QByteArray(bytes.size() - 4096, 0), u"poškozený"_qs);

        const QString path = makeDatabase(u"cut.mdb"_qs, 5000);
        // Cut the table's data short at a page boundary, where the size alone tells nothing.
        QVERIFY(QFile::resize(path, (QFileInfo(path).size() / 4096 / 2) * 4096));
        QCOMPARE(countRows(path, &error), -1);
        QVERIFY2(error.contains(u"cut.mdb") && error.contains(u"poškozený"), qPrintable(error));

        // One byte short: libmdb reads the last page's rows as Nulls and reports
        // success, so a file that is not whole pages is refused before it is read.
        const QString shortByOne = makeDatabase(u"byte.mdb"_qs, 10);
        QVERIFY(QFile::resize(shortByOne, QFileInfo(shortByOne).size() - 1));
        QCOMPARE(countRows(shortByOne, &error), -1);
        QVERIFY2(error.contains(shortByOne) && error.contains(u"celý počet stránek"), qPrintable(error));

        // The helper refuses such a file too: here it is cut after the caller looked.
        const QString later = makeDatabase(u"later.mdb"_qs, 10);
        QCOMPARE(countRows(later, &error, before(u"cutting-helper"_qs, u"truncate -s -1 \"$2\"\n"_qs)), -1);
        QVERIFY2(error.contains(later) && error.contains(u"celý počet stránek"), qPrintable(error));
    }

    void readStoppedByCancelOrAGrowingFile()
    {
        const QString path = makeDatabase(u"grow.mdb"_qs, 200000);
        std::atomic<bool> cancel = false;
        QString error;
        int rows = 0;
        auto cancelAtTen = [&](const StoredValue *) { cancel = ++rows >= 10; };
        QVERIFY(!MdbFile(path).readRows(u"t"_qs, {u"in"_qs}, cancelAtTen, &error, &cancel));
        QVERIFY2(error.contains(u"zrušeno") && rows < 200000, qPrintable(error));

        bool grown = false;
        auto grow = [&](const StoredValue *) {
            QFile f(path);
            if (!std::exchange(grown, true) && f.open(QIODevice::Append))
                f.write(QByteArray(4096 * 8, '\x01'));
        };
        QVERIFY2(!MdbFile(path).readRows(u"t"_qs, {u"in"_qs, u"out"_qs}, grow, &error) && grown
                     && error.contains(u"grow.mdb") && error.contains(u"změnil"), qPrintable(error));
        // The next read of the now stable file goes through.
        QVERIFY2(countRows(path, &error) > 0, qPrintable(error));
    }

    void damagedRealFiles()
    {
        // One byte changed, found by fuzzing: libmdb loops for good on the first
        // two (eating memory and printing warnings; mdb-export reads the second
        // whole), dies of SIGSEGV on the third.
        const struct { const char16_t *file; qint64 offset; int value; const char16_t *cause; } cases[] = {
            {u"jk_test2V2000.mdb", 130334, 0xFF, u"zastavilo"},
            {u"mr_password_V2003_no-password.mdb", 71089, 0x00, u"zastavilo"},
            {u"jk_testV1997.mdb", 4131, 177, u"selhalo"},
        };
        for (const auto &c : cases) {
            const QString file = QString::fromUtf16(c.file), damaged = damagedCopy(file, c.offset, c.value);
            if (damaged.isEmpty())
                QSKIP("TARNVIK_CORPUS_DIR is not set or lacks the file");

            // Stopped for making no progress, long before the time limit.
            ReadLimits limits;
            limits.timeoutMs = 60000;
            QElapsedTimer timer;
            timer.start();
            QString error;
            QVERIFY2(!MdbFile(damaged, limits).tables(&error) && error.contains(damaged) && error.contains(u"poškozený")
                         && error.contains(QStringView(c.cause)), qPrintable(damaged + u": "_qs + error));
            QVERIFY2(timer.elapsed() < limits.stallMs + 3000, qPrintable(damaged + u' ' + QString::number(timer.elapsed())));
            // Unharmed: the undamaged original still reads.
            QVERIFY2(MdbFile(corpusDir() + u'/' + file).tables(&error), qPrintable(error));
        }
    }

    void onlyAWholeStreamOfRecordsIsRead()
    {
        // Whatever the helper prints on its standard output and error, even what
        // looks like records, is log, not records.
        const QString path = makeDatabase(u"prints.mdb"_qs, 1000);
        const ReadLimits printer = before(u"printing-helper"_qs, u"printf 'TVKREAD1\\nX\\004\\004\\000\\000\\000rows'\n"
                                                                 "echo 'warning: on the error output' >&2\n"_qs);
        QString error;
        {
            ReaderLog log;
            QCOMPARE(countRows(path, &error, printer), 1000);
            QVERIFY2(log.all().contains(u"warning: on the error output") && log.all().contains(u"TVKREAD1"),
                     qPrintable(log.all()));
        }

        // A helper that ends well after records that do not add up: the rows it
        // counts are not the rows it sent (no count at all, a row fewer or more
        // than counted), or something follows its count (a row cut short, any
        // record).
        const QString one = makeDatabase(u"whole.mdb"_qs, 1);
        const QString row = u"R\\001\\000\\000\\000a"_qs;
        auto done = [](int n) { return QStringLiteral("E\\%1\\000\\000\\000\\000\\000\\000\\000").arg(n, 3, 8, QChar(u'0')); };
        auto read = [&](const QString &records, QString *error) {
            const QString helper = script(u"counting-helper"_qs, QStringLiteral("printf 'TVKREAD1\\n%1' >&3\n").arg(records));
            return countRows(one, error, {.helper = helper});
        };
        QCOMPARE(read(row + done(1), &error), 1);
        for (const QString &records : {row, row + done(2), row + row + done(1), row + done(1) + u"R\\001\\000"_qs,
                                       row + done(1) + u"P"_qs})
            QVERIFY2(read(records, &error) == -1 && error.contains(u"whole.mdb") && error.contains(u"poškozený"),
                     qPrintable(records + u": "_qs + error));

        // A damaged property block that mdb-export reads past: libmdb dumps it on
        // its standard output, which once broke the records.
        const QString damaged = damagedCopy(u"mr_password_V2003_no-password.mdb"_qs, 71085, 0x00);
        if (damaged.isEmpty())
            QSKIP("TARNVIK_CORPUS_DIR is not set or lacks the file");
        ReaderLog log;
        QVERIFY2(MdbFile(damaged).tables(&error), qPrintable(error));
        QVERIFY(log.all().contains(u"0000x  00 52 32 00"));
        const auto data = readAll(damaged, u"Table1"_qs, {u"Data"_qs}, &error);
        QVERIFY2(data && *data == std::vector<Row>({{u"One"_qs}, {u"Two"_qs}, {u"Three"_qs}}), qPrintable(error));
    }

    void helperStoppedAtItsLimits()
    {
        // Nothing but warnings, on both outputs, for good: stopped once it has
        // sent nothing for the no-progress limit, of the warnings only the last
        // kept, this process no bigger for them.
        const QString path = makeDatabase(u"stall.mdb"_qs, 10);
        ReadLimits limits{.stallMs = 2000,
                          .helper = script(u"stalling-helper"_qs, u"yes 'warning: on the error output' >&2 3>&- &\n"
                                                                  "exec yes 'warning: page 7 is damaged'\n"_qs)};
        QFile clear(u"/proc/self/clear_refs"_qs);
        const bool peakReset = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
        clear.close();
        const qint64 peakBefore = peakKib();
        ReaderLog log;
        QElapsedTimer timer;
        timer.start();
        QString error;
        QCOMPARE(countRows(path, &error, limits), -1);
        QVERIFY2(timer.elapsed() < limits.stallMs + 1500, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(error.contains(path) && error.contains(u"zastavilo"), qPrintable(error));
        const QRegularExpressionMatch printed =
            QRegularExpression(u"helper printed (\\d+) bytes, ending with:"_qs).match(log.all());
        QVERIFY2(printed.hasMatch(), qPrintable(log.all().left(500)));
        QVERIFY2(printed.captured(1).toLongLong() > 16 << 20, qPrintable(printed.captured(1)));
        QVERIFY2(log.all().contains(u"damaged\nwarning: page 7 is damaged\n"_qs)
                     || log.all().contains(u"output\nwarning: on the error output\n"_qs),
                 qPrintable(log.all().right(300)));
        QVERIFY2(log.all().size() < 16384, qPrintable(QString::number(log.all().size())));
        if (peakReset)
            QVERIFY2(peakKib() - peakBefore < 16 * 1024, qPrintable(QString::number(peakKib() - peakBefore)));

        // Busy without a word, as libmdb looping inside one call: stopped too.
        limits.helper = script(u"spinning-helper"_qs, u"while :; do :; done\n"_qs);
        timer.restart();
        QCOMPARE(countRows(path, &error, limits), -1);
        QVERIFY2(timer.elapsed() < limits.stallMs + 1500, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(error.contains(path) && error.contains(u"zastavilo"), qPrintable(error));

        // Waiting, as for a disk that spins up, is no stall: the read goes on.
        limits = before(u"sleeping-helper"_qs, u"sleep 3\n"_qs);
        limits.stallMs = 1000;
        QCOMPARE(countRows(path, &error, limits), 10);

        // Nor is a flood of warnings beside a helper that reads (as libmdb's on a
        // damaged file): the records come through, and the read ends when the
        // helper does.
        limits = before(u"flooding-helper"_qs, u"yes 'warning: page 7 is damaged' >&2 3>&- &\n"_qs);
        limits.timeoutMs = 30000; // waiting for the end of the warnings would end here
        QCOMPARE(countRows(makeDatabase(u"flood.mdb"_qs, 1000), &error, limits), 1000);

        // A memo of 11 MB, read into 24 MiB: the helper runs out and aborts; the
        // same read under the usual limit goes through.
        const QString mem = m_dir.filePath(u"mem.mdb"_qs);
        QVERIFY2(writeTable(mem, u"t"_qs, {{u"in"_qs}, {u"out"_qs, JetWriter::FieldType::Memo}},
                            {{u"big"_qs, QString(5500000, u'ř')}}, &error),
                 qPrintable(error));
        limits = {};
        limits.memoryBytes = 24 << 20;
        QVERIFY2(!MdbFile(mem, limits).readRows(u"t"_qs, {u"out"_qs}, [](const StoredValue *) {}, &error)
                     && error.contains(u"mem.mdb") && error.contains(u"poškozený"), qPrintable(error));
        const auto whole = readAll(mem, u"t"_qs, {u"out"_qs}, &error);
        QVERIFY2(whole && whole->at(0)[0] == QString(5500000, u'ř'), qPrintable(error));
    }
private:
    QString makeDatabase(const QString &name, int rows)
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

    QString script(const QString &name, const QString &body) { return writeScript(m_dir.filePath(name), body); }
    // The real helper, with 'body' run before it.
    ReadLimits before(const QString &name, const QString &body)
    {
        return {.helper = script(name, body + QStringLiteral("exec '%1' \"$@\"\n").arg(MdbFile::helperPath()))};
    }
    // A copy of a corpus file with one byte changed; empty without the corpus.
    QString damagedCopy(const QString &file, qint64 offset, int value)
    {
        const QByteArray bytes = corpusDir().isEmpty() ? QByteArray() : readBytes(corpusDir() + u'/' + file);
        if (bytes.isEmpty())
            return QString();
        if (offset >= bytes.size())
            qFatal("%s is shorter than expected", qPrintable(file));
        const QString damaged = m_dir.filePath(QStringLiteral("damaged-%1-%2").arg(offset).arg(file));
        writeBytes(damaged, withByte(bytes, offset, value));
        return damaged;
    }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestReader)
#include "tst_reader.moc"
