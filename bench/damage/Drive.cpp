// The driving process: stands for the window's process. Each case's damaged
// copy is bound and looked up through one long-lived data control, as the
// window keeps one, and verified as the editor verifies a source; every
// outcome is compared with the undamaged file's.
#include "Damage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <thread>
#include <unistd.h>

namespace tarnvik::damage {

namespace {

void say(const QString &line)
{
    const QByteArray b = line.toUtf8() + '\n';
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    std::fflush(stdout);
}

QString clean(QString s)
{
    return s.replace(u'\t', u' ').replace(u'\n', u' ').replace(u'\r', u' ');
}

bool intersects(const std::set<uint32_t> &a, const std::set<uint32_t> &b)
{
    for (uint32_t p : a) {
        if (b.count(p))
            return true;
    }
    return false;
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// How the helper runs of one operation ended, from the wrapper's notes.
struct Fates
{
    int runs = 0, failed = 0, memory = 0;
    std::map<int, int> bySignal;
};

class FateLog
{
public:
    explicit FateLog(QString path) : m_path(std::move(path)) {}
    Fates since()
    {
        Fates f;
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return f;
        file.seek(m_pos);
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            if (!line.endsWith('\n'))
                break;
            m_pos += line.size();
            const QList<QByteArray> cells = line.trimmed().split('\t');
            if (cells.size() < 5)
                continue;
            ++f.runs;
            if (cells[1] == "signal")
                ++f.bySignal[cells[2].toInt()];
            else if (cells[2] != "0")
                ++f.failed;
            f.memory += cells[4] == "1" ? 1 : 0;
        }
        return f;
    }

private:
    QString m_path;
    qint64 m_pos = 0;
};

struct Op
{
    QString name;  // L<k> look-up, F<k> fields, T tables, O open
    QString code;  // same diff DIFF msg MSG
    QString flags; // t time-out, m memory stop; an answer from a file cut c within a page, p at one
    qint64 ms = 0;
    QString note;
    QString shape; // a message with the file's name taken out, to count messages by kind
};

class Driver
{
public:
    Driver(const Settings &s, const Pool &pool, const QString &dir)
        : m_s(s)
        , m_pool(pool)
        , m_dir(dir)
        , m_fates(dir + QStringLiteral("/fates.tsv"))
    {
        useWrapper(s, dir + QStringLiteral("/fates.tsv"));
    }

    QString runCase(qint64 index);

private:
    Op classify(const QString &name, const Case &c, const QString &path, const Outcome &got,
                const QList<const Outcome *> &allowed, const std::set<uint32_t> &deps, bool mappable);
    const Outcome &referenceLookup(int original, const Binding &b);
    const Outcome &referenceCheck(int original, const QString &op, const QString &table);
    void mutate(const Case &c, const QString &path);

