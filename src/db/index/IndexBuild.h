// Building the look-up index of one source: taken from the cache when it
// holds this version of the file, else read from the table once the file's
// clock has moved past its last change. Touches nothing shared: it runs on
// the caller's thread or on a worker.
#pragma once

#include "db/index/IndexCache.h"
#include "db/index/LookupIndex.h"
#include "db/read/MdbFile.h"

#include <QString>
#include <atomic>
#include <exception>
#include <memory>

namespace tarnvik {

struct BuiltIndex
{
    std::shared_ptr<LookupIndex> index; // null on failure
    QString error;
    bool cacheable = false; // built from one settled version of the file; not from the cache
    bool quick = false; // failed before reading: worth trying again
};

BuiltIndex buildIndex(const QString &databaseName, const IndexSource &want, const ReadLimits &limits,
                      const QString &cacheFolder, const std::atomic<bool> *cancel);

// Why no index could be had at all (too big a table, no memory, no thread).
QString loadFailure(const QString &databaseName, const std::exception &e);

} // namespace tarnvik
