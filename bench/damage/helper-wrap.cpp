// tarnvik-damage-wrap: stands where the reader expects its helper during a
// damage campaign. It runs the real helper (TARNVIK_DAMAGE_HELPER) with the
// same arguments, limits and descriptors, passes its error output on, and
// appends how it ended to TARNVIK_DAMAGE_FATE: the reader only sees "failed",
// the campaign wants to know whether that was a crash or a memory stop.
// One line per run: exit code or signal, peak resident KiB, and whether the
// helper said it could not allocate.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool mentionsAllocation(const std::string &s)
{
    static const char *const words[] = {"alloc", "out of memory", "Cannot allocate memory"};
    for (const char *w : words) {
        if (s.find(w) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    const char *real = std::getenv("TARNVIK_DAMAGE_HELPER");
    const char *fate = std::getenv("TARNVIK_DAMAGE_FATE");
    if (!real || argc < 1) {
        std::fprintf(stderr, "tarnvik-damage-wrap: TARNVIK_DAMAGE_HELPER is not set\n");
        return 2;
    }
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0)
        return 2;
    const pid_t child = fork();
    if (child < 0)
        return 2;
    if (child == 0) {
        // The reader kills this wrapper on a time-out; the helper must go too.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() == 1)
            _exit(2);
        dup2(err[1], STDERR_FILENO);
        argv[0] = const_cast<char *>(real);
        execv(real, argv);
        _exit(127);
    }
    close(err[1]);
    std::signal(SIGPIPE, SIG_IGN);
    // All of it is read, so that the helper never blocks on a reader that
    // stopped listening; only the start and the end are looked at.
    std::string head, tail;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(err[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (write(STDERR_FILENO, buf, size_t(n)) < 0) {
            // The reader closed its end: the helper's words are still counted.
        }
        if (head.size() < 4096)
            head.append(buf, size_t(n));
        tail.append(buf, size_t(n));
        if (tail.size() > 8192)
            tail.erase(0, tail.size() - 4096);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    if (fate) {
        char line[256];
        const int len = std::snprintf(line, sizeof line, "%d\t%s\t%d\t%ld\t%d\n", int(getpid()),
                                      WIFSIGNALED(status) ? "signal" : "exit",
                                      WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status),
                                      long(usage.ru_maxrss), mentionsAllocation(head + tail) ? 1 : 0);
        const int fd = open(fate, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (write(fd, line, size_t(len)) < 0) {
                // Nothing to be done: the campaign counts the run as unknown.
            }
            close(fd);
        }
    }
    if (WIFSIGNALED(status)) {
        // End the way the helper did, so that the reader sees the same thing.
        std::signal(WTERMSIG(status), SIG_DFL);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
