// The look-up index kept on disk, so that a second start on a large source
// needs no read of the database at all. One file per source (path, table,
// fields, character sets) in the XDG cache folder; it records which version of
// the database it was built from (FileStamp) and a checksum, is written
// atomically, and is checked through before use: a stale, damaged or foreign
// file is ignored and rebuilt. It is mapped under a read lease (see
// LeasedMapping), else read into memory, so that another program cutting it
// short or writing into it cannot touch an index in use.
#pragma once

#include "db/index/LookupIndex.h"

#include <QString>
#include <memory>
#include <optional>

struct stat;

namespace tarnvik {

// One version of a file, told without reading it. Size and modification time
// alone are not enough: a copy that keeps its times (cp -p, rsync -t, a
// restore) or a rewrite within one tick of the file clock keeps them too. The
// change time cannot be set from outside, and a file renamed into place has
// another inode.
struct FileStamp
{
    quint64 device = 0, inode = 0;
    qint64 size = -1; // -1: no such file
    qint64 modifiedNs = 0, changedNs = 0;
    bool regular = false;

    static FileStamp of(const struct stat &st);
    // Follows links; a missing file gives the empty stamp.
    static FileStamp ofPath(const QString &path);
    bool exists() const { return size >= 0; }
    bool operator==(const FileStamp &) const = default;
};

struct IndexSource
{
    QString path; // canonical
    QString table, in, out;
    int charsetIn = 238, charsetOut = 238;
    FileStamp file;
};

class IndexCache
{
public:
    // An empty folder disables the cache.
    explicit IndexCache(QString folder);
    static QString defaultFolder();

    std::shared_ptr<LookupIndex> load(const IndexSource &source) const;
    bool save(const IndexSource &source, const LookupIndex &index, QString *error) const;
    QString fileFor(const IndexSource &source) const;

    // What a cache file's last eight bytes hold of the bytes before them.
    static quint64 checksum(const void *data, size_t size);

private:
    QString m_folder;
};

} // namespace tarnvik
