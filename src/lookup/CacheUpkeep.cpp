#include "CacheUpkeep.h"

#include "db/index/IndexCache.h"
#include "platform/UniqueFd.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/file.h>

namespace tarnvik {

namespace {

// Every path a stored name may stand for: which one a run finds depends on
// its current folder, and a file on a disk not mounted now has no canonical
// path but will again.
QStringList pathsFor(const QString &stored, const SearchFolders &folders)
{
    if (stored.isEmpty())
        return {};
    QStringList tried;
    if (QDir::isAbsolutePath(stored)) {
        tried << stored;
    } else {
        for (const QString &f : QStringList{folders.current, folders.program} + folders.data)
            tried << f + u'/' + stored;
    }
    QStringList paths;
    for (const QString &p : tried) {
        for (const QString &q : {QFileInfo(p).canonicalFilePath(), QDir::cleanPath(p)})
            if (!q.isEmpty() && !paths.contains(q))
                paths << q;
    }
    return paths;
}

// The folder's lock, given up after a while or when told to stop: another
// copy tidies then.
UniqueFd lockFolder(const QString &folder, const std::atomic<bool> *cancel)
{
    UniqueFd fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int tries = 0; fd.valid() && tries < 100 && !(cancel && *cancel); ++tries) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
            return fd;
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        ::usleep(50000);
    }
    return UniqueFd();
}

} // namespace

QString indexFileFor(const QString &cacheFolder, const QString &path, const DataSource &s)
{
    return IndexCache(cacheFolder).fileFor({path, s.Name, s.In, s.Out, s.CharsetIn, s.CharsetOut, {}});
}

std::optional<QSet<QString>> liveIndexNames(const QStringList &settingsFiles, const SearchFolders &folders,
                                            const QString &cacheFolder)
{
    QSet<QString> names;
    for (const QString &file : settingsFiles) {
        if (!QFileInfo::exists(file))
            continue;
        const SettingsStore store(file);
        if (!store.problem().isEmpty())
            return std::nullopt;
        QVector<DataSource> sources;
        int selected = 0;
        load_tables(store, sources, selected);
        for (const DataSource &s : sources) {
            for (const QString &path : pathsFor(s.File, folders))
                names << QFileInfo(indexFileFor(cacheFolder, path, s)).fileName();
        }
    }
    return names;
}

CacheTidy::Outcome tidyIndexCache(const QString &cacheFolder, const QString &settingsFile,
                                  const SearchFolders &folders, bool tidy, qint64 now, const CacheLimits &limits,
                                  const std::atomic<bool> *cancel)
{
    if (cacheFolder.isEmpty() || !QDir().mkpath(cacheFolder))
        return {};
    const UniqueFd lock = lockFolder(cacheFolder, cancel);
    if (!lock.valid())
        return {};
    const CacheTidy cache(cacheFolder);
    CacheTidy::Seen seen = cache.seen();
    const CacheTidy::Seen was = seen;
    if (!seen.intact)
        seen.since = now; // who else was here is not known: older indexes wait out their month
    QStringList files;
    for (const QString &f : seen.settings)
        if (QFileInfo::exists(f))
            files << f;
    const QString mine = QFileInfo(settingsFile).absoluteFilePath();
    if (!settingsFile.isEmpty() && !files.contains(mine))
        files.prepend(mine);
    seen.settings = files;
    seen.intact = true;
    if ((seen.settings != was.settings || seen.since != was.since || !was.intact) && !cache.writeSeen(seen))
        return {}; // a run that cannot be noted must not lose its indexes to the next round
    if (!tidy)
        return {};
    return cache.tidy(liveIndexNames(seen.settings, folders, cacheFolder), seen.since, now, limits, cancel);
}

CacheUpkeep::CacheUpkeep(QString cacheFolder, QString settingsFile, SearchFolders folders,
                         std::chrono::milliseconds quietAfter)
    : m_folder(std::move(cacheFolder)), m_settings(std::move(settingsFile)), m_folders(std::move(folders)),
      m_quietAfter(quietAfter), m_next(std::chrono::steady_clock::now() + quietAfter)
{
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error &) {
        // No thread to be had: the cache stays as it is this run.
    }
}

CacheUpkeep::~CacheUpkeep()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CacheUpkeep::soon(const QString &inUse)
{
    std::lock_guard lock(m_mutex);
    if (!inUse.isEmpty())
        m_inUse = inUse;
    m_next = std::min(m_next, std::chrono::steady_clock::now() + m_quietAfter);
    m_wake.notify_all();
}

void CacheUpkeep::run()
{
    auto now = [] { return QDateTime::currentSecsSinceEpoch(); };
    tidyIndexCache(m_folder, m_settings, m_folders, false, now(), {}, &m_stop);
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        // Read anew at each wake: soon() may have brought it nearer.
        const auto next = m_next;
        if (std::chrono::steady_clock::now() < next) {
            m_wake.wait_until(lock, next);
            continue;
        }
        m_next = std::chrono::steady_clock::now() + std::chrono::hours(24);
        const QString inUse = m_inUse;
        lock.unlock();
        if (!inUse.isEmpty())
            CacheTidy::markUsed(inUse);
        tidyIndexCache(m_folder, m_settings, m_folders, true, now(), {}, &m_stop);
        ++m_rounds;
        lock.lock();
    }
}

} // namespace tarnvik
