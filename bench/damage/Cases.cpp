// Damaged copies, each made again from (seed, index) alone.
#include "Damage.h"

#include <QFile>
#include <algorithm>
#include <map>
#include <random>

namespace tarnvik::damage {

const char *kindName(Kind k)
{
    switch (k) {
    case Kind::Flip1: return "flip1";
    case Kind::FlipFew: return "flipfew";
    case Kind::FlipRun: return "fliprun";
    case Kind::Truncate: return "truncate";
    case Kind::ZeroPage: return "zeropage";
    case Kind::CopyPage: return "copypage";
    case Kind::Append: return "append";
    case Kind::LiveGrow: return "live-grow";
    case Kind::LiveReplace: return "live-replace";
    case Kind::LiveRewrite: return "live-rewrite";
    }
    return "?";
}

namespace {

uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Plain modulo draws: the standard distributions differ between libraries,
// and a case must be the same wherever it is made again.
class Rng
{
public:
    Rng(uint64_t seed, qint64 index) : m_state(mix(seed ^ mix(uint64_t(index)))) {}
    uint64_t next() { return m_state = mix(m_state); }
    uint32_t below(uint64_t n) { return n ? uint32_t(next() % n) : 0; }
    int range(int lo, int hi) { return lo + int(below(uint64_t(hi - lo + 1))); }
    bool chance(int percent) { return int(below(100)) < percent; }
    template<class T> const T &pick(const QList<T> &l) { return l[qsizetype(below(uint64_t(l.size())))]; }

private:
    uint64_t m_state;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Weights of the kinds of damage, in per mille.
struct Weighted
{
    Kind kind;
    int weight;
};
constexpr Weighted kKinds[] = {
    {Kind::Flip1, 180}, {Kind::FlipFew, 140}, {Kind::FlipRun, 120}, {Kind::Truncate, 120},
    {Kind::ZeroPage, 90}, {Kind::CopyPage, 90}, {Kind::Append, 50}, {Kind::LiveGrow, 60},
    {Kind::LiveReplace, 60}, {Kind::LiveRewrite, 90},
};

Kind pickKind(Rng &rng)
{
    int r = int(rng.below(1000));
    for (const Weighted &w : kKinds) {
        if (r < w.weight)
            return w.kind;
        r -= w.weight;
    }
    return Kind::Flip1;
}

// A page to damage: first a kind of page among those the file has, then one of them.
uint32_t pickPage(Rng &rng, const JetLayout &layout, QString *region)
{
    std::map<PageKind, QList<uint32_t>> byKind;
    for (uint32_t p = 0; p < layout.pages && p < layout.kinds.size(); ++p)
        byKind[layout.kinds[p]] << p;
    if (byKind.empty()) {
        *region = QStringLiteral("any");
        return 0;
    }
    auto it = byKind.begin();
    std::advance(it, rng.below(byKind.size()));
    *region = QString::fromLatin1(kindName(it->first));
    return rng.pick(it->second);
}

// Where in a page: its head holds the structure (header, counts, row
// offsets), so half the damage goes there.
int pickOffset(Rng &rng, int pageSize, int span)
{
    return rng.chance(50) ? int(rng.below(uint64_t(std::min(pageSize - span, 160) + 1)))
                          : int(rng.below(uint64_t(pageSize - span + 1)));
}

uint8_t changedByte(Rng &rng, uint8_t old)
{
    if (rng.chance(50))
        return uint8_t(old ^ (1u << rng.below(8)));
    return uint8_t(old ^ (1 + rng.below(255)));
}

QByteArray pagesToAppend(Rng &rng, const QByteArray &file, int pageSize, int count, QString *what)
{
    QByteArray out;
    const int pages = int(file.size() / pageSize);
    const int how = int(rng.below(3));
    *what = how == 0 ? QStringLiteral("zero") : how == 1 ? QStringLiteral("random") : QStringLiteral("copies");
    for (int i = 0; i < count; ++i) {
        if (how == 0) {
            out.append(QByteArray(pageSize, '\0'));
        } else if (how == 1) {
            QByteArray page(pageSize, '\0');
            for (char &c : page)
                c = char(rng.below(256));
            out.append(page);
        } else {
            out.append(file.mid(qsizetype(rng.below(uint64_t(std::max(1, pages)))) * pageSize, pageSize));
        }
    }
    return out;
}

} // namespace

Case makeCase(const Pool &pool, uint64_t seed, qint64 index)
{
    Rng rng(seed, index);
    Case c;
    c.index = index;
    const QList<int> own = pool.own(), real = pool.real();
    c.original = real.isEmpty() || rng.chance(50) ? rng.pick(own) : rng.pick(real);
    const Original &o = pool.originals[c.original];
    const JetLayout &layout = o.layout;
    const int ps = layout.pageSize;
    c.kind = pickKind(rng);
    c.bytes = readFile(o.path);
    const uint32_t pages = uint32_t(c.bytes.size() / ps);
    if (pages < 3)
        c.kind = Kind::Flip1;
    auto at = [&](qsizetype i) -> uint8_t & { return reinterpret_cast<uint8_t &>(c.bytes[i]); };

    switch (c.kind) {
    case Kind::Flip1:
    case Kind::FlipFew:
    case Kind::FlipRun: {
        const uint32_t p = pickPage(rng, layout, &c.region);
        const int span = c.kind == Kind::FlipRun ? rng.range(2, 64) : 1;
        const int count = c.kind == Kind::FlipFew ? rng.range(2, 8) : 1;
        QStringList where;
        for (int k = 0; k < count; ++k) {
            const int off = pickOffset(rng, ps, span);
            const int mode = int(rng.below(3)); // a run: random, all ones, or inverted
            for (int i = 0; i < span; ++i) {
                uint8_t &b = at(qsizetype(p) * ps + off + i);
                b = c.kind != Kind::FlipRun ? changedByte(rng, b) : mode == 0 ? uint8_t(rng.below(256))
                    : mode == 1                                              ? uint8_t(0xFF)
                                                                             : uint8_t(~b);
            }
            where << QStringLiteral("%1+%2").arg(off).arg(span);
        }
        c.pages = {p};
        c.what = QStringLiteral("page %1 at %2").arg(p).arg(where.join(u','));
        break;
    }
    case Kind::Truncate: {
        const int how = int(rng.below(4));
        qsizetype size;
        if (how == 0) {
            size = qsizetype(rng.range(1, int(pages) - 1)) * ps;
            c.region = QStringLiteral("at-page");
        } else if (how == 1) {
            size = qsizetype(rng.range(1, int(pages) - 1)) * ps + rng.range(1, ps - 1);
            c.region = QStringLiteral("mid-page");
        } else if (how == 2) {
            size = c.bytes.size() - 1;
            c.region = QStringLiteral("one-short");
        } else {
            size = qsizetype(rng.range(1, int(pages) - 1)) * ps - 1;
            c.region = QStringLiteral("page-less-one");
        }
        for (uint32_t p = uint32_t(size / ps); p < pages; ++p)
            c.pages.insert(p);
        c.what = QStringLiteral("cut to %1 of %2 bytes").arg(size).arg(c.bytes.size());
        c.bytes.truncate(size);
        break;
    }
    case Kind::ZeroPage: {
        const uint32_t p = pickPage(rng, layout, &c.region);
        std::fill_n(c.bytes.begin() + qsizetype(p) * ps, ps, '\0');
        c.pages = {p};
        c.what = QStringLiteral("page %1 zeroed").arg(p);
        break;
    }
    case Kind::CopyPage: {
        const uint32_t to = pickPage(rng, layout, &c.region);
        uint32_t from = rng.below(pages);
        if (from == to)
            from = (from + 1) % pages;
        c.bytes.replace(qsizetype(to) * ps, ps, c.bytes.mid(qsizetype(from) * ps, ps));
        c.pages = {to};
        c.what = QStringLiteral("page %1 copied over page %2").arg(from).arg(to);
        break;
    }
    case Kind::Append:
    case Kind::LiveGrow: {
        const int count = rng.range(1, 8);
        QString how;
        const QByteArray extra = pagesToAppend(rng, c.bytes, ps, count, &how);
        for (uint32_t p = pages; p < pages + uint32_t(count); ++p)
            c.pages.insert(p);
        c.region = how;
        c.what = QStringLiteral("%1 pages appended").arg(count);
        if (c.kind == Kind::Append) {
            c.bytes.append(extra);
        } else {
            c.grow = extra;
            c.steps = rng.range(1, 3);
            c.delayMs = rng.range(0, 40);
            c.stepMs = rng.range(0, 10);
            c.what += QStringLiteral(" in %1 steps after %2 ms, %3 ms apart").arg(c.steps).arg(c.delayMs).arg(c.stepMs);
        }
        break;
    }
    case Kind::LiveReplace:
    case Kind::LiveRewrite: {
        if (!o.alternate.isEmpty()) {
            for (int i = 0; i < pool.originals.size(); ++i) {
                if (pool.originals[i].path == o.alternate)
                    c.replacement = i;
            }
        }
        if (c.replacement < 0) {
            QList<int> same;
            for (int i : real) {
                if (i != c.original && pool.originals[i].layout.jet3 == layout.jet3)
                    same << i;
            }
            c.replacement = same.isEmpty() ? c.original : rng.pick(same);
        }
        c.delayMs = rng.range(0, 40);
        c.stepMs = c.kind == Kind::LiveRewrite ? rng.range(0, 3) : 0;
        c.region = QStringLiteral("by %1").arg(pool.originals[c.replacement].name);
        c.what = c.kind == Kind::LiveReplace ? QStringLiteral("renamed over after %1 ms").arg(c.delayMs)
                                             : QStringLiteral("rewritten in place page by page after %1 ms, %2 ms "
                                                              "between pages")
                                                   .arg(c.delayMs)
                                                   .arg(c.stepMs);
        break;
    }
    }

    // Up to three of the file's tables; one whose own pages were hit first.
    QList<int> order;
    for (int i = 0; i < o.bindings.size(); ++i)
        order << i;
    for (int i = int(order.size()) - 1; i > 0; --i)
        std::swap(order[i], order[qsizetype(rng.below(uint64_t(i + 1)))]);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        auto hit = [&](int k) {
            const TableLayout *t = layout.table(o.bindings[k].table);
            if (!t)
                return false;
            for (uint32_t p : c.pages) {
                if (t->deps.count(p) && !layout.catalogueDeps.count(p))
                    return true;
            }
            return false;
        };
        return hit(a) && !hit(b);
    });
    c.bindings = order.mid(0, 3);
    return c;
}

} // namespace tarnvik::damage
