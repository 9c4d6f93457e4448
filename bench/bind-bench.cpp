// Times the cold bind of a source, phase by phase: the helper's read alone,
// the read with text decoding, the whole index build, the cache round trip,
// and prefix look-ups on the built index.
// Usage: bind-bench FILE TABLE IN OUT
#include "db/jet/Charset.h"
#include "db/index/IndexCache.h"
#include "db/index/LookupIndex.h"
#include "db/read/MdbFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>

using namespace tarnvik;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() != 5) {
        QTextStream(stderr) << "usage: bind-bench FILE TABLE IN OUT\n";
        return 2;
    }
    QTextStream out(stdout);
    const MdbFile file(a[1]);
    QString error;
    QElapsedTimer t;

    t.start();
    size_t rows = 0;
    if (!file.readRows(a[2], {a[3], a[4]}, [&](const StoredValue *) { ++rows; }, &error)) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    out << "read only:        " << t.elapsed() << " ms, " << rows << " rows\n";

    t.restart();
    size_t chars = 0;
    file.readRows(a[2], {a[3], a[4]}, [&](const StoredValue *v) {
        for (int k = 0; k < 2; ++k)
            if (!v[k].null)
                chars += size_t(displayTextJet4(QString::fromUtf8(v[k].bytes), 238).size());
    }, &error);
    out << "read + decode:    " << t.elapsed() << " ms, " << chars << " characters\n";

    t.restart();
    LookupIndex::Builder builder;
    QString in, o;
    file.readRows(a[2], {a[3], a[4]}, [&](const StoredValue *v) {
        if (!v[0].null)
            in = QString::fromUtf8(v[0].bytes);
        if (!v[1].null)
            o = QString::fromUtf8(v[1].bytes);
        builder.addRow(v[0].null ? nullptr : &in, v[1].null ? nullptr : &o);
    }, &error);
    const qint64 added = t.elapsed();
    auto index = builder.build();
    out << "read + add rows:  " << added << " ms\n";
    out << "build (sort):     " << t.elapsed() - added << " ms\n";
    out << "index memory:     " << index->memoryBytes() / 1024 / 1024 << " MiB for " << index->textBytes() / 1024 / 1024
        << " MiB of text\n";

    QTemporaryDir dir;
    IndexCache cache(dir.path());
    IndexSource src{a[1], a[2], a[3], a[4], 238, 238, FileStamp::ofPath(a[1])};
    t.restart();
    cache.save(src, *index, &error);
    out << "cache save:       " << t.elapsed() << " ms\n";
    t.restart();
    auto loaded = cache.load(src);
    out << "cache load:       " << t.elapsed() << " ms" << (loaded ? "" : " (FAILED)") << '\n';

    for (const char *prefix : {"k", "kr", "krá", "kráčet"}) {
        QString e;
        const auto p = LikePattern::compile(QString::fromUtf8(prefix) + u'*', &e);
        std::vector<qint64> ns;
        size_t n = 0;
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer q;
            q.start();
            const Matches m = index->find(*p);
            n = m.size();
            if (n)
                (void)m.row(0);
            ns.push_back(q.nsecsElapsed());
        }
        std::sort(ns.begin(), ns.end());
        out << "look-up \"" << prefix << "\": " << n << " matches, median " << ns[100] / 1000.0 << " us, p99 "
            << ns[198] / 1000.0 << " us\n";
    }
    return 0;
}
