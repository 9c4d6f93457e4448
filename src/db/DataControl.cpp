#include "DataControl.h"

#include "db/query/Sql.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tarnvik {

namespace {

QString tr(const char *s) { return QCoreApplication::translate("DataControl", s); }

bool sameName(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

} // namespace

QVariant Recordset::field(const QString &name) const
{
    if (m_count)
        return sameName(name, m_countAlias) && m_pos == 0 ? QVariant(*m_count) : QVariant();
    if (eof())
        return QVariant();
    const LookupIndex &ix = *m_matches.index();
    const uint32_t row = m_matches.row(m_pos);
    if (sameName(name, m_inField))
        return ix.inputIsNull(row) ? QVariant() : QVariant(ix.input(row));
    if (sameName(name, m_outField))
        return ix.outputIsNull(row) ? QVariant() : QVariant(ix.output(row));
    return QVariant();
}

// What a worker and its control share. The control may drop its reference at
// any time; the worker then finishes on its own copies and tells nobody.
struct DataControl::Job
{
    IndexSource source;
    std::atomic<bool> cancel = false;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false; // the fields below, under 'mutex'
    BuiltIndex built;
    std::function<void()> onDone;

    void abandon()
    {
        std::lock_guard lock(mutex);
        cancel = true;
    }
};

// A worker that outlived its control must still not outlive the application:
// after QCoreApplication is gone (and then Qt's statics) it could touch freed
// state. The application's destructor therefore cancels all and waits.
struct DataControl::Workers
{
    std::mutex mutex;
    std::condition_variable idle;
    std::vector<std::shared_ptr<Job>> running;

    static Workers &instance()
    {
        // Never destroyed: a worker may end after static destruction began.
        static Workers *workers = [] {
            qAddPostRoutine(&Workers::stopAll);
            return new Workers;
        }();
        return *workers;
    }

    static void stopAll()
    {
        Workers &w = instance();
        std::unique_lock lock(w.mutex);
        for (const auto &job : w.running)
            job->abandon();
        w.idle.wait(lock, [&] { return w.running.empty(); });
    }

