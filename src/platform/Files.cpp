#include "Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvik {

namespace {

// The file a save writes before it renames it over 'path'. Hidden, and named
// so that no file of the user's is ever taken for one.
QString tempPattern(const QString &path)
{
    const QFileInfo fi(path);
    return fi.absolutePath() + QStringLiteral("/.") + fi.fileName() + QStringLiteral(".save-");
}

} // namespace

QString systemMessage(int err)
{
    const char *czech = nullptr;
    switch (err) {
    case EACCES:
    case EPERM: czech = "přístup odepřen (chybí oprávnění)"; break;
    case EROFS: czech = "disk je připojen jen pro čtení"; break;
    case ENOSPC: czech = "na disku není volné místo"; break;
    case EDQUOT: czech = "je vyčerpána disková kvóta"; break;
    case EFBIG: czech = "soubor by byl příliš velký"; break;
    case ENOENT: czech = "soubor nebo složka neexistuje"; break;
    case ENOTDIR: czech = "část cesty není složka"; break;
    case EISDIR: czech = "je to složka"; break;
    case EIO: czech = "chyba čtení nebo zápisu na zařízení"; break;
    case ELOOP: czech = "příliš mnoho symbolických odkazů"; break;
    case ENAMETOOLONG: czech = "název je příliš dlouhý"; break;
    case EMFILE:
    case ENFILE: czech = "je otevřeno příliš mnoho souborů"; break;
    case ENOMEM: czech = "nedostatek paměti"; break;
    case EBUSY:
    case ETXTBSY: czech = "soubor je právě používán"; break;
    default: break;
    }
    if (czech)
        return QString::fromUtf8(czech);
    // A rare cause: the system's own words, for whoever helps the user.
    return QStringLiteral("systémová chyba %1 (%2)").arg(err).arg(QString::fromLocal8Bit(std::strerror(err)));
}

RegularFile openRegularFile(const QString &path)
{
    RegularFile file;
    file.fd.reset(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (!file.fd.valid()) {
        file.error = errno;
        file.problem = errno == ENOENT || errno == ENOTDIR ? RegularFile::Missing : RegularFile::Failed;
    } else if (::fstat(file.fd.get(), &st) != 0) {
        file.error = errno;
        file.problem = RegularFile::Failed;
    } else if (S_ISDIR(st.st_mode)) {
        file.problem = RegularFile::Folder;
    } else if (!S_ISREG(st.st_mode)) {
        file.problem = RegularFile::NotRegular;
    } else {
        file.size = st.st_size;
        file.problem = RegularFile::None;
        return file;
    }
    file.fd.reset();
    return file;
}

bool saveTarget(const QString &path, QString *target, QString *error)
{
    QString at = path;
    for (int links = 0; links < 40; ++links) {
        const QFileInfo info(at);
        if (!info.isSymLink()) {
            *target = info.absoluteFilePath();
            return true;
        }
        at = info.symLinkTarget();
    }
    *error = systemMessage(ELOOP);
    return false;
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    QByteArray temp = QFile::encodeName(tempPattern(path) + QStringLiteral("XXXXXX"));
    UniqueFd file(::mkstemp(temp.data()));
    if (!file.valid()) {
        *error = systemMessage(errno);
        return false;
    }
    struct stat old {};
    const mode_t mode = ::stat(QFile::encodeName(path).constData(), &old) == 0 && S_ISREG(old.st_mode)
                            ? (old.st_mode & 07777) : mode_t(0644);
    int err = 0;
    if (::fchmod(file.get(), mode) != 0)
        err = errno;
    for (qsizetype done = 0; !err && done < bytes.size();) {
        const ssize_t n = ::write(file.get(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno != EINTR)
                err = errno;
        } else {
            done += n;
        }
    }
    if (!err && ::fsync(file.get()) != 0)
        err = errno;
    if (!file.close() && !err)
        err = errno;
    if (!err && ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.constData());
        *error = systemMessage(err);
        return false;
    }
    return true;
}

void removeStaleSaveFiles(const QString &path)
{
    const QFileInfo pattern(tempPattern(path));
    QDir folder(pattern.absolutePath());
    const QString name = pattern.fileName();
    for (const QString &entry : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (entry.size() == name.size() + 6 && entry.startsWith(name))
            folder.remove(entry);
}

FolderLock::FolderLock(const QString &folder)
    : m_fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    // A copy that hangs holding it (stopped, on a dead network disk) must not
    // hang this one's exit: after a while the save goes on without.
    for (int tries = 0; m_fd.valid() && tries < 250; ++tries) {
        if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            return;
        ::usleep(20000);
    }
}

void FolderLock::syncFolder() const
{
    if (m_fd.valid())
        ::fsync(m_fd.get());
}

} // namespace tarnvik
