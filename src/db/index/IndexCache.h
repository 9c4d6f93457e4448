// The look-up index kept on disk, so that a second start on a large source
// needs no read of the database at all. One file per source (path, table,
// fields, character sets) in the XDG cache folder; it records the database's
// size and modification time and a checksum, is written atomically, and is
// checked through before use: a stale or damaged file is ignored and rebuilt.
#pragma once

#include "db/index/LookupIndex.h"

#include <QDateTime>
#include <QString>
#include <memory>

namespace tarnvik {

struct IndexSource
{
    QString path; // canonical
    QString table, in, out;
    int charsetIn = 238, charsetOut = 238;
    qint64 size = -1;
    QDateTime modified;
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

private:
    QString m_folder;
};

} // namespace tarnvik
