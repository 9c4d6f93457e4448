// Keeps the index cache folder from growing without end: indexes unused for a
// month, or of sources no catalogue names any more, go; beyond a size the
// least recently used go first. Only files the cache itself writes are
// touched (name and header both), never through a link, and only by paths
// relative to the folder as it was opened. Another copy of the program loses
// nothing by it: an index it has loaded stays in its memory or mapping once
// unlinked, and a file it is still writing is left alone.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

namespace tarnvik {

struct CacheLimits
{
    // Big enough for the index of the largest dictionaries we know (ten
    // million rows) beside a few ordinary ones.
    qint64 maxBytes = qint64(2) << 30;
    qint64 unusedSeconds = qint64(30) * 24 * 3600;
    // A save in progress rewrites its file all the time; one this old was
    // left by a copy that died.
    qint64 abandonedWriteSeconds = 24 * 3600;
};

class CacheTidy
{
public:
    explicit CacheTidy(QString folder);

    // The index at 'file' was used now: its modification time says so.
    static void markUsed(const QString &file);

    // The settings files whose catalogues name the indexes worth keeping.
    struct Seen
    {
        QStringList settings;
        // Since when every run noted its settings file here; an index used
        // last before that may belong to a catalogue never noted.
        qint64 since = 0;
        bool intact = false; // read whole and well-formed
    };
    Seen seen() const;
    // Writes the record anew: a damaged or missing one starts over from now.
    bool writeSeen(const Seen &seen) const;

    struct Outcome
    {
        QStringList removed; // file names
        qint64 bytesLeft = 0; // of our files
    };
    // 'live': the file names (see IndexCache::fileFor) some catalogue entry
    // would use, or none when not every catalogue could be read; those not
    // in it go only when last used after 'since'. Times are seconds since
    // the epoch. The caller holds the folder's lock (FolderLock).
    Outcome tidy(const std::optional<QSet<QString>> &live, qint64 since, qint64 now,
                 const CacheLimits &limits = {}, const std::atomic<bool> *cancel = nullptr) const;

    static QString seenFileName() { return QStringLiteral("settings-seen"); }

private:
    QString m_folder;
};

} // namespace tarnvik
