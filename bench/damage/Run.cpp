#include "Damage.h"

#include "db/DataControl.h"
#include "db/query/Sql.h"
#include "editor/Verify.h"

#include <QCryptographicHash>
#include <QFile>
#include <QElapsedTimer>
#include <condition_variable>
#include <mutex>

namespace tarnvik::damage {

ReadLimits campaignLimits(const Settings &s, int timeoutMs)
{
    ReadLimits limits;
    limits.timeoutMs = timeoutMs;
    limits.memoryBytes = s.memoryBytes;
    limits.helper = s.bin + (s.wrap ? QStringLiteral("/tarnvik-damage-wrap") : QStringLiteral("/tarnvik-mdbread"));
    return limits;
}

void useWrapper(const Settings &s, const QString &fate)
{
    qputenv("TARNVIK_DAMAGE_HELPER", QFile::encodeName(s.bin + QStringLiteral("/tarnvik-mdbread")));
    qputenv("TARNVIK_DAMAGE_FATE", QFile::encodeName(fate));
}

namespace {

QString digest(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().left(16));
}

void addValue(QByteArray *b, const QVariant &v)
{
    if (v.isNull())
        b->append("\x01N");
    else
        b->append(v.toString().toUtf8());
}

} // namespace

struct LookupRunner::Impl
{
    // Declared before the control: its handler uses them until it is gone.
    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;
    DataControl data;

    Impl()
    {
        data.setWaitForReads(false);
        data.setCacheFolder(QString());
        data.setPreparedHandler([this] {
            std::lock_guard lock(mutex);
            ready = true;
            changed.notify_all();
        });
    }

    // As the window: a refresh that finds the source being prepared is
    // repeated once the preparation says it is done.
    bool refresh(const QString &sql)
    {
        data.setRecordSource(sql);
        for (;;) {
            {
                std::lock_guard lock(mutex);
                ready = false;
            }
            if (data.refresh())
                return true;
            if (!data.preparing())
                return false;
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return ready; });
        }
    }
};

LookupRunner::LookupRunner()
    : d(new Impl)
{
}

LookupRunner::~LookupRunner()
{
    delete d;
}

Outcome LookupRunner::run(const QString &path, const Binding &b, const ReadLimits &limits, QStringList *inputs)
{
    Outcome o;
    QElapsedTimer timer;
    timer.start();
    DataControl &data = d->data;
    data.setReadLimits(limits);
    data.setDatabaseName(path);
    data.setRequest({b.table, b.in, b.out});
    data.prepare();
    bool answered = false;
    auto fail = [&] {
        o.ok = false;
        o.message = data.errorString();
        if (!answered)
            o.ms = timer.elapsed();
        return o;
    };
    for (const QString &prefix : QStringList{QString()} + b.prefixes) {
        if (!d->refresh(countStatement(b.table, b.in, prefix)))
            return fail();
        if (!answered) {
            o.ms = timer.elapsed();
            answered = true;
        }
        const qint64 count = data.recordset().field(kCountAlias).toLongLong();
        if (prefix.isEmpty())
            o.rows = count;
        o.answers << digest(QByteArray::number(count));
        if (!d->refresh(selectStatement(b.table, b.in, b.out, prefix)))
            return fail();
        Recordset &rs = data.recordset();
        QByteArray rows;
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            const QVariant in = rs.field(b.in);
            addValue(&rows, in);
            rows.append('\x1f');
            addValue(&rows, rs.field(b.out));
            rows.append('\x1e');
            if (inputs && prefix.isEmpty() && !in.isNull())
                inputs->append(in.toString());
        }
        o.answers << digest(rows);
    }
    o.ok = true;
    return o;
}

namespace {

template<class Fn>
Outcome timed(Fn fn)
{
    Outcome o;
    QElapsedTimer timer;
    timer.start();
    QString error;
    const std::optional<QStringList> answer = fn(&error);
    o.ms = timer.elapsed();
    o.ok = answer.has_value();
    if (o.ok)
        o.answers << answer->join(u'\x1f');
    else
        o.message = error;
    return o;
}

} // namespace

Outcome verifyTables(const QString &path, const ReadLimits &limits)
{
    return timed([&](QString *error) { return databaseTables(path, error, limits); });
}

Outcome verifyFields(const QString &path, const QString &table, const ReadLimits &limits)
{
    return timed([&](QString *error) { return tableFields(path, table, error, limits); });
}

Outcome verifyOpen(const QString &path, const ReadLimits &limits)
{
    return timed([&](QString *error) -> std::optional<QStringList> {
        if (!openDatabase(path, error, limits))
            return std::nullopt;
        return QStringList{QStringLiteral("open")};
    });
}

} // namespace tarnvik::damage
