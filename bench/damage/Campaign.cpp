// The supervisor: runs drivers, books a driver's crash or hang to the case it
// was on and starts it again after that case; then the figures.
#include "Damage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <map>
#include <sys/prctl.h>

namespace tarnvik::damage {

namespace {

struct Worker
{
    QProcess *proc = nullptr;
    qint64 next = 0;     // the first case the next start runs
    qint64 current = -1; // the case under way
    QString op;          // its operation under way
    QElapsedTimer quiet; // since the last line
    QByteArray pending;
    int signal = 0; // the fatal signal the driver said it got
    bool hung = false, finished = false;
};

QString caseColumns(const Pool &pool, const Settings &s, qint64 index)
{
    const Case c = makeCase(pool, s.seed, index);
    auto clean = [](QString v) { return v.replace(u'\t', u' ').replace(u'\n', u' '); };
    return QStringList{QString::number(index), pool.originals[c.original].name, QString::fromLatin1(kindName(c.kind)),
                       clean(c.region), clean(c.what)}
        .join(u'\t');
}

QString signalName(int sig)
{
    const char *name = sigabbrev_np(sig);
    return name ? QStringLiteral("SIG%1").arg(QLatin1String(name)) : QStringLiteral("signal %1").arg(sig);
}

} // namespace

int campaign(const Settings &s)
{
    QTextStream out(stdout);
    QDir().mkpath(s.work);
    Pool pool;
    QString error;
    QElapsedTimer total;
    total.start();
    out << "Setting up in " << s.work << " ..." << Qt::endl;
    if (!setUp(s, &pool, &error)) {
        out << "setup failed: " << error << Qt::endl;
        return 2;
    }
    out << "  " << pool.own().size() << " own databases, " << pool.real().size() << " real files" << Qt::endl;
    for (const Original &o : pool.originals) {
        for (const Binding &b : o.bindings) {
            if (!b.mapped)
                out << "  not walked (any damage counts as explaining a different answer): " << o.name << " table "
                    << b.table << Qt::endl;
        }
        if (!o.layout.problem.isEmpty())
            out << "  not walked: " << o.name << ": " << o.layout.problem << Qt::endl;
    }

    QFile settings(s.work + QStringLiteral("/settings.txt"));
    if (settings.open(QIODevice::WriteOnly | QIODevice::Truncate))
        settings.write(QStringLiteral("seed %1, %2 files, %3 drivers; reads limited to %4 s and %5 MiB, the editor's to "
                                      "4 s; no outcome for %6 s is a hang\n")
                           .arg(s.seed)
                           .arg(s.count)
                           .arg(s.jobs)
                           .arg(s.readTimeoutMs / 1000.0)
                           .arg(s.memoryBytes >> 20)
                           .arg(s.hangMs / 1000.0)
                           .toUtf8());
    settings.close();
    QFile mark(s.work + QStringLiteral("/selftest"));
    if (s.selftest)
        mark.open(QIODevice::WriteOnly);
    else
        mark.remove();
    mark.close();

    QFile results(s.work + QStringLiteral("/results.tsv"));
    if (!results.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        out << "cannot write " << results.fileName() << Qt::endl;
        return 2;
    }
    QFile log(s.work + QStringLiteral("/drivers.log"));
    log.open(QIODevice::WriteOnly | QIODevice::Truncate);
    auto record = [&](const QString &line) {
        results.write(line.toUtf8() + '\n');
        results.flush();
    };

    const int jobs = int(std::max<qint64>(1, std::min<qint64>(s.jobs, s.count)));
    std::vector<Worker> workers(static_cast<size_t>(jobs));
    QEventLoop loop;
    qint64 done = 0;
    int running = 0;
    std::function<void(Worker &)> start;
    auto lineFrom = [&](Worker &w, const QByteArray &raw) {
        const QString line = QString::fromUtf8(raw);
        w.quiet.restart();
        if (line.startsWith(u"B\t")) {
            w.current = line.mid(2).toLongLong();
            w.op = QStringLiteral("making the copy");
        } else if (line.startsWith(u"O\t")) {
            w.op = line.section(u'\t', 2);
        } else if (line.startsWith(u"S\t")) {
            w.signal = line.mid(2).toInt();
        } else if (line.startsWith(u"R\t")) {
            record(line.mid(2));
            w.next = w.current + jobs;
            w.current = -1;
            if (++done % 500 == 0)
                out << "  " << done << " files, " << total.elapsed() / 1000 << " s" << Qt::endl;
        } else {
            log.write(raw + '\n');
        }
    };
    auto drain = [&](Worker &w) {
        w.pending += w.proc->readAllStandardOutput();
        qsizetype nl;
        while ((nl = w.pending.indexOf('\n')) >= 0) {
            const QByteArray line = w.pending.left(nl);
            w.pending.remove(0, nl + 1);
            lineFrom(w, line);
        }
    };
    start = [&](Worker &w) {
        if (w.next >= s.count) {
            w.finished = true;
            if (--running == 0)
                loop.quit();
            return;
        }
        w.proc = new QProcess;
        w.hung = false;
        w.signal = 0;
        w.current = -1;
        w.proc->setProgram(QCoreApplication::applicationFilePath());
        QStringList args = {QStringLiteral("drive"), QStringLiteral("--work"), s.work, QStringLiteral("--bin"), s.bin,
                            QStringLiteral("--seed"), QString::number(s.seed), QStringLiteral("--first"),
                            QString::number(w.next), QStringLiteral("--step"), QString::number(jobs),
                            QStringLiteral("--last"), QString::number(s.count - 1), QStringLiteral("--read-timeout"),
                            QString::number(s.readTimeoutMs / 1000.0), QStringLiteral("--memory-mib"),
                            QString::number(s.memoryBytes >> 20)};
        if (s.selftest)
            args << QStringLiteral("--selftest");
        if (!s.wrap)
            args << QStringLiteral("--no-wrap");
        w.proc->setArguments(args);
        w.proc->setStandardErrorFile(log.fileName(), QIODevice::Append);
        // A supervisor that is stopped takes its drivers with it.
        w.proc->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        QObject::connect(w.proc, &QProcess::readyReadStandardOutput, w.proc, [&, pw = &w] { drain(*pw); });
        auto ended = [&, pw = &w](int code, QProcess::ExitStatus status) {
            Worker &wk = *pw;
            drain(wk);
            wk.proc->deleteLater();
            wk.proc = nullptr;
            const bool crashed = status != QProcess::NormalExit || code != 0;
            if (!crashed && wk.current < 0) {
                wk.finished = true;
                if (--running == 0)
                    loop.quit();
                return;
            }
            const qint64 at = wk.current >= 0 ? wk.current : wk.next;
            QString how = wk.hung ? QStringLiteral("!HANG: no outcome for %1 s during %2").arg(s.hangMs / 1000).arg(wk.op)
                : wk.signal       ? QStringLiteral("!CRASH: %1 during %2").arg(signalName(wk.signal), wk.op)
                : status != QProcess::NormalExit ? QStringLiteral("!CRASH: killed during %1").arg(wk.op)
                                                 : QStringLiteral("!CRASH: exit %1 during %2").arg(code).arg(wk.op);
            if (wk.current < 0)
                how += QStringLiteral(" (between cases)");
            record(caseColumns(pool, s, at) + u'\t' + how + QStringLiteral("\t\t\t"));
            ++done;
            wk.next = at + jobs;
            start(wk);
        };
        QObject::connect(w.proc, &QProcess::finished, w.proc, ended);
        QObject::connect(w.proc, &QProcess::errorOccurred, w.proc, [ended](QProcess::ProcessError e) {
            if (e == QProcess::FailedToStart)
                ended(127, QProcess::NormalExit);
        });
        w.quiet.restart();
        w.proc->start();
    };
    for (int j = 0; j < jobs; ++j) {
        workers[size_t(j)].next = j;
        ++running;
    }
    for (Worker &w : workers)
        start(w);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (Worker &w : workers) {
            if (w.proc && !w.hung && w.quiet.elapsed() > s.hangMs) {
                w.hung = true;
                w.proc->kill();
            }
        }
    });
    watch.start(1000);
    if (running > 0)
        loop.exec();
    results.close();
    out << "Done in " << total.elapsed() / 1000 << " s." << Qt::endl << Qt::endl;
    return report(s.work, s.check);
}

