#include "HelperProcess.h"

#include "db/read/ReadProtocol.h"
#include "platform/Files.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcRead, "tarnvik.read", QtWarningMsg)

namespace tarnvik {

namespace {

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

HelperRun runHelper(const QString &program, const QStringList &args, const ReadLimits &limits, int fieldsPerRow,
                    const RecordParser::RecordFn &onRecord, const RecordParser::RowFn &onRow,
                    const std::atomic<bool> *cancel)
{
    // Records come over a pipe of their own; libmdb's prints go to another,
    // of which only the end is kept.
    UniqueFd records, recordsEnd, printed, printedEnd;
    if (!openPipe(&records, &recordsEnd) || !openPipe(&printed, &printedEnd))
        return {HelperRun::NoPipe, systemMessage(errno)};
    // A wider pipe lets the helper read ahead while rows are indexed; the
    // default 64 KiB keeps the two processes waiting for each other.
    fcntl(records.get(), F_SETPIPE_SZ, 1 << 20);
    fcntl(printed.get(), F_SETPIPE_SZ, 1 << 20);

    QProcess proc;
    proc.setProgram(program);
    proc.setArguments(args);
    proc.setStandardInputFile(QProcess::nullDevice());
    proc.setStandardOutputFile(QProcess::nullDevice());
    proc.setStandardErrorFile(QProcess::nullDevice());
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
    if (!started)
        return {HelperRun::NotStarted, proc.errorString()};

    HelperRun::End end = HelperRun::Read;
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
                end = HelperRun::Stopped;
            watch.progressed(tail.total()); // the time our rows took is not the helper's silence
        }
        return n;
    };
    while (end == HelperRun::Read) {
        if (cancel && cancel->load()) {
            end = HelperRun::Cancelled;
            break;
        }
        if (deadline.hasExpired()) {
            end = HelperRun::TimedOut;
            break;
        }
        if (watch.stalled(tail.total())) {
            end = HelperRun::Stalled;
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
            while (end == HelperRun::Read && readRecords() > 0) {
            }
            break;
        }
    }
    if (end != HelperRun::Read) {
        proc.kill();
        proc.waitForFinished(5000);
    } else if (!proc.waitForFinished(int(std::clamp<qint64>(deadline.remainingTime(), 100, 5000)))) {
        proc.kill();
        proc.waitForFinished(5000);
    }
    tail.drain(&printed);
    if (tail.total() > 0)
        qCDebug(lcRead).noquote() << "helper printed" << tail.total() << "bytes, ending with:" << tail.text();

    if (end == HelperRun::Stopped && parser.isMalformed())
        end = HelperRun::Failed; // the stream broke, no callback said stop
    if (end != HelperRun::Read)
        return {end, {}};
    if (parser.isMalformed() || proc.exitStatus() != QProcess::NormalExit || proc.exitCode() != 0
        || !parser.complete())
        return {HelperRun::Failed, {}};
    return {};
}

} // namespace tarnvik
