// tarnvik-damage: the damage campaign (see bench/damage.sh).
//   campaign --bin DIR --work DIR [--count N] [--seed S] [--corpus DIR] [--jobs J]
//            [--read-timeout SEC] [--memory-mib M] [--hang-seconds SEC] [--check] [--selftest] [--no-wrap]
//   drive --bin DIR --work DIR --seed S --first I --step K --last L [--selftest]  (what campaign starts)
//   make --bin DIR --work DIR --seed S --case I OUT.mdb                 (one damaged copy again)
//   report --work DIR [--check]
// --check: exit 1 on a crash or hang of the driving process, a message that
// does not name the file, or an answer the damage cannot explain. --no-wrap:
// the reader runs its helper directly (memory stops and helper signals then
// go uncounted).
#include "Damage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

using namespace tarnvik::damage;

namespace {

int usage()
{
    QTextStream(stderr) << "usage: tarnvik-damage campaign|drive|make|report --work DIR [options] (see bench/damage.sh)\n";
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return usage();
    const QString mode = args[1];
    Settings s;
    qint64 first = 0, step = 1, last = -1, index = -1;
    QString out;
    bool hangGiven = false;
    s.corpus = qEnvironmentVariable("TARNVIK_CORPUS_DIR");
    for (qsizetype i = 2; i < args.size(); ++i) {
        const QString &a = args[i];
        const QString v = args.value(i + 1);
        auto take = [&] {
            ++i;
            return v;
        };
        if (a == u"--bin")
            s.bin = QFileInfo(take()).absoluteFilePath();
        else if (a == u"--work")
            s.work = QFileInfo(take()).absoluteFilePath();
        else if (a == u"--corpus")
            s.corpus = take();
        else if (a == u"--count")
            s.count = take().toLongLong();
        else if (a == u"--seed")
            s.seed = take().toULongLong();
        else if (a == u"--jobs")
            s.jobs = take().toInt();
        else if (a == u"--read-timeout")
            s.readTimeoutMs = int(take().toDouble() * 1000);
        else if (a == u"--memory-mib")
            s.memoryBytes = take().toLongLong() << 20;
        else if (a == u"--hang-seconds")
            s.hangMs = int(take().toDouble() * 1000), hangGiven = true;
        else if (a == u"--check")
            s.check = true;
        else if (a == u"--selftest")
            s.selftest = true;
        else if (a == u"--no-wrap")
            s.wrap = false;
        else if (a == u"--first")
            first = take().toLongLong();
        else if (a == u"--step")
            step = std::max<qint64>(1, take().toLongLong());
        else if (a == u"--last")
            last = take().toLongLong();
        else if (a == u"--case")
            index = take().toLongLong();
        else if (!a.startsWith(u"--") && out.isEmpty())
            out = a;
        else
            return usage();
    }
    if (s.work.isEmpty())
        return usage();
    if (!hangGiven)
        s.hangMs = 3 * s.readTimeoutMs + 30000;
    if (s.bin.isEmpty())
        s.bin = QCoreApplication::applicationDirPath();
    if (mode == u"report")
        return report(s.work, s.check);
    if (mode == u"campaign")
        return campaign(s);

    Pool pool;
    QString error;
    if (!pool.load(s.work + QStringLiteral("/pool.json"), &error)) {
        QTextStream(stderr) << error << '\n';
        return 2;
    }
    if (mode == u"drive")
        return drive(s, pool, first, step, last < 0 ? first : last);
    if (mode == u"make" && index >= 0 && !out.isEmpty()) {
        const Case c = makeCase(pool, s.seed, index);
        QFile f(out);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(c.bytes) != c.bytes.size()) {
            QTextStream(stderr) << "cannot write " << out << '\n';
            return 1;
        }
        QTextStream(stdout) << pool.originals[c.original].name << '\t' << kindName(c.kind) << '\t' << c.region << '\t'
                            << c.what << '\n';
        return 0;
    }
    return usage();
}