    const Settings &m_s;
    const Pool &m_pool;
    QString m_dir;
    FateLog m_fates;
    LookupRunner m_runner, m_reference;
    QHash<QString, Outcome> m_memo;
    Fates m_caseFates;
};

const Outcome &Driver::referenceLookup(int original, const Binding &b)
{
    const QString key = QStringLiteral("L%1\x1f%2\x1f%3\x1f%4\x1f%5")
                            .arg(original)
                            .arg(b.table, b.in, b.out, b.prefixes.join(u'\x1f'));
    auto it = m_memo.find(key);
    if (it == m_memo.end())
        it = m_memo.insert(key, m_reference.run(m_pool.originals[original].path, b, campaignLimits(m_s, m_s.readTimeoutMs)));
    return *it;
}

const Outcome &Driver::referenceCheck(int original, const QString &op, const QString &table)
{
    const QString key = QStringLiteral("%1\x1f%2\x1f%3").arg(op).arg(original).arg(table);
    auto it = m_memo.find(key);
    if (it == m_memo.end()) {
        const QString path = m_pool.originals[original].path;
        const ReadLimits limits = campaignLimits(m_s, 4000);
        it = m_memo.insert(key, op == u"T"   ? verifyTables(path, limits)
                                : op == u"O" ? verifyOpen(path, limits)
                                             : verifyFields(path, table, limits));
    }
    return *it;
}

Op Driver::classify(const QString &name, const Case &c, const QString &path, const Outcome &got,
                    const QList<const Outcome *> &allowed, const std::set<uint32_t> &deps, bool mappable)
{
    Op op;
    op.name = name;
    op.ms = got.ms;
    const Fates f = m_fates.since();
    m_caseFates.runs += f.runs;
    m_caseFates.failed += f.failed;
    m_caseFates.memory += f.memory;
    for (const auto &[sig, n] : f.bySignal)
        m_caseFates.bySignal[sig] += n;
    if (!got.ok) {
        const bool named = got.message.contains(path) || got.message.contains(QFileInfo(path).absoluteFilePath());
        op.code = named ? QStringLiteral("msg") : QStringLiteral("MSG");
        if (got.message.contains(u"trvalo déle než") || got.message.contains(u"se zastavilo"))
            op.flags += u't';
        if (f.memory)
            op.flags += u'm';
        if (!named)
            op.note = clean(got.message);
        op.shape = clean(QString(got.message).replace(path, QStringLiteral("…")));
        return op;
    }
    // Each statement may match any allowed state of the file: a look-up
    // running while the file is replaced may answer from either.
    bool same = true;
    for (qsizetype i = 0; i < got.answers.size() && same; ++i) {
        bool any = false;
        for (const Outcome *a : allowed)
            any = any || (a->ok && a->answers.value(i) == got.answers[i]);
        same = any;
    }
    bool anyOk = false;
    for (const Outcome *a : allowed)
        anyOk = anyOk || (a->ok && a->answers.size() == got.answers.size());
    same = same && anyOk;
    if (c.kind == Kind::Truncate)
        op.flags += c.bytes.size() % m_pool.originals[c.original].layout.pageSize ? u'c' : u'p';
    if (same) {
        op.code = QStringLiteral("same");
        return op;
    }
    // Damage explains a different answer only where the reader looks.
    // A file replaced while it is read has no damage: any other answer is wrong.
    const bool replaced = c.kind == Kind::LiveReplace || c.kind == Kind::LiveRewrite;
    const bool explained = !replaced && (!mappable || intersects(c.pages, deps));
    op.code = explained ? QStringLiteral("diff") : QStringLiteral("DIFF");
    if (!explained) {
        const Outcome &a = *allowed.first();
        op.note = a.ok ? QStringLiteral("rows %1 -> %2").arg(a.rows).arg(got.rows)
                       : QStringLiteral("undamaged: %1; damaged answered").arg(clean(a.message));
    }
    return op;
}

void Driver::mutate(const Case &c, const QString &path)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(c.delayMs));
    const QByteArray path8 = QFile::encodeName(path);
    if (c.kind == Kind::LiveGrow) {
        const int fd = ::open(path8.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0)
            return;
        const qsizetype piece = (c.grow.size() + c.steps - 1) / c.steps;
        for (qsizetype at = 0; at < c.grow.size(); at += piece) {
            const qsizetype n = std::min(piece, c.grow.size() - at);
            if (::write(fd, c.grow.constData() + at, size_t(n)) != n)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(c.stepMs));
        }
        ::close(fd);
        return;
    }
    QFile src(m_pool.originals[c.replacement].path);
    if (!src.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = src.readAll();
    if (c.kind == Kind::LiveReplace) {
        const QString aside = path + QStringLiteral(".new");
        if (writeAll(aside, bytes))
            ::rename(QFile::encodeName(aside).constData(), path8.constData());
        return;
    }
    const int fd = ::open(path8.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    for (qsizetype at = 0, page = 0; at < bytes.size(); at += 4096, ++page) {
        const qsizetype n = std::min<qsizetype>(4096, bytes.size() - at);
        if (::pwrite(fd, bytes.constData() + at, size_t(n), at) != n)
            break;
        if (c.stepMs && page % 16 == 15)
            std::this_thread::sleep_for(std::chrono::milliseconds(c.stepMs));
    }
    if (::ftruncate(fd, bytes.size()) != 0) {
        // The file keeps the old tail: still one of the states a reader may meet.
    }
    ::close(fd);
}

QString Driver::runCase(qint64 index)
{
    Case c = makeCase(m_pool, m_s.seed, index);
    if (m_s.selftest && index == kPlantedWrong) {
        // A reader that hands out another file's rows without a word: the
        // copy is the twin with other rows, and no damage is on record.
        c.original = m_pool.own().first();
        c.kind = Kind::Flip1;
        c.region = QStringLiteral("planted");
        c.what = QStringLiteral("the twin's bytes under this file's name");
        QFile twin(m_pool.originals[c.original].alternate);
        c.bytes = twin.open(QIODevice::ReadOnly) ? twin.readAll() : QByteArray();
        c.pages.clear();
        c.bindings = {0};
    }
    const Original &o = m_pool.originals[c.original];
    const JetLayout &layout = o.layout;
    const QString path = m_dir + QStringLiteral("/case-%1.mdb").arg(index);
    m_fates.since();
    m_caseFates = Fates();
    QList<Op> ops;
    const bool replacing = c.kind == Kind::LiveReplace || c.kind == Kind::LiveRewrite;
    // What the replacement answers, known before the race starts.
    if (replacing) {
        for (int k : c.bindings)
            referenceLookup(c.replacement, o.bindings[k]);
    }
    if (!writeAll(path, c.bytes))
        return QStringLiteral("cannot write %1").arg(path);
    const ReadLimits limits = campaignLimits(m_s, m_s.readTimeoutMs);
    bool first = true;
    for (int k : c.bindings) {
        const Binding &b = o.bindings[k];
        say(QStringLiteral("O\t%1\tL%2").arg(index).arg(k));
        std::thread mutator;
        if (first && isLive(c.kind))
            mutator = std::thread([&] { mutate(c, path); });
        const Outcome got = m_runner.run(path, b, limits);
        first = false;
        if (mutator.joinable())
            mutator.join();
        QList<const Outcome *> allowed = {&b.lookup};
        if (replacing)
            allowed << &referenceLookup(c.replacement, b);
        const TableLayout *t = layout.table(b.table);
        ops << classify(QStringLiteral("L%1").arg(k), c, path, got, allowed, t ? t->deps : std::set<uint32_t>{},
                        b.mapped && layout.problem.isEmpty());
    }
    // The editor checks the file as it now is: the replacement's answers then.
    auto expected = [&](const QString &op, const QString &table, const Outcome &own) -> QList<const Outcome *> {
        if (!replacing)
            return {&own};
        return {&referenceCheck(c.replacement, op, table)};
    };
    if (isLive(c.kind) && c.bindings.isEmpty())
        mutate(c, path); // no look-up to race with: the editor meets the changed file
    say(QStringLiteral("O\t%1\tT").arg(index));
    Outcome tables = verifyTables(path, campaignLimits(m_s, 4000));
    if (m_s.selftest && index == kPlantedUnnamed) {
        tables.ok = false;
        tables.message = QStringLiteral("a planted message that names no file");
    }
    ops << classify(QStringLiteral("T"), c, path, tables, expected(QStringLiteral("T"), QString(), o.tables),
                    layout.catalogueDeps, layout.problem.isEmpty());
    for (int k : c.bindings) {
        const Binding &b = o.bindings[k];
        say(QStringLiteral("O\t%1\tF%2").arg(index).arg(k));
        const TableLayout *t = layout.table(b.table);
        ops << classify(QStringLiteral("F%1").arg(k), c, path, verifyFields(path, b.table, campaignLimits(m_s, 4000)),
                        expected(QStringLiteral("F"), b.table, b.fields), t ? t->deps : std::set<uint32_t>{},
                        b.mapped && layout.problem.isEmpty());
    }
    say(QStringLiteral("O\t%1\tO").arg(index));
    ops << classify(QStringLiteral("O"), c, path, verifyOpen(path, campaignLimits(m_s, 4000)),
                    expected(QStringLiteral("O"), QString(), o.open), layout.catalogueDeps, layout.problem.isEmpty());

    QStringList cells, notes, shapes;
    bool fault = false;
    for (const Op &op : ops) {
        cells << QStringLiteral("%1=%2:%3:%4").arg(op.name, op.code).arg(op.ms).arg(op.flags);
        if (!op.note.isEmpty())
            notes << QStringLiteral("%1 %2").arg(op.name, op.note);
        if (!op.shape.isEmpty())
            shapes << QString(op.shape).replace(u'|', u'/');
        fault = fault || op.code == u"DIFF" || op.code == u"MSG";
    }
    QStringList fates = {QStringLiteral("runs:%1").arg(m_caseFates.runs), QStringLiteral("exit:%1").arg(m_caseFates.failed),
                         QStringLiteral("alloc:%1").arg(m_caseFates.memory)};
    for (const auto &[sig, n] : m_caseFates.bySignal)
        fates << QStringLiteral("sig%1:%2").arg(sig).arg(n);
    if (fault) {
        // Kept for a look; the case can also be made again from its seed.
        QDir().mkpath(m_s.work + QStringLiteral("/faults"));
        QFile::remove(m_s.work + QStringLiteral("/faults/case-%1.mdb").arg(index));
        QFile::copy(path, m_s.work + QStringLiteral("/faults/case-%1.mdb").arg(index));
    }
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".new"));
    QStringList bound;
    for (int k : c.bindings)
        bound << QStringLiteral("%1=%2").arg(k).arg(clean(o.bindings[k].table));
    return QStringList{QString::number(index), o.name, QString::fromLatin1(kindName(c.kind)), clean(c.region),
                       clean(c.what), cells.join(u';'), notes.join(u" | "), fates.join(u','), bound.join(u','),
                       shapes.join(u'|')}
        .join(u'\t');
}

