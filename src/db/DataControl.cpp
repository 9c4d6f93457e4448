#include "DataControl.h"

#include "db/jet/Charset.h"
#include "db/query/Sql.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <sys/stat.h>

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
        return ix.inputIsNull(row) ? QVariant() : QVariant(ix.input(row).toString());
    if (sameName(name, m_outField))
        return ix.outputIsNull(row) ? QVariant() : QVariant(ix.output(row).toString());
    return QVariant();
}

DataControl::DataControl() = default;
DataControl::~DataControl()
{
    cancelPending();
    waitForCache();
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
        m_indexSource.path.clear(); // the canonical name of the old one
    }
    m_databaseName = path;
}

void DataControl::setCharsets(int in, int out)
{
    m_charsetIn = in;
    m_charsetOut = out;
}

bool DataControl::serves(const IndexSource &have, const IndexSource &want)
{
    return have.path == want.path && have.size == want.size && have.modified == want.modified
        && sameName(have.table, want.table) && sameName(have.in, want.in) && have.charsetIn == want.charsetIn
        && have.charsetOut == want.charsetOut && (want.out.isEmpty() || sameName(have.out, want.out));
}

IndexSource DataControl::sourceFor(const QString &table, const QString &in, const QString &out, bool *found) const
{
    // A keystroke costs one stat: the file is looked into only when it changed.
    struct stat st;
    *found = ::stat(QFile::encodeName(m_databaseName).constData(), &st) == 0;
    return IndexSource{m_indexSource.path, table, in, out, m_charsetIn, m_charsetOut, *found ? qint64(st.st_size) : -1,
                       QDateTime::fromMSecsSinceEpoch(
                           *found ? qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000 : 0, Qt::UTC)};
}

DataControl::Built DataControl::buildIndex(const QString &databaseName, const IndexSource &want, const ReadLimits &limits,
                                           const QString &cacheFolder, const std::atomic<bool> *cancel)
try {
    Built b;
    MdbFile file(databaseName, limits);
    const auto format = file.probe(&b.error);
    if (!format) {
        b.quick = true;
        return b;
    }
    if ((b.index = IndexCache(cacheFolder).load(want))) {
        b.fromCache = true;
        return b;
    }

    QStringList fields = {want.in};
    if (!want.out.isEmpty() && !sameName(want.out, want.in))
        fields << want.out;
    LookupIndex::Builder builder;
    builder.reserveFor(uint64_t(want.size));
    const bool jet3 = format->jet3();
    const int csIn = want.charsetIn, csOut = want.charsetOut;
    // Each value is decoded into a buffer kept from row to row: a million rows
    // then cost no allocations here.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    auto text = [&](const StoredValue &v, int charset, QString &buffer) {
        if (jet3) {
            buffer = displayTextJet3(v.bytes, charset);
            return;
        }
        buffer.resize(utf8.requiredSpace(v.bytes.size()));
        buffer.truncate(utf8.appendToBuffer(buffer.data(), v.bytes) - buffer.constData());
        buffer = displayTextJet4(buffer, charset);
    };
    const bool twoFields = fields.size() == 2;
    QString inText, outText;
    auto sink = [&](const StoredValue *values) {
        const StoredValue &vin = values[0];
        const StoredValue &vout = twoFields ? values[1] : values[0];
        if (!vin.null)
            text(vin, csIn, inText);
        const bool outNull = vout.null || want.out.isEmpty();
        if (!outNull && (twoFields || csIn != csOut))
            text(vout, csOut, outText);
        const QStringView &outView = twoFields || csIn != csOut ? outText : inText;
        builder.add(vin.null ? std::nullopt : std::optional<QStringView>(inText),
                    outNull ? std::nullopt : std::optional<QStringView>(outView));
    };
    if (file.readRows(want.table, fields, sink, &b.error, cancel))
        b.index = builder.build();
    return b;
} catch (const std::exception &e) {
    // Too big a table or too little memory must not take the program down.
    Built b;
    b.error = tr("Soubor „%1“ nelze načíst: %2").arg(databaseName, QString::fromLocal8Bit(e.what()));
    return b;
}

bool DataControl::adopt(const IndexSource &want, Built built)
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
    if (built.fromCache)
        return true;
    // The first answer need not wait for the file: the index no longer changes.
    waitForCache();
    m_cacheSave = std::async(std::launch::async, [cache = IndexCache(m_cacheFolder), want,
                                                  index = std::shared_ptr<const LookupIndex>(m_index)] {
        QString cacheError;
        if (!cache.save(want, *index, &cacheError))
            qWarning("Index cache not written: %s", qPrintable(cacheError));
    });
    return true;
}

void DataControl::cancelPending()
{
    if (!m_pending.valid())
        return;
    m_cancel = true;
    m_pending.wait();
    m_pending = {};
    m_cancel = false;
}

void DataControl::prepare(const QString &table, const QString &in, const QString &out)
{
    bool found = false;
    IndexSource want = sourceFor(table, in, out, &found);
    if (!found || (m_index && serves(m_indexSource, want)))
        return;
    want.path = QFileInfo(m_databaseName).canonicalFilePath();
    if (m_pending.valid() && serves(m_pendingSource, want))
        return;
    cancelPending();
    if (!m_failedError.isEmpty() && serves(m_failedSource, want))
        return;
    m_pendingSource = want;
    m_pending = std::async(std::launch::async, [name = m_databaseName, want, limits = m_limits,
                                                folder = m_cacheFolder, cancel = &m_cancel] {
        return buildIndex(name, want, limits, folder, cancel);
    });
}

bool DataControl::ensureIndex(const QString &table, const QString &in, const QString &out)
{
    bool found = false;
    IndexSource want = sourceFor(table, in, out, &found);
    if (found && m_index && serves(m_indexSource, want))
        return true;
    want.path = QFileInfo(m_databaseName).canonicalFilePath();
    if (m_pending.valid()) {
        // The look-up prepared in the background: wait for it if it is this one.
        if (found && serves(m_pendingSource, want)) {
            Built built = m_pending.get();
            return adopt(m_pendingSource, std::move(built));
        }
        cancelPending();
    }
    if (found && !m_failedError.isEmpty() && serves(m_failedSource, want)) {
        m_error = m_failedError;
        return false;
    }
    m_index.reset();
    return adopt(want, buildIndex(m_databaseName, want, m_limits, m_cacheFolder, nullptr));
}

bool DataControl::refresh()
{
    m_recordset = Recordset();
    m_error.clear();
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
    } else if (!m_outputHint.isEmpty()) {
        out = m_outputHint;
    }
    const auto pattern = LikePattern::compile(statement->pattern, &m_error);
    if (!pattern) {
        m_error = tr("Dotaz nelze provést: %1").arg(m_error);
        return false;
    }
    if (!ensureIndex(statement->table, statement->likeField, out))
        return false;

    m_recordset.m_matches = m_index->find(*pattern);
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
