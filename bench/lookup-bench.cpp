// Measures what a user of a large source waits for. Run by bench/lookup.sh.
//
//   lookup-bench bind FILE TABLE IN OUT
//     One first look-up in a fresh process, with the index cache in
//     $XDG_CACHE_HOME: a cold bind when that is empty, a warm start when it
//     holds the index. Prints "ms <first answer> <cache written> rss <KiB>
//     helper <KiB> before <KiB>": peak memory of this process, of the reader
//     helper, and of this process before the bind.
//   lookup-bench keys FILE TABLE IN OUT
//     Keystrokes in the real window (offscreen), the index already cached:
//     for prefixes of 1, 2, 3 and 6 letters of one input value, the whole
//     change handler (count, first match, list model) and the data path
//     alone. Prints "prefix <text> <matches> window <median µs> <p99 µs>
//     data <median µs> <p99 µs>" per prefix; then the same as "bare" for
//     texts typed without diacritics that only the second pass finds, and as
//     "whole" for a whole word typed so that longer words begin with as typed.
//   lookup-bench resident FILE TABLE IN OUT
//     The running strip after a warm start (offscreen): the window bound from
//     the cache, a few words typed as a user would, with and without their
//     diacritics. Prints "resident <KiB> mapped <KiB> quiet <KiB> mapped <KiB>
//     next <µs>": what the process holds in memory then, and of that the
//     cache file's pages; the same after a pause of 11 s; and the time of
//     the first keystroke after the pause.
//   lookup-bench nowait FILE TABLE IN OUT
//     A cold bind as the window does it, without waiting for the read:
//     refreshes every 10 ms until the index is ready, then the file dropped
//     during a second read, then the control destroyed during a third.
//     Prints "nowait refresh <longest µs> answer <µs> ready <ms> abandon <µs>
//     destroy <µs>": the longest the caller was held by a refresh that found
//     the index not ready, by the one that took it and answered, and by each
//     abandonment.
//   lookup-bench big [CHARS]
//     One source whose output value is a memo of CHARS characters (1,000,000
//     by default) beside short ones, in the real window (offscreen): the
//     look-up that shows it, painting the strip, opening and painting the
//     list, and copying the value. Prints "big <chars> lookup <ms> paint <ms>
//     list <ms> copy <ms> copied <chars>", each the median of five.
#include "catalogue/SettingsStore.h"
#include "db/DataControl.h"
#include "db/query/Sql.h"
#include "db/write/JetWriter.h"
#include "dropdown/ResultModel.h"
#include "dropdown/frmCombo.h"
#include "lookup/Lookup.h"
#include "lookup/frmDict.h"

#include <memory>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QElapsedTimer>
#include <QFile>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <sys/resource.h>
#include <unistd.h>

using namespace tarnvik;

namespace {

long maxRssKiB(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_maxrss;
}

struct Times
{
    double median, p99;
};

template <typename F> Times timeRepeated(int n, F f)
{
    std::vector<qint64> ns;
    ns.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ns.push_back(t.nsecsElapsed());
    }
    std::sort(ns.begin(), ns.end());
    return {ns[size_t(n) / 2] / 1000.0, ns[size_t(n) * 99 / 100] / 1000.0};
}

// What the change handler asks of the data layer for one typed text.
size_t dataPath(Lookup &lookup, ResultModel &model, const QString &typed)
{
    const LookupResult r = lookup.run(typed);
    if (r.kind != LookupResult::Found && r.kind != LookupResult::NoMatch)
        qFatal("%s", qPrintable(r.problem));
    model.setMatches(r.matches);
    return size_t(model.rowCount());
}

// The strip on a catalogue of one source, in a settings folder of its own.
struct BenchStrip
{
    QTemporaryDir config;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<frmDict> window;
    QLineEdit *text1 = nullptr;