#ifndef __SANITIZE_ADDRESS__ // the sanitizer's own report says more
// Tells the supervisor which signal ends the driver (only plain system calls
// here), then lets it end the driver as it would have.
void onFatalSignal(int sig)
{
    char line[16] = "S\t";
    int n = 2;
    if (sig >= 10)
        line[n++] = char('0' + sig / 10);
    line[n++] = char('0' + sig % 10);
    line[n++] = '\n';
    if (::write(STDOUT_FILENO, line, size_t(n)) < 0) {
        // The supervisor then books an unnamed crash.
    }
    ::raise(sig);
}
#endif

} // namespace

int drive(const Settings &s, const Pool &pool, qint64 first, qint64 step, qint64 last)
{
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's own report says more
    for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) {
        struct sigaction sa = {};
        sa.sa_handler = onFatalSignal;
        sa.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigaction(sig, &sa, nullptr);
    }
#endif
    const QString dir = s.work + QStringLiteral("/drive-%1").arg(::getpid());
    QDir().mkpath(dir);
    int status = 0;
    {
        Driver driver(s, pool, dir);
        for (qint64 i = first; i <= last; i += step) {
            say(QStringLiteral("B\t%1").arg(i));
            if (s.selftest && i == kPlantedCrash)
                std::abort();
            if (s.selftest && i == kPlantedHang) {
                for (;;)
                    std::this_thread::sleep_for(std::chrono::seconds(1));
            }
            say(QStringLiteral("R\t") + driver.runCase(i));
        }
    }
    QDir(dir).removeRecursively();
    return status;
}

} // namespace tarnvik::damage
