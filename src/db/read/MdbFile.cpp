#include "MdbFile.h"

#include "db/jet/Charset.h"
#include "db/jet/JetHeader.h"
#include "db/read/ReadProtocol.h"
#include "platform/Files.h"
#include "db/read/RecordParser.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QStringDecoder>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <cstring>
#include <poll.h>
#include <string_view>
#include <sys/prctl.h>
#include <sys/resource.h>

Q_LOGGING_CATEGORY(lcRead, "tarnvik.read", QtWarningMsg)

namespace tarnvik {

namespace {

QString tr(const char *s) { return QCoreApplication::translate("MdbFile", s); }

uint32_t get32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

QString hexName(const QString &name, const FileFormat &format)
{
    QByteArray bytes = name.toUtf8();
    if (format.jet3()) {
        if (const CodePage *cp = CodePage::get(format.codePage))
            cp->encode(name, &bytes);
        else
            bytes = name.toLatin1();
    }
    return QString::fromLatin1(bytes.toHex());
}

struct Stamp
{
    qint64 size;
    QDateTime modified;
    bool operator==(const Stamp &) const = default;
};

Stamp stampOf(const QString &path)
{
    const QFileInfo fi(path);
    return {fi.size(), fi.lastModified()};
}

// Our end reads without blocking; neither end outlives an exec.
bool openPipe(UniqueFd *ours, UniqueFd *helpers)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    ours->reset(fds[0]);
    helpers->reset(fds[1]);
    fcntl(ours->get(), F_SETFL, O_NONBLOCK);
    return true;
}

constexpr qint64 kDrainMs = 50;

// The end of what the helper printed. libmdb looping on a damaged file prints
// tens of megabytes a second, and only the last lines say anything.
class PrintedTail
{
public:
    static constexpr qsizetype kKept = 8192;

