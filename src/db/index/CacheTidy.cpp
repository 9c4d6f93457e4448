#include "CacheTidy.h"

#include "platform/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnvik {

namespace {

const QByteArray kSeenHeader = "tarnvik settings seen";
constexpr qint64 kMaxSeenBytes = 64 * 1024;
constexpr int kMaxSeenFiles = 256;

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool isAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// IndexCache names a file by the SHA-1 of its source; a save writes it
// beside that name first (QTemporaryFile: six letters or digits).
enum class Kind { None, Index, Writing };
Kind kindOf(const char *name)
{
    const size_t n = std::strlen(name);
    if (n != 44 && n != 51)
        return Kind::None;
    if (!std::all_of(name, name + 40, isHex) || std::memcmp(name + 40, ".idx", 4) != 0)
        return Kind::None;
    if (n == 44)
        return Kind::Index;
    return name[44] == '.' && std::all_of(name + 45, name + 51, isAlnum) ? Kind::Writing : Kind::None;
}

// Every format the cache has written starts so: "TVKIDX" and two digits.
bool hasOurHeader(int dir, const char *name, const struct stat &listed)
{
    UniqueFd fd(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_dev != listed.st_dev || st.st_ino != listed.st_ino)
        return false;
    char magic[8];
    if (::pread(fd.get(), magic, sizeof magic, 0) != ssize_t(sizeof magic))
        return false;
    return std::memcmp(magic, "TVKIDX", 6) == 0 && magic[6] >= '0' && magic[6] <= '9' && magic[7] >= '0'
        && magic[7] <= '9';
}

struct Found
{
    QByteArray name;
    Kind kind;
    dev_t device;
    ino_t inode;
    qint64 size, modified; // modified: seconds
};

UniqueFd openFolder(const QString &folder)
{
    return UniqueFd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

} // namespace

CacheTidy::CacheTidy(QString folder)
    : m_folder(std::move(folder))
{
}

void CacheTidy::markUsed(const QString &file)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    ::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, AT_SYMLINK_NOFOLLOW);
}

CacheTidy::Seen CacheTidy::seen() const
{
    Seen s;
    const UniqueFd dir = openFolder(m_folder);
    if (!dir.valid())
        return s;
    UniqueFd fd(::openat(dir.get(), QFile::encodeName(seenFileName()).constData(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxSeenBytes)
        return s;
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    if (::pread(fd.get(), bytes.data(), size_t(bytes.size()), 0) != ssize_t(bytes.size()))
        return s;
    QList<QByteArray> lines = bytes.split('\n');
    bool ok = lines.size() >= 3 && lines.takeFirst() == kSeenHeader && lines.takeLast().isEmpty();
    if (ok) {
        const QByteArray since = lines.takeFirst();
        ok = since.startsWith("since ");
        s.since = ok ? since.mid(6).toLongLong(&ok) : 0;
        ok = ok && s.since > 0;
    }
    // What can be read of a damaged record is still worth keeping.
    for (const QByteArray &line : lines) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString path = utf8.decode(line);
        if (utf8.hasError() || line.contains('\0') || !QDir::isAbsolutePath(path) || s.settings.contains(path)
            || s.settings.size() >= kMaxSeenFiles)
            ok = false;
        else
            s.settings << path;
    }
    s.intact = ok;
    if (!ok)
        s.since = 0;
    return s;
}

bool CacheTidy::writeSeen(const Seen &seen) const
{
    if (!QDir().mkpath(m_folder))
        return false;
    QByteArray bytes = kSeenHeader + "\nsince " + QByteArray::number(seen.since) + '\n';
    for (const QString &path : seen.settings.mid(0, kMaxSeenFiles))
        bytes += path.toUtf8() + '\n';
    const UniqueFd dir = openFolder(m_folder);
    if (!dir.valid())
        return false;
    // Written under the folder's lock, so one name for the new copy will do;
    // whatever is there (a link, say) is replaced, not written through.
    const QByteArray name = QFile::encodeName(seenFileName()), fresh = name + ".new";
    ::unlinkat(dir.get(), fresh.constData(), 0);
    UniqueFd fd(::openat(dir.get(), fresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid())
        return false;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd.get(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::unlinkat(dir.get(), fresh.constData(), 0);
            return false;
        }
        done += n;
    }
    if (!fd.close() || ::renameat(dir.get(), fresh.constData(), dir.get(), name.constData()) != 0) {
        ::unlinkat(dir.get(), fresh.constData(), 0);
        return false;
    }
    return true;
}

CacheTidy::Outcome CacheTidy::tidy(const std::optional<QSet<QString>> &live, qint64 since, qint64 now,
                                   const CacheLimits &limits, const std::atomic<bool> *cancel) const
{
    Outcome out;
    const UniqueFd dir = openFolder(m_folder);
    if (!dir.valid())
        return out;
    auto cancelled = [&] { return cancel && cancel->load(); };

    std::vector<Found> found;
    if (DIR *listing = ::fdopendir(::dup(dir.get()))) {
        while (const dirent *e = ::readdir(listing)) {
            const Kind kind = kindOf(e->d_name);
            struct stat st;
            if (kind == Kind::None || ::fstatat(dir.get(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0
                || !S_ISREG(st.st_mode) || !hasOurHeader(dir.get(), e->d_name, st))
                continue;
            found.push_back({QByteArray(e->d_name), kind, st.st_dev, st.st_ino, qint64(st.st_size),
                             qint64(st.st_mtim.tv_sec)});
            if (cancelled())
                break;
        }
        ::closedir(listing);
    }

    // Gone only if it is still the very file judged: another copy may have
    // used it, or saved a new one in its place, since.
    auto remove = [&](const Found &f) {
        struct stat st;
        if (cancelled() || ::fstatat(dir.get(), f.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0
            || st.st_dev != f.device || st.st_ino != f.inode || qint64(st.st_mtim.tv_sec) != f.modified
            || qint64(st.st_size) != f.size || ::unlinkat(dir.get(), f.name.constData(), 0) != 0)
            return false;
        out.removed << QString::fromLatin1(f.name);
        return true;
    };

    std::vector<Found> kept;
    for (const Found &f : found) {
        // A clock set back must not make a file look used in the future.
        const qint64 age = now - std::min(f.modified, now);
        bool drop = false;
        if (f.kind == Kind::Writing)
            drop = age > limits.abandonedWriteSeconds;
        else
            drop = age > limits.unusedSeconds
                || (live && f.modified >= since && !live->contains(QString::fromLatin1(f.name)));
        if (!drop || !remove(f))
            kept.push_back(f);
    }

    qint64 total = 0;
    for (const Found &f : kept)
        total += f.size;
    std::stable_sort(kept.begin(), kept.end(), [](const Found &a, const Found &b) { return a.modified < b.modified; });
    for (const Found &f : kept) {
        if (total <= limits.maxBytes)
            break;
        if (f.kind == Kind::Index && remove(f))
            total -= f.size;
    }
    out.bytesLeft = total;
    return out;
}

} // namespace tarnvik