namespace {

struct Tally
{
    qint64 ops = 0, same = 0, diff = 0, wrong = 0, msg = 0, unnamed = 0, timeout = 0, memory = 0;
    qint64 cutSame = 0, cutDiff = 0, pageCutDiff = 0;
    std::vector<qint64> ms;
    void add(const QString &code, const QString &flags, qint64 t)
    {
        ++ops;
        same += code == u"same";
        diff += code == u"diff";
        wrong += code == u"DIFF";
        msg += code == u"msg";
        unnamed += code == u"MSG";
        timeout += flags.contains(u't');
        memory += flags.contains(u'm');
        const bool differs = code.compare(u"diff", Qt::CaseInsensitive) == 0;
        cutSame += flags.contains(u'c') && code == u"same";
        cutDiff += flags.contains(u'c') && differs;
        pageCutDiff += flags.contains(u'p') && differs;
        ms.push_back(t);
    }
};

qint64 percentile(std::vector<qint64> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

} // namespace

int report(const QString &work, bool check)
{
    QTextStream out(stdout);
    QFile f(work + QStringLiteral("/results.tsv"));
    if (!f.open(QIODevice::ReadOnly)) {
        out << "no results in " << work << Qt::endl;
        return 2;
    }
    std::map<QString, Tally> byOp, byKind;
    Tally all;
    qint64 files = 0, crashes = 0, hangs = 0, own = 0;
    qint64 helperRuns = 0, helperFailed = 0, helperAlloc = 0;
    std::map<int, qint64> helperSignals;
    std::map<QString, qint64> shapes;
    QStringList faults;
    const bool selftest = QFile::exists(work + QStringLiteral("/selftest"));
    int planted = 0;
    const QString names[] = {QStringLiteral("look-up (bind to 1st answer)"), QStringLiteral("tables (editor)"),
                             QStringLiteral("fields (editor)"), QStringLiteral("open (editor)")};
    while (!f.atEnd()) {
        const QStringList c = QString::fromUtf8(f.readLine()).chopped(1).split(u'\t');
        if (c.size() < 9)
            continue;
        ++files;
        own += c[1].startsWith(u"own");
        const QString where = QStringLiteral("case %1: %2, %3 %4 (%5)").arg(c[0], c[1], c[2], c[3], c[4]);
        const qint64 index = c[0].toLongLong();
        if (selftest && (index == kPlantedCrash || index == kPlantedHang || index == kPlantedWrong
                         || index == kPlantedUnnamed)) {
            const bool booked = index == kPlantedCrash ? c[5].startsWith(u"!CRASH")
                : index == kPlantedHang                ? c[5].startsWith(u"!HANG")
                : index == kPlantedWrong               ? c[5].contains(u"=DIFF")
                                                       : c[5].contains(u"=MSG");
            planted += booked ? 1 : 0;
            continue;
        }
        if (c[5].startsWith(u"!")) {
            const bool hang = c[5].startsWith(u"!HANG");
            (hang ? hangs : crashes) += 1;
            faults << where + QStringLiteral(": ") + c[5].mid(1);
            continue;
        }
        Tally &kind = byKind[c[2]];
        for (const QString &op : c[5].split(u';', Qt::SkipEmptyParts)) {
            const QString name = op.section(u'=', 0, 0);
            const QStringList v = op.section(u'=', 1).split(u':');
            const QString label = names[name.startsWith(u'L') ? 0 : name == u"T" ? 1 : name.startsWith(u'F') ? 2 : 3];
            const qint64 ms = v.value(1).toLongLong();
            byOp[label].add(v.value(0), v.value(2), ms);
            all.add(v.value(0), v.value(2), ms);
            kind.add(v.value(0), v.value(2), ms);
        }
        for (const QString &fate : c[7].split(u',', Qt::SkipEmptyParts)) {
            const qint64 n = fate.section(u':', 1).toLongLong();
            const QString key = fate.section(u':', 0, 0);
            if (key == u"runs")
                helperRuns += n;
            else if (key == u"exit")
                helperFailed += n;
            else if (key == u"alloc")
                helperAlloc += n;
            else if (key.startsWith(u"sig"))
                helperSignals[key.mid(3).toInt()] += n;
        }
        for (const QString &shape : c.value(9).split(u'|', Qt::SkipEmptyParts))
            ++shapes[shape];
        if (c[5].contains(u"=DIFF") || c[5].contains(u"=MSG"))
            faults << where + QStringLiteral(": ") + c[6] + QStringLiteral(" [") + c[5] + u']';
    }

    QFile settings(work + QStringLiteral("/settings.txt"));
    if (settings.open(QIODevice::ReadOnly))
        out << "Campaign: " << QString::fromUtf8(settings.readAll());
    out << "Files damaged and driven: " << files << " (own databases " << own << ", real files " << files - own
        << ")" << Qt::endl;
    out << "Driving process: crashes " << crashes << ", hangs " << hangs << Qt::endl << Qt::endl;
    auto row = [&](const QString &label, const Tally &t) {
        out << qSetFieldWidth(30) << Qt::left << label << qSetFieldWidth(8) << Qt::right << t.ops << t.same << t.diff
            << t.wrong << t.msg << t.unnamed << t.timeout << t.memory << percentile(t.ms, 0.5) << percentile(t.ms, 0.99)
            << (t.ms.empty() ? 0 : *std::max_element(t.ms.begin(), t.ms.end())) << qSetFieldWidth(0) << Qt::endl;
    };
    out << qSetFieldWidth(30) << Qt::left << "operation" << qSetFieldWidth(8) << Qt::right << "ops" << "same"
        << "differ" << "WRONG" << "message" << "UNNAMED" << "timeout" << "memory" << "p50 ms" << "p99 ms" << "max ms"
        << qSetFieldWidth(0) << Qt::endl;
    for (const QString &n : names)
        row(n, byOp[n]);
    row(QStringLiteral("all"), all);
    out << Qt::endl
        << "same: the undamaged file's answer; differ: another answer, the damage lies where the reader looks;" << Qt::endl
        << "WRONG: another answer although the reader's pages were untouched (silent wrong answer);" << Qt::endl
        << "message: a message naming the file; UNNAMED: a message that does not; timeout and memory stops are" << Qt::endl
        << "messages too. Times: from binding to the first answer or message; editor calls as a whole." << Qt::endl
        << Qt::endl;
    out << "By kind of damage:" << Qt::endl;
    for (const auto &[k, t] : byKind)
        row(QStringLiteral("  ") + k, t);
    out << Qt::endl
        << "Answers from files cut within a page (not a whole number of pages): " << all.cutSame + all.cutDiff
        << " (the undamaged answer " << all.cutSame << ", another " << all.cutDiff << ")" << Qt::endl
        << "Other answers than the undamaged one from files cut at a page boundary: " << all.pageCutDiff << Qt::endl
        << "Helper runs that ended by themselves (the reader stops the others) " << helperRuns << ": exit status not 0 "
        << helperFailed << ", said it could not allocate " << helperAlloc;
    for (const auto &[sig, n] : helperSignals)
        out << ", " << signalName(sig) << ' ' << n;
    out << Qt::endl;

    std::vector<std::pair<qint64, QString>> common;
    for (const auto &[shape, n] : shapes)
        common.emplace_back(n, shape);
    std::sort(common.begin(), common.end(), std::greater<>());
    out << Qt::endl << "Messages by wording (the file's name as …), the " << std::min<size_t>(common.size(), 25)
        << " most common of " << common.size() << ":" << Qt::endl;
    for (size_t i = 0; i < common.size() && i < 25; ++i)
        out << qSetFieldWidth(8) << Qt::right << common[i].first << qSetFieldWidth(0) << "  " << common[i].second
            << Qt::endl;
    if (selftest)
        out << "Planted in the driver (--selftest): a crash at case " << kPlantedCrash << ", a hang at case "
            << kPlantedHang << ", a wrong answer at case " << kPlantedWrong << ", a message without the file's name at case "
            << kPlantedUnnamed << "; " << planted << " of 4 booked to their cases" << Qt::endl;
    if (!faults.isEmpty()) {
        out << Qt::endl << "Faults (" << faults.size() << "):" << Qt::endl;
        for (const QString &fault : faults)
            out << "  " << fault << Qt::endl;
        out << "A case is made again with: tarnvik-damage make --work " << work << " --seed SEED --case N copy.mdb" << Qt::endl
            << "and driven again with:     tarnvik-damage drive --work " << work << " --seed SEED --first N" << Qt::endl;
    }
    if (!check)
        return 0;
    int status = crashes || hangs || all.wrong || all.unnamed ? 1 : 0;
    if (selftest && planted != 4)
        status = 1;
    out << (status ? "FAILED" : "PASSED") << Qt::endl;
    return status;
}

} // namespace tarnvik::damage
