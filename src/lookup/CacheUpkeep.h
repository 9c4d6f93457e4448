// The strip's share in keeping the index cache small (see CacheTidy): its
// settings file is noted in the cache folder at once, and the folder is
// tidied on a thread of its own a while after the start, a while after each
// new index and once a day, so that neither the start nor a keystroke waits.
#pragma once

#include "catalogue/Catalogue.h"
#include "db/index/CacheTidy.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tarnvik {

// The cache's file names for the entries of these settings files (hidden
// ones too); none when one of them exists but cannot be read.
std::optional<QSet<QString>> liveIndexNames(const QStringList &settingsFiles, const SearchFolders &folders,
                                            const QString &cacheFolder);

// The cache file of 'source' when its database is at 'path'.
QString indexFileFor(const QString &cacheFolder, const QString &path, const DataSource &source);

// One round under the folder's lock: 'settingsFile' noted, the record mended
// if need be, the folder tidied. 'tidy' false notes only. Nothing happens
// while another copy holds the lock.
CacheTidy::Outcome tidyIndexCache(const QString &cacheFolder, const QString &settingsFile,
                                  const SearchFolders &folders, bool tidy, qint64 now, const CacheLimits &limits = {},
                                  const std::atomic<bool> *cancel = nullptr);

class CacheUpkeep
{
public:
    CacheUpkeep(QString cacheFolder, QString settingsFile, SearchFolders folders,
                std::chrono::milliseconds quietAfter = std::chrono::minutes(1));
    // Stops the round in progress between two files, and waits for it.
    ~CacheUpkeep();
    CacheUpkeep(const CacheUpkeep &) = delete;
    CacheUpkeep &operator=(const CacheUpkeep &) = delete;

    // A new index may have been written: a round a while from now. The
    // index at 'inUse' counts as used at every round from now on.
    void soon(const QString &inUse = QString());
    int rounds() const { return m_rounds; }

private:
    void run();

    const QString m_folder, m_settings;
    const SearchFolders m_folders;
    const std::chrono::milliseconds m_quietAfter;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::chrono::steady_clock::time_point m_next;
    QString m_inUse;
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_rounds = 0;
    std::thread m_thread;
};

} // namespace tarnvik