    // Reads what the pipe holds, at most 1 MiB; closes it at its end.
    void drain(UniqueFd *pipe)
    {
        char buf[64 * 1024];
        for (int i = 0; i < 16 && pipe->valid(); ++i) {
            const ssize_t n = ::read(pipe->get(), buf, sizeof buf);
            if (n > 0) {
                append(buf, n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return;
            pipe->reset();
        }
    }
    QByteArray text() const { return m_text.right(kKept); }
    qint64 total() const { return m_total; }

private:
    void append(const char *data, qsizetype n)
    {
        m_total += n;
        if (n >= kKept) {
            m_text = QByteArray(data + n - kKept, kKept);
            return;
        }
        m_text.append(data, n);
        if (m_text.size() > 2 * kKept)
            m_text.remove(0, m_text.size() - kKept);
    }
    QByteArray m_text;
    qint64 m_total = 0;
};

// Whether a helper that sends nothing is stuck or only waiting. A busy one
// (running or ready to run, or printing) is stuck: so libmdb loops on a
// damaged file, often inside one call. One that waits for the disk (spinning
// up, or a slow network share) is left to the time limit alone.
class StallWatch
{
public:
    static constexpr qint64 kBusyPrinting = 1 << 20;

    StallWatch(qint64 pid, int stallMs)
        : m_stat(QByteArray("/proc/") + QByteArray::number(pid) + "/stat")
        , m_stallMs(stallMs)
    {
        m_quiet.start();
    }
    void progressed(qint64 printed)
    {
        m_quiet.restart();
        m_samples = m_busy = 0;
        m_printedAt = printed;
    }
    void sample()
    {
        ++m_samples;
        m_busy += runnable();
    }
    qint64 left() const { return std::max<qint64>(m_stallMs - m_quiet.elapsed(), 0); }
    bool stalled(qint64 printed)
    {
        if (left() > 0)
            return false;
        if ((m_samples > 0 && 2 * m_busy >= m_samples) || printed - m_printedAt >= kBusyPrinting)
            return true;
        progressed(printed); // it waited all along: watched afresh
        return false;
    }

private:
    bool runnable() const
    {
        // "pid (name) state ...": the name may hold anything, the state
        // follows its last parenthesis.
        char buf[512];
        const UniqueFd file(::open(m_stat.constData(), O_RDONLY | O_CLOEXEC));
        if (!file.valid())
            return false;
        const ssize_t n = ::read(file.get(), buf, sizeof buf - 1);
        if (n <= 0)
            return false;
        const std::string_view stat(buf, size_t(n));
        const size_t paren = stat.rfind(')');
        return paren != std::string_view::npos && paren + 2 < stat.size() && stat[paren + 2] == 'R';
    }

    QByteArray m_stat;
    int m_stallMs;
    QElapsedTimer m_quiet; // since the last bytes of records
    int m_samples = 0, m_busy = 0;
    qint64 m_printedAt = 0;
};

} // namespace

MdbFile::MdbFile(QString path, ReadLimits limits)
    : m_path(std::move(path))
    , m_limits(limits)
{
}

QString MdbFile::helperPath()
{
    // The installed tree is looked at relative to the program before the
    // prefix it was built for: a package may put it under another prefix,
    // or it may be unpacked anywhere.
    const QString appDir = QCoreApplication::applicationDirPath();
    for (const QString &dir : {appDir, appDir + QStringLiteral("/" TARNVIK_LIBEXEC_FROM_BIN)}) {
        const QString candidate = QDir::cleanPath(dir + QStringLiteral("/tarnvik-mdbread"));
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return QStringLiteral(TARNVIK_LIBEXEC_DIR "/tarnvik-mdbread");
}

QString MdbFile::storedText(QByteArrayView bytes, const FileFormat &format)
{
    if (!format.jet3()) {
        // A leading U+FEFF is part of the value, not a byte order mark.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        return utf8(bytes);
    }
    if (const CodePage *cp = CodePage::get(format.codePage))
        return cp->decode(bytes);
    return QString::fromLatin1(bytes);
}

std::optional<FileFormat> MdbFile::probe(QString *error) const
{
    const RegularFile file = openRegularFile(m_path);
    switch (file.problem) {
    case RegularFile::Missing:
        *error = tr("Soubor „%1“ neexistuje.").arg(m_path);
        return std::nullopt;
    case RegularFile::Failed:
        *error = tr("Soubor „%1“ nelze číst: %2").arg(m_path, systemMessage(file.error));
        return std::nullopt;
    case RegularFile::Folder:
        *error = tr("„%1“ je složka, ne soubor databáze.").arg(m_path);
        return std::nullopt;
    case RegularFile::NotRegular:
        *error = tr("„%1“ není soubor databáze, ale roura, zařízení nebo soket.").arg(m_path);
        return std::nullopt;
    case RegularFile::None:
        break;
    }
    const int fd = file.fd.get();
    const qint64 size = file.size;
    if (size == 0) {
        *error = tr("Soubor „%1“ je prázdný.").arg(m_path);
        return std::nullopt;
    }
    QByteArray page(4096, Qt::Uninitialized);
    ssize_t got;
    do
        got = ::pread(fd, page.data(), size_t(page.size()), 0);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        *error = tr("Soubor „%1“ nelze číst: %2").arg(m_path, systemMessage(errno));
        return std::nullopt;
    }
    page.truncate(got);
    const bool jetMagic = page.size() >= 0x20 && page.at(0) == 0
        && (page.mid(4, 15) == "Standard Jet DB" || page.mid(4, 15) == "Standard ACE DB");
    if (!jetMagic) {
        *error = tr("Soubor „%1“ není databáze Access.").arg(m_path);
        return std::nullopt;
    }
    FileFormat format;
    format.jetVersion = uint8_t(page.at(jetheader::kVersionAt));
    if (format.jetVersion > 6) {
        *error = tr("Soubor „%1“ je databáze Access nepodporované verze (%2).").arg(m_path).arg(format.jetVersion);
        return std::nullopt;
    }
    const int pageSize = format.jet3() ? 2048 : 4096;
    if (page.size() < pageSize || size < 3 * pageSize) {
        *error = tr("Soubor „%1“ je zkrácený: databáze musí mít aspoň tři stránky.").arg(m_path);
        return std::nullopt;
    }
    // libmdb reads a page cut short as rows of Nulls, and the read looks whole.
    if (size % pageSize != 0) {
        *error = tr("Soubor „%1“ je poškozený nebo zkrácený: jeho délka (%2 bajtů) není celý počet stránek po %3 "
                    "bajtech.")
                     .arg(m_path)
                     .arg(size)
                     .arg(pageSize);
        return std::nullopt;
    }
    jetheader::rc4(reinterpret_cast<uint8_t *>(page.data() + jetheader::kScrambledAt),
                   jetheader::scrambledLength(format.jet3()));
    format.codePage = uint8_t(page.at(jetheader::kCodePageAt)) | uint8_t(page.at(jetheader::kCodePageAt + 1)) << 8;
    if (get32(page.constData() + jetheader::kDatabaseKeyAt) != 0) {
        *error = tr("Soubor „%1“ je zašifrovaný; Tarnvik šifrované databáze neumí číst.").arg(m_path);
        return std::nullopt;
    }
    return format;
}

bool MdbFile::run(const QStringList &args, int fieldsPerRow, const std::function<bool(char, QByteArrayView)> &onRecord,
                  const std::function<bool(const StoredValue *)> &onRow, QString *error,
                  const std::atomic<bool> *cancel) const
{
    const Stamp before = stampOf(m_path);
    // Records come over a pipe of their own; libmdb's prints go to another,
    // of which only the end is kept.
    UniqueFd records, recordsEnd, printed, printedEnd;
    if (!openPipe(&records, &recordsEnd) || !openPipe(&printed, &printedEnd)) {
        *error = tr("Pomocný program pro čtení databází nelze spustit: %1").arg(systemMessage(errno));
        return false;
    }
    // A wider pipe lets the helper read ahead while rows are indexed; the
    // default 64 KiB keeps the two processes waiting for each other.
    fcntl(records.get(), F_SETPIPE_SZ, 1 << 20);
    fcntl(printed.get(), F_SETPIPE_SZ, 1 << 20);

    QProcess proc;
    proc.setProgram(m_limits.helper.isEmpty() ? helperPath() : m_limits.helper);
    proc.setArguments(args);
    proc.setStandardInputFile(QProcess::nullDevice());
    proc.setStandardOutputFile(QProcess::nullDevice());
    proc.setStandardErrorFile(QProcess::nullDevice());
    const ReadLimits limits = m_limits;
    proc.setChildProcessModifier([limits, channelFd = recordsEnd.get(), printFd = printedEnd.get()] {
        // Runs in the child between fork and exec: plain system calls only.
        // Both are first copied above the descriptors they go to, so that
        // neither is overwritten before it is copied.
        const int channel = fcntl(channelFd, F_DUPFD_CLOEXEC, 10);
        const int print = fcntl(printFd, F_DUPFD_CLOEXEC, 10);
        dup2(print, STDOUT_FILENO);
        dup2(print, STDERR_FILENO);
        dup2(channel, readproto::kChannel);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setpriority(PRIO_PROCESS, 0, 10);
        const rlim_t cpu = rlim_t(limits.timeoutMs / 1000 + 2);
        const rlimit cpuLimit{cpu, cpu};
        setrlimit(RLIMIT_CPU, &cpuLimit);
        const rlimit memLimit{rlim_t(limits.memoryBytes), rlim_t(limits.memoryBytes)};
        setrlimit(RLIMIT_AS, &memLimit);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
    });
    proc.start(QIODevice::ReadOnly);
    const bool started = proc.waitForStarted(10000);
    // The helper's ends: only the helper may hold them, or the end of its
    // records would never be seen.
    recordsEnd.reset();
    printedEnd.reset();
    if (!started) {
        *error = tr("Pomocný program pro čtení databází (%1) nelze spustit: %2").arg(proc.program(), proc.errorString());
        return false;
    }

    enum class End { Finished, Stopped, Cancelled, TimedOut, Stalled };
    End end = End::Finished;
    QDeadlineTimer deadline(limits.timeoutMs);
    StallWatch watch(proc.processId(), limits.stallMs);
    QElapsedTimer sinceDrain;
    sinceDrain.start();
    RecordParser parser(fieldsPerRow);
    PrintedTail tail;
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    auto readRecords = [&] {
        const ssize_t n = ::read(records.get(), chunk.data(), size_t(chunk.size()));
        if (n > 0) {
            if (!parser.feed(QByteArrayView(chunk.constData(), n), onRecord, onRow))
                end = End::Stopped;
            watch.progressed(tail.total()); // the time our rows took is not the helper's silence
        }
        return n;
    };
    while (end == End::Finished) {
        if (cancel && cancel->load()) {
            end = End::Cancelled;
            break;
        }
        if (deadline.hasExpired()) {
            end = End::TimedOut;
            break;
        }
        if (watch.stalled(tail.total())) {
            end = End::Stalled;
            break;
        }
        // The prints are read a bounded amount at a time, at most every
        // kDrainMs: a flood of warnings costs the helper waits, not us a core.
        const bool drainNow = printed.valid() && sinceDrain.elapsed() >= kDrainMs;
        pollfd fds[2] = {{records.get(), POLLIN, 0}, {printed.get(), POLLIN, 0}};
        const qint64 wait = std::min({deadline.remainingTime(), watch.left(), qint64(100),
                                      drainNow || !printed.valid() ? qint64(100) : kDrainMs - sinceDrain.elapsed()});
        const int ready = ::poll(fds, drainNow ? 2 : 1, int(std::max<qint64>(wait, 0)));
        if (ready < 0 && errno != EINTR)
            break;
        if (drainNow && fds[1].revents) {
            tail.drain(&printed);
            sinceDrain.restart();
        }
        watch.sample();
        if (fds[0].revents) {
            const ssize_t n = readRecords();
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                break; // the helper has ended, or closed its records
            continue;
        }
        // A helper that has ended while something it started still holds the
        // records' pipe is not waited for: what it sent is read, and that is all.
        if (proc.waitForFinished(0)) {
            while (end == End::Finished && readRecords() > 0) {
            }
            break;
        }
    }
    if (end != End::Finished) {
        proc.kill();
        proc.waitForFinished(5000);
    } else if (!proc.waitForFinished(int(std::clamp<qint64>(deadline.remainingTime(), 100, 5000)))) {
        proc.kill();
        proc.waitForFinished(5000);
    }
    tail.drain(&printed);
    if (tail.total() > 0)
        qCDebug(lcRead).noquote() << "helper printed" << tail.total() << "bytes, ending with:" << tail.text();

    switch (end) {
    case End::Cancelled:
        *error = tr("Čtení souboru „%1“ bylo zrušeno.").arg(m_path);
        return false;
    case End::TimedOut:
        *error = tr("Čtení souboru „%1“ trvalo déle než %2 s; soubor je nejspíš poškozený.")
                     .arg(m_path)
                     .arg(limits.timeoutMs / 1000.0);
        return false;
    case End::Stalled:
        *error = tr("Čtení souboru „%1“ se zastavilo: %2 s nepřišel žádný řádek; soubor je nejspíš poškozený.")
                     .arg(m_path)
                     .arg(limits.stallMs / 1000.0);
        return false;
    case End::Stopped:
        if (!parser.isMalformed())
            return false; // a record carried the error, or the caller said stop
        break;
    case End::Finished:
        break;
    }
    if (parser.isMalformed() || proc.exitStatus() != QProcess::NormalExit || proc.exitCode() != 0
        || !parser.complete()) {
        *error = tr("Soubor „%1“ je poškozený nebo v nepodporovaném formátu: jeho čtení selhalo.").arg(m_path);
        return false;
    }
    if (!(stampOf(m_path) == before)) {
        *error = tr("Soubor „%1“ se během čtení změnil; zkuste to znovu.").arg(m_path);
        return false;
    }
    return true;
}

// Turns the helper's error record into a message naming the file and the cause.
QString MdbFile::errorMessage(QByteArrayView payload, const QString &table, const QStringList &fields) const
{
    const auto kind = readproto::ErrorKind(uint8_t(payload.at(0)));
    const QString detail = QString::fromUtf8(payload.sliced(5));
    const int k = detail.toInt();
    const QString field = (k >= 0 && k < fields.size()) ? fields[k] : detail;
    switch (kind) {
    case readproto::NoSuchTable:
        return tr("V souboru „%1“ není tabulka „%2“.").arg(m_path, table);
    case readproto::NoSuchField:
        return tr("Tabulka „%2“ v souboru „%1“ nemá pole „%3“.").arg(m_path, table, field);
    case readproto::Unsupported:
        return tr("Pole „%3“ tabulky „%2“ v souboru „%1“ nelze číst jako text.").arg(m_path, table, field);
    case readproto::TooLong:
        return tr("Hodnota pole „%3“ tabulky „%2“ v souboru „%1“ je delší, než lze přečíst.")
            .arg(m_path, table, field);
    case readproto::OpenFailed:
        return tr("Soubor „%1“ nelze otevřít jako databázi Access.").arg(m_path);
    case readproto::Damaged:
        break;
    }
    if (detail == u"pages")
        return tr("Soubor „%1“ je poškozený nebo zkrácený: jeho délka není celý počet stránek.").arg(m_path);
    const QString what = detail == u"catalogue" ? tr("seznam tabulek")
        : detail == u"rows"                     ? tr("část řádků tabulky „%1“").arg(table)
                                                : tr("definici tabulky „%1“").arg(table);
    return tr("Soubor „%1“ je poškozený: %2 nelze přečíst.").arg(m_path, what);
}

std::optional<QList<TableInfo>> MdbFile::tables(QString *error) const
{
    const auto format = probe(error);
    if (!format)
        return std::nullopt;
    QList<TableInfo> out;
    QString failure;
    auto onRecord = [&](char tag, QByteArrayView payload) {
        if (tag == readproto::Table)
            out.append({storedText(payload.sliced(5), *format), payload.at(0) != 0});
        if (tag != readproto::Error)
            return true;
        failure = errorMessage(payload, QString(), {});
        return false;
    };
    if (!run({QStringLiteral("tables"), m_path}, 0, onRecord, [](const StoredValue *) { return true; }, error, nullptr)) {
        if (!failure.isEmpty())
            *error = failure;
        return std::nullopt;
    }
    return out;
}

std::optional<QList<FieldInfo>> MdbFile::fields(const QString &table, QString *error) const
{
    const auto format = probe(error);
    if (!format)
        return std::nullopt;
    QList<FieldInfo> out;
    QString failure;
    auto onRecord = [&](char tag, QByteArrayView payload) {
        if (tag == readproto::Field)
            out.append({storedText(payload.sliced(5), *format), uint8_t(payload.at(0))});
        if (tag != readproto::Error)
            return true;
        failure = errorMessage(payload, table, {});
        return false;
    };
    if (!run({QStringLiteral("fields"), m_path, hexName(table, *format)}, 0, onRecord,
             [](const StoredValue *) { return true; }, error, nullptr)) {
        if (!failure.isEmpty())
            *error = failure;
        return std::nullopt;
    }
    return out;
}

bool MdbFile::readRows(const QString &table, const QStringList &fields, const RowSink &sink, QString *error,
                       const std::atomic<bool> *cancel) const
{
    const auto format = probe(error);
    if (!format)
        return false;
    QStringList args = {QStringLiteral("rows"), m_path, hexName(table, *format)};
    for (const QString &f : fields)
        args << hexName(f, *format);
    QString failure;
    auto onRecord = [&](char tag, QByteArrayView payload) {
        if (tag != readproto::Error)
            return true;
        failure = errorMessage(payload, table, fields);
        return false;
    };
    auto onRow = [&](const StoredValue *values) {
        sink(values);
        return true;
    };
    if (!run(args, int(fields.size()), onRecord, onRow, error, cancel)) {
        if (!failure.isEmpty())
            *error = failure;
        return false;
    }
    return true;
}

} // namespace tarnvik
