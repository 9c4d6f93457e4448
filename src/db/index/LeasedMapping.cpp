#include "LeasedMapping.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvik {

namespace {
int g_breaks[2] = {-1, -1}; // the signal handler's pipe to the watcher

// Only what is safe in a signal handler: the broken lease's descriptor goes
// down the pipe, and the watcher thread does the rest.
void onLeaseBreak(int, siginfo_t *info, void *)
{
    const int saved = errno;
    const int fd = info->si_fd;
    [[maybe_unused]] const ssize_t n = ::write(g_breaks[1], &fd, sizeof fd);
    errno = saved;
}
} // namespace

// Leases break in any thread's time; one thread of its own answers them, so a
// writer waits only for the copy, never for a busy window.
struct LeaseWatcher
{
    std::mutex lock;
    std::vector<LeasedMapping *> live;
    int signal = 0;

    static LeaseWatcher *instance()
    {
        // Never destroyed: the thread may be inside it when the program ends.
        static LeaseWatcher *const watcher = [] {
            auto *w = new LeaseWatcher;
            if (!w->start()) {
                delete w;
                return static_cast<LeaseWatcher *>(nullptr);
            }
            return w;
        }();
        return watcher;
    }

    bool start()
    {
        const int candidate = SIGRTMIN + 4;
        struct sigaction old {};
        // A signal someone else handles is theirs: then no leases, files are read.
        if (candidate > SIGRTMAX || ::sigaction(candidate, nullptr, &old) != 0 || old.sa_handler != SIG_DFL)
            return false;
        if (::pipe2(g_breaks, O_CLOEXEC) != 0)
            return false;
        struct sigaction sa {};
        sa.sa_sigaction = onLeaseBreak;
        sa.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&sa.sa_mask);
        if (::sigaction(candidate, &sa, nullptr) != 0)
            return false;
        signal = candidate;
        std::thread([this] { run(); }).detach();
        return true;
    }

    void run()
    {
        for (;;) {
            int fd = -1;
            const ssize_t n = ::read(g_breaks[0], &fd, sizeof fd);
            if (n < 0 && errno == EINTR)
                continue;
            if (n != sizeof fd)
                return;
            const std::lock_guard guard(lock);
            for (LeasedMapping *m : live)
                if (m->m_fd.get() == fd)
                    copyOut(m);
        }
    }

    // The mapping's pages are replaced by a copy in one step (readers in
    // other threads see the one or the other, the same bytes), then the
    // lease is let go and the writer goes on.
    static void copyOut(LeasedMapping *m)
    {
        void *copy = ::mmap(nullptr, m->m_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (copy != MAP_FAILED) {
            std::memcpy(copy, m->m_data, m->m_size);
            ::mprotect(copy, m->m_length, PROT_READ);
            if (::mremap(copy, m->m_length, m->m_length, MREMAP_MAYMOVE | MREMAP_FIXED, m->m_data) == MAP_FAILED)
                ::munmap(copy, m->m_length);
        }
        // Without memory for the copy the lease is let go all the same: the
        // kernel would take it after a while anyway, and the writer has waited.
        m->m_fd.reset();
    }
};

std::shared_ptr<LeasedMapping> LeasedMapping::map(int fd, size_t size)
{
    LeaseWatcher *watcher = LeaseWatcher::instance();
    if (!watcher || size == 0)
        return nullptr;
    // Held from the lease on: a break that comes at once waits for the mapping
    // to be known.
    const std::lock_guard guard(watcher->lock);
    if (::fcntl(fd, F_SETSIG, watcher->signal) != 0 || ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0)
        return nullptr;
    // The lease's signal goes to the thread that took it, which may be gone
    // when the lease breaks; the process outlives it.
    const f_owner_ex owner{F_OWNER_PID, ::getpid()};
    if (::fcntl(fd, F_SETOWN_EX, &owner) != 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return nullptr;
    }
    // Cut short before the lease was in place, it would fault under the map.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != size) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return nullptr;
    }
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t length = (size + page - 1) / page * page;
    void *data = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return nullptr;
    }
    std::shared_ptr<LeasedMapping> m(new LeasedMapping(fd, data, size, length));
    watcher->live.push_back(m.get());
    return m;
}

void LeasedMapping::releasePages()
{
    LeaseWatcher *watcher = LeaseWatcher::instance();
    const std::lock_guard guard(watcher->lock);
    // A copy made when the lease broke is the only one left: let go, it would
    // read back as zeros.
    if (m_fd.valid())
        ::madvise(m_data, m_length, MADV_DONTNEED);
}

void LeasedMapping::read(size_t offset, size_t length, char *out) const
{
    LeaseWatcher *watcher = LeaseWatcher::instance();
    const std::lock_guard guard(watcher->lock);
    Recent *recent = length <= kRecentMost ? &m_recent[(uint64_t(offset) * 0x9E3779B97F4A7C15u) >> 58] : nullptr;
    if (recent && recent->offset == offset && recent->bytes.size() >= length) {
        std::memcpy(out, recent->bytes.data(), length);
        return;
    }
    size_t done = 0;
    // Held under the lock, the lease stands: the file's bytes are the mapping's.
    while (m_fd.valid() && done < length) {
        const ssize_t n = ::pread(m_fd.get(), out + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    // The copy made when the lease broke, or what a failed read left.
    std::memcpy(out + done, static_cast<const char *>(m_data) + offset + done, length - done);
    if (recent) {
        recent->offset = offset;
        recent->bytes.assign(out, length);
    }
}

LeasedMapping::LeasedMapping(int fd, void *data, size_t size, size_t length)
    : m_fd(fd), m_data(data), m_size(size), m_length(length)
{
}

LeasedMapping::~LeasedMapping()
{
    LeaseWatcher *watcher = LeaseWatcher::instance();
    const std::lock_guard guard(watcher->lock);
    watcher->live.erase(std::find(watcher->live.begin(), watcher->live.end(), this));
    ::munmap(m_data, m_length);
    m_fd.reset(); // while no break can be matched to it
}

} // namespace tarnvik