    BenchStrip(const QString &file, const QString &table, const QString &in, const QString &out)
    {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        store = std::make_unique<SettingsStore>(config.filePath(QStringLiteral("TVK/TVK.ini")));
        store->saveSetting("Settings", "TopMost", QStringLiteral("False"));
        store->saveSetting("Tables", "count", QStringLiteral("1"));
        store->saveSetting("Tables", "Table1Title", QStringLiteral("Bench"));
        store->saveSetting("Tables", "Table1File", file);
        store->saveSetting("Tables", "Table1Name", table);
        store->saveSetting("Tables", "Table1In", in);
        store->saveSetting("Tables", "Table1Out", out);
        QString error;
        if (!store->sync(&error))
            qFatal("%s", qPrintable(error));
        window = std::make_unique<frmDict>(*store);
        window->show();
        text1 = window->findChild<QLineEdit *>(QStringLiteral("Text1"));
    }
};

// The window reads in the background; its look-up follows once ready.
void typeAndWait(const frmDict &window, QLineEdit *text1, const QString &typed)
{
    text1->setText(typed);
    QDeadlineTimer deadline(120000);
    while (window.data1().preparing() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

int bind(const QStringList &a)
{
    DataControl data;
    data.setDatabaseName(a[2]);
    data.setRequest({a[3], a[4], a[5]});
    data.setRecordSource(countStatement(a[3], a[4], u"k"));
    const long before = maxRssKiB(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    if (!data.refresh()) {
        QTextStream(stderr) << data.errorString() << '\n';
        return 1;
    }
    const qint64 answered = t.elapsed();
    data.waitForCache();
    QTextStream(stdout) << "ms " << answered << ' ' << t.elapsed() << " rss " << maxRssKiB(RUSAGE_SELF)
                        << " helper " << maxRssKiB(RUSAGE_CHILDREN)
                        << " before " << before << '\n';
    return 0;
}

int nowait(const QStringList &a)
{
    auto data = std::make_unique<DataControl>();
    data->setWaitForReads(false);
    std::atomic<bool> ready = false;
    data->setPreparedHandler([&] { ready = true; });
    data->setDatabaseName(a[2]);
    data->setRequest({a[3], a[4], a[5]});
    data->setRecordSource(countStatement(a[3], a[4], u"k"));
    QElapsedTimer t, call;
    t.start();
    qint64 longest = 0, answer = 0;
    for (;;) {
        call.start();
        const bool ok = data->refresh();
        if (ok) {
            answer = call.nsecsElapsed();
            break;
        }
        longest = std::max(longest, call.nsecsElapsed());
        if (!data->preparing()) {
            QTextStream(stderr) << data->errorString() << '\n';
            return 1;
        }
        QThread::msleep(10);
    }
    const qint64 readyMs = t.elapsed();
    data->waitForCache();

    // Again with no cache, so that a read runs, dropped a moment after it began.
    auto held = [&](auto drop) {
        data->setCacheFolder(QString());
        data->setDatabaseName(QString());
        data->setDatabaseName(a[2]);
        if (data->refresh() || !data->preparing())
            qFatal("no read started");
        QThread::msleep(200);
        call.start();
        drop();
        return call.nsecsElapsed();
    };
    const qint64 abandon = held([&] { data->setDatabaseName(QString()); });
    const qint64 destroy = held([&] { data.reset(); });
    QTextStream(stdout) << "nowait refresh " << longest / 1000 << " answer " << answer / 1000 << " ready " << readyMs
                        << " abandon " << abandon / 1000
                        << " destroy " << destroy / 1000 << '\n';
    return 0;
}

long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// Of that, the index cache file's mapping.
long mappedIndexKiB()
{
    QFile f(QStringLiteral("/proc/self/smaps"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    long kib = 0;
    bool inIndex = false;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.isEmpty() && !line.contains(':'))
            continue;
        if (line.contains('-') && line.count(' ') >= 5 && !line.startsWith("VmFlags"))
            inIndex = line.trimmed().endsWith(".idx");
        else if (inIndex && line.startsWith("Rss:"))
            kib += line.mid(4).trimmed().split(' ').value(0).toLong();
    }
    return kib;
}

int resident(const QStringList &a)
{
    BenchStrip strip(a[2], a[3], a[4], a[5]);
    frmDict &window = *strip.window;
    QLineEdit *text1 = strip.text1;
    for (const char *typed : {"k", "kr", "krá", "kra", "s", "st", "sto", "p", "pře", "pre", "zl"})
        typeAndWait(window, text1, QString::fromUtf8(typed));
    if (!window.data1().index())
        qFatal("no index: %s", qPrintable(window.lookupProblem()));
    QCoreApplication::processEvents();
    const long typing = residentKiB(), typingMapped = mappedIndexKiB();
    // A pause, as between two words looked up: the strip lets go of the
    // index's pages; then the next word.
    QDeadlineTimer pause(11000);
    while (!pause.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const long quiet = residentKiB(), quietMapped = mappedIndexKiB();
    QElapsedTimer next;
    next.start();
    typeAndWait(window, text1, QStringLiteral("m"));
    const qint64 nextUs = next.nsecsElapsed() / 1000;
    QTextStream(stdout) << "resident " << typing << " mapped " << typingMapped << " quiet " << quiet << " mapped "
                        << quietMapped << " next " << nextUs << '\n';
    return 0;
}

int keys(const QStringList &a)
{
    BenchStrip strip(a[2], a[3], a[4], a[5]);
    frmDict &window = *strip.window;
    QLineEdit *text1 = strip.text1;

    // The prefixes: of the first input value, in table order, of at least six
    // letters; the first keystroke also binds (from the cache).
    typeAndWait(window, text1, QStringLiteral("k"));
    const auto index = window.data1().index();
    if (!index)
        qFatal("no index: %s", qPrintable(window.lookupProblem()));
    QString word;
    for (uint32_t r = 0; r < index->rowCount() && word.isEmpty(); ++r) {
        const QString in = index->input(r);
        if (in.size() >= 6 && std::all_of(in.begin(), in.end(), [](QChar c) { return c.isLetter(); }))
            word = in;
    }

    DataControl data;
    Lookup lookup(data);
    lookup.setSource(VisibleSource{QStringLiteral("Bench"), a[2], a[3], a[4], a[5]});
    ResultModel model;
    dataPath(lookup, model, QStringLiteral("k"));

    // Typed without diacritics: the starts of words with a mark (of 2, 3 and
    // 6 letters) that nothing matches as typed, so the look-up falls back.
    QStringList bare;
    for (int n : {2, 3, 6}) {
        for (uint32_t r = 0; r < index->rowCount() && r < 200000; ++r) {
            const QString in = index->input(r);
            const QString typed = bareText(in.left(n));
            if (in.size() >= n && typed != foldCase(in.left(n)) && lookup.run(typed).diacriticsIgnored) {
                bare << typed;
                break;
            }
        }
    }

    // A whole word typed without its marks that longer words begin with as
    // typed: the look-up puts the word first, ahead of those.
    QString whole;
    for (uint32_t r = 0; r < index->rowCount() && r < 200000 && whole.isEmpty(); ++r) {
        const QString typed = bareText(index->input(r));
        if (typed == foldCase(index->input(r)))
            continue;
        const LookupResult found = lookup.run(typed);
        if (found.diacriticsIgnored && found.matches.size() > 1 && !found.matches.diacriticsIgnored(found.matches.size() - 1))
            whole = typed;
    }

    QTextStream out(stdout);
    auto measure = [&](const char *kind, const QString &prefix) {
        // Alternate with another text, as typing does, so no call finds its answer in place.
        const QString other = prefix.chopped(1) + (prefix.back() == u'a' ? u'b' : u'a');
        bool flip = false;
        const Times w = timeRepeated(400, [&] { text1->setText((flip = !flip) ? prefix : other); });
        text1->setText(prefix);
        const size_t matches = size_t(window.dropDown()->rowCount());
        const Times d = timeRepeated(2000, [&] { dataPath(lookup, model, prefix); });
        out << kind << ' ' << prefix << ' ' << matches << " window " << w.median << ' ' << w.p99 << " data "
            << d.median << ' ' << d.p99 << '\n';
        out.flush();
    };
    for (int n : {1, 2, 3, 6})
        measure("prefix", word.left(n));
    for (const QString &typed : bare)
        measure("bare", typed);
    if (!whole.isEmpty())
        measure("whole", whole);
    return 0;
}

int big(qsizetype chars)
{
    QTemporaryDir dir;
    qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toLocal8Bit());
    // Words with Czech letters and now and then a line break, as a long entry has them.
    const QString words = QStringLiteral("příliš žluťoučký kůň úpěl ďábelské ódy, ");
    QString value;
    value.reserve(chars);
    while (value.size() < chars)
        value += value.size() % 4000 < words.size() ? QStringLiteral("\n") + words : words;
    value.truncate(chars);
    const QString db = dir.filePath(QStringLiteral("big.mdb"));
    JetWriter w;
    const bool written = w.open(db, JetWriter::Format::Jet4)
        && w.beginTable(QStringLiteral("Slova"), {{QStringLiteral("slovo")}, {QStringLiteral("vyznam"), JetWriter::FieldType::Memo}})
        && w.addRow({QStringLiteral("velky"), value}) && w.addRow({QStringLiteral("velryba"), QStringLiteral("whale")})
        && w.addRow({QStringLiteral("ves"), QStringLiteral("village")}) && w.commit();
    if (!written)
        qFatal("%s", qPrintable(w.errorString()));

    BenchStrip strip(db, QStringLiteral("Slova"), QStringLiteral("slovo"), QStringLiteral("vyznam"));
    frmDict &window = *strip.window;
    QLineEdit *text1 = strip.text1;
    typeAndWait(window, text1, QStringLiteral("v"));

    auto ms = [](auto f) {
        std::vector<double> t;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer clock;
            clock.start();
            f();
            t.push_back(clock.nsecsElapsed() / 1e6);
        }
        std::sort(t.begin(), t.end());
        return t[2];
    };
    const double lookup = ms([&] {
        text1->setText(QStringLiteral("ve"));
        text1->setText(QStringLiteral("vel"));
    });
    const double paint = ms([&] { (void)window.grab(); });
    const double list = ms([&] {
        window.expandCombo();
        (void)window.dropDown()->grab();
        window.dropDown()->hide();
    });
    const double copy = ms([&] { window.copyMenu()->actions().at(2)->trigger(); });
    const qsizetype copied = QGuiApplication::clipboard()->text().size();
    QTextStream(stdout) << "big " << chars << " lookup " << lookup << " paint " << paint << " list " << list
                        << " copy " << copy << " copied " << copied << (copied == chars ? "" : " (not all)") << '\n';
    return copied == chars ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList a;
    for (int i = 0; i < argc; ++i)
        a << QString::fromLocal8Bit(argv[i]);
    if (a.value(1) == u"big") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return big(a.size() > 2 ? a[2].toLongLong() : 1000000);
    }
    if (a.size() != 6 || (a[1] != u"bind" && a[1] != u"keys" && a[1] != u"nowait" && a[1] != u"resident")) {
        QTextStream(stderr) << "usage: lookup-bench bind|keys|resident|nowait FILE TABLE IN OUT | big [CHARS]\n";
        return 2;
    }
    if (a[1] == u"bind" || a[1] == u"nowait") {
        QCoreApplication app(argc, argv);
        return a[1] == u"bind" ? bind(a) : nowait(a);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return a[1] == u"resident" ? resident(a) : keys(a);
}