    void start(const std::shared_ptr<Job> &job, std::function<void()> work)
    {
        std::lock_guard lock(mutex);
        std::thread([this, job, work = std::move(work)] {
            work();
            std::lock_guard lock(mutex);
            std::erase(running, job);
            idle.notify_all();
        }).detach();
        running.push_back(job);
    }
};

DataControl::DataControl() = default;
DataControl::~DataControl()
{
    cancelPending();
    waitForCache();
}

void DataControl::setPreparedHandler(std::function<void()> handler)
{
    m_preparedHandler = std::move(handler);
    if (m_pending) {
        std::lock_guard lock(m_pending->mutex);
        m_pending->onDone = m_preparedHandler;
    }
}

void DataControl::waitForCache()
{
    if (m_cacheSave.valid())
        m_cacheSave.wait();
}

void DataControl::setDatabaseName(const QString &path)
{
    if (path != m_databaseName) {
        cancelPending();
        // Bound anew under another name, even to the same file.
        m_index.reset();
        m_indexSource = IndexSource();
    }
    m_databaseName = path;
}


QString DataControl::cacheFile() const
{
    return m_index ? IndexCache(m_cacheFolder).fileFor(m_indexSource) : QString();
}

bool DataControl::serves(const IndexSource &have, const IndexSource &want)
{
    return have.path == want.path && have.file == want.file && sameName(have.table, want.table)
        && sameName(have.in, want.in) && have.charsetIn == want.charsetIn && have.charsetOut == want.charsetOut
        && (want.out.isEmpty() || sameName(have.out, want.out));
}

IndexSource DataControl::sourceFor(const QString &table, const QString &in, const QString &out, bool *found) const
{
    // A keystroke costs one stat: the file is looked into only when it changed.
    IndexSource s{m_indexSource.path, table, in, out, m_request.charsetIn, m_request.charsetOut,
                  FileStamp::ofPath(m_databaseName)};
    *found = s.file.exists();
    return s;
}

bool DataControl::adopt(const IndexSource &want, BuiltIndex built)
{
    if (!built.index) {
        m_index.reset();
        m_error = built.error;
        // A read that failed fails again until the file changes: typing on
        // must not start a slow read of the same damaged file per keystroke.
        if (!built.quick) {
            m_failedSource = want;
            m_failedError = built.error;
        }
        return false;
    }
    m_failedError.clear();
    m_index = std::move(built.index);
    m_indexSource = want;
    if (!built.cacheable)
        return true;
    // The first answer need not wait for the file: the index no longer changes.
    // Saves follow one another without the caller waiting for the last one.
    // Each lets go of what it holds when done, or the chain would keep every
    // index it ever saved.
    m_cacheSave = std::async(std::launch::async, [previous = m_cacheSave, cache = IndexCache(m_cacheFolder), want,
                                                  index = std::shared_ptr<const LookupIndex>(m_index)]() mutable {
                      if (previous.valid())
                          previous.wait();
                      previous = {};
                      QString cacheError;
                      if (!cache.save(want, *index, &cacheError))
                          qWarning("Index cache not written: %s", qPrintable(cacheError));
                      index.reset();
                  }).share();
    return true;
}

void DataControl::cancelPending()
{
    // The worker finds out by itself (the read polls the flag); nothing here
    // waits for it, and its result is never looked at again.
    if (m_pending)
        m_pending->abandon();
    m_pending.reset();
}

void DataControl::startPending(const IndexSource &want)
{
    auto job = std::make_shared<Job>();
    job->source = want;
    job->onDone = m_preparedHandler;
    auto work = [job, name = m_databaseName, limits = m_limits, folder = m_cacheFolder] {
        BuiltIndex built = buildIndex(name, job->source, limits, folder, &job->cancel);
        std::lock_guard lock(job->mutex);
        job->built = std::move(built);
        job->done = true;
        job->finished.notify_all();
        if (!job->cancel && job->onDone)
            job->onDone();
    };
    try {
        Workers::instance().start(job, std::move(work));
    } catch (const std::system_error &e) {
        // No thread to be had: the failure is the preparation's result.
        job->built.error = loadFailure(m_databaseName, e);
        job->built.quick = true;
        job->done = true;
    }
    m_pending = std::move(job);
}

void DataControl::prepare()
{
    bool found = false;
    IndexSource want = sourceFor(m_request.table, m_request.in, m_request.out, &found);
    if (!found || !want.file.regular || (m_index && serves(m_indexSource, want)))
        return;
    want.path = QFileInfo(m_databaseName).canonicalFilePath();
    if (m_pending && serves(m_pending->source, want))
        return;
    cancelPending();
    if (!m_failedError.isEmpty() && serves(m_failedSource, want))
        return;
    startPending(want);
}

bool DataControl::ensureIndex(const QString &table, const QString &in, const QString &out)
{
    bool found = false;
    IndexSource want = sourceFor(table, in, out, &found);
    if (found && m_index && serves(m_indexSource, want))
        return true;
    if (found && !want.file.regular) {
        // Never opened: a FIFO would hold the open for ever, a device be read without end.
        cancelPending();
        m_index.reset();
        m_error = MdbFile::notAFileMessage(m_databaseName, QFileInfo(m_databaseName).isDir());
        return false;
    }
    want.path = QFileInfo(m_databaseName).canonicalFilePath();
    if (m_pending) {
        // The look-up prepared in the background: take it if it is this one.
        if (found && serves(m_pending->source, want))
            return takePending();
        cancelPending();
    }
    if (found && !m_failedError.isEmpty() && serves(m_failedSource, want)) {
        m_error = m_failedError;
        return false;
    }
    m_index.reset();
    if (m_wait)
        return adopt(want, buildIndex(m_databaseName, want, m_limits, m_cacheFolder, nullptr));
    // What fails without a read (no such file, no database) is told at once,
    // rather than after a round through a worker.
    QString why;
    if (!MdbFile(m_databaseName, m_limits).probe(&why) || !found) {
        m_error = why.isEmpty() ? MdbFile::missingMessage(m_databaseName) : why;
        return false;
    }
    startPending(want);
    return takePending(); // a worker that could not start has its failure ready
}

bool DataControl::takePending()
{
    std::unique_lock lock(m_pending->mutex);
    if (!m_pending->done && !m_wait) {
        lock.unlock();
        return stillPreparing();
    }
    m_pending->finished.wait(lock, [&] { return m_pending->done; });
    BuiltIndex built = std::move(m_pending->built);
    lock.unlock();
    const IndexSource source = m_pending->source;
    m_pending.reset();
    return adopt(source, std::move(built));
}

bool DataControl::stillPreparing()
{
    m_preparing = true;
    m_error = tr("Zdroj dat se připravuje…");
    return false;
}

bool DataControl::refresh(LookupIndex::Key key)
{
    m_recordset = Recordset();
    m_error.clear();
    m_preparing = false;
    const auto statement = parseStatement(m_recordSource, &m_error);
    if (!statement) {
        m_error = tr("Dotaz nelze provést: %1").arg(m_error);
        return false;
    }
    if (m_databaseName.isEmpty()) {
        m_error = tr("Není vybrán žádný soubor databáze.");
        return false;
    }
    QString out;
    if (statement->kind == Statement::Select) {
        const QStringList &f = statement->fields;
        if (!sameName(statement->orderField, statement->likeField)
            || !(sameName(f[0], statement->likeField) || sameName(f[1], statement->likeField))) {
            m_error = tr("Dotaz nelze provést: řadit lze jen podle prohledávaného pole „%1“, které musí být i "
                         "mezi vybranými poli.")
                          .arg(statement->likeField);
            return false;
        }
        out = sameName(f[0], statement->likeField) ? f[1] : f[0];
    } else if (sameName(statement->table, m_request.table) && sameName(statement->likeField, m_request.in)) {
        out = m_request.out;
    }
    const CaseRule rule = caseRuleFor(m_request.charsetIn);
    const bool bare = key == LookupIndex::Bare;
    const auto pattern =
        LikePattern::compile(bare ? bareText(statement->pattern, rule) : statement->pattern, &m_error, rule);
    if (!pattern) {
        m_error = tr("Dotaz nelze provést: %1").arg(m_error);
        return false;
    }
    if (!ensureIndex(statement->table, statement->likeField, out))
        return false;

    m_recordset.m_matches = m_index->find(*pattern, key);
    if (statement->kind == Statement::Count) {
        m_recordset.m_count = qint64(m_recordset.m_matches.size());
        m_recordset.m_countAlias = statement->countAlias;
        m_recordset.m_matches = Matches();
    } else {
        m_recordset.m_inField = statement->likeField;
        m_recordset.m_outField = out;
    }
    return true;
}

} // namespace tarnvik
