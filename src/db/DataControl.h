// The data control the lookup window binds to its active source (its
// instance there is Data1): database name, record source, refresh, and a
// record set read field by field. It answers exactly the two look-up
// statements (see Sql.h) from an index of the table's input and output
// values, built on first use and rebuilt when the file changes. Reading and
// building run on worker threads; refresh either waits for them (tools) or
// answers "not yet" at once (the window, which must never freeze).
#pragma once

#include "db/index/IndexBuild.h"
#include "db/index/IndexCache.h"
#include "db/index/LookupIndex.h"
#include "db/read/MdbFile.h"

#include <QString>
#include <QVariant>
#include <atomic>
#include <functional>
#include <future>
#include <memory>

namespace tarnvik {

class Recordset
{
public:
    // The value of a field (or the count's alias) in the current row; a null
    // QVariant is Null. Names compare case-insensitively.
    QVariant field(const QString &name) const;
    void moveFirst() { m_pos = 0; }
    void moveNext() { ++m_pos; }
    bool eof() const { return m_pos >= recordCount(); }
    size_t recordCount() const { return m_count ? 1 : m_matches.size(); }

    // The ordered rows behind a select, for a view that reads rows on demand.
    const Matches &matches() const { return m_matches; }

private:
    friend class DataControl;
    std::optional<qint64> m_count;
    QString m_countAlias;
    Matches m_matches;
    QString m_inField, m_outField;
    size_t m_pos = 0;
};

// What the look-ups through a data control ask beside their statements: the
// table and fields, so that the output is read along with the input when the
// index is built (the select after the first count needs no second read), and
// the character sets that decide how stored text is shown and matched (font
// character-set numbers).
struct LookupRequest
{
    QString table, in, out;
    int charsetIn = 238, charsetOut = 238;
};

class DataControl
{
public:
    DataControl();
    ~DataControl();

    void setDatabaseName(const QString &path);
    QString databaseName() const { return m_databaseName; }
    void setRecordSource(const QString &sql) { m_recordSource = sql; }
    QString recordSource() const { return m_recordSource; }

    // Runs the record source. On failure the record set is empty and
    // errorString() names the file and the cause. Without waiting for reads
    // (see setWaitForReads) it also fails while the index is being prepared:
    // then preparing() is true and errorString() says so.
    // The key decides how the LIKE matches: as typed, or bare (diacritics
    // ignored as well as case, see dropMarks) for the look-up's second try.
    bool refresh(LookupIndex::Key key = LookupIndex::Folded);
    QString errorString() const { return m_error; }
    bool preparing() const { return m_preparing; }

    // True (the default): refresh reads the file and builds the index itself
    // when they are not ready. False: refresh never waits; it starts or keeps
    // the preparation in the background and fails with preparing() set.
    void setWaitForReads(bool wait) { m_wait = wait; }
    bool waitsForReads() const { return m_wait; }
    // Called on a worker thread, under a lock of this control, when a
    // preparation ends (an index or a failure is ready for the next refresh).
    // It must only hand the news to the caller's own thread (a queued call) and
    // must not call into this control. It is never called for a preparation
    // that was abandoned (another file, table or fields; destruction), so
    // nothing captured by it is used after this control is gone. A call may
    // arrive after a refresh already took the result; refreshing again is
    // harmless then.
    void setPreparedHandler(std::function<void()> handler);
    Recordset &recordset() { return m_recordset; }

    void setReadLimits(const ReadLimits &limits) { m_limits = limits; }
    // Where indexes are kept between runs; empty keeps them in memory only.
    void setCacheFolder(const QString &folder) { m_cacheFolder = folder; }
    QString cacheFolder() const { return m_cacheFolder; }
    // The cache file of the index bound now; empty while none is, or without a cache.
    QString cacheFile() const;

    // What the next refreshes ask (see LookupRequest).
    void setRequest(const LookupRequest &request) { m_request = request; }
    // Starts binding the request in the background (index from the cache or
    // built), so that the first refresh need not wait for the whole read.
    void prepare();

    // Blocks until a cache file being written in the background is done. The
    // destructor does so too: a cache file must be complete. Reads and builds
    // in progress are abandoned at once instead; the application's exit waits
    // for them to stop (a read stops within 0.1 s, a sort may run to its end).
    void waitForCache();

    // The index in use, if any (for tests and benchmarks).
    std::shared_ptr<const LookupIndex> index() const { return m_index; }

private:
    // Same data, and the output field if one is asked for.
    static bool serves(const IndexSource &have, const IndexSource &want);
    // The source as the file is now; its path is the canonical one last bound.
    IndexSource sourceFor(const QString &table, const QString &in, const QString &out, bool *found) const;
    bool adopt(const IndexSource &want, BuiltIndex built);
    void cancelPending();
    void startPending(const IndexSource &want);
    bool ensureIndex(const QString &table, const QString &in, const QString &out);
    // Takes the prepared result if it is there (waiting for it if refresh may).
    bool takePending();
    bool stillPreparing();

    struct Job;     // one preparation, shared with its worker thread
    struct Workers; // every worker that runs, so that the exit can stop them

    QString m_databaseName, m_recordSource, m_error;
    QString m_cacheFolder = IndexCache::defaultFolder();
    LookupRequest m_request;
    ReadLimits m_limits;
    Recordset m_recordset;
    std::shared_ptr<LookupIndex> m_index;
    IndexSource m_indexSource;
    IndexSource m_failedSource; // the last read that failed, and why
    QString m_failedError;
    std::shared_future<void> m_cacheSave;
    std::shared_ptr<Job> m_pending;
    std::function<void()> m_preparedHandler;
    bool m_wait = true, m_preparing = false;
};

} // namespace tarnvik
