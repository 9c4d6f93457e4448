#include "JetLayout.h"

#include "db/jet/JetHeader.h"
#include "db/read/MdbFile.h"

#include <cstring>
#include <optional>

namespace tarnvik::damage {

const char *kindName(PageKind k)
{
    switch (k) {
    case PageKind::Header: return "header";
    case PageKind::Catalogue: return "catalogue";
    case PageKind::TableDef: return "tabledef";
    case PageKind::Data: return "data";
    case PageKind::LongValue: return "longvalue";
    case PageKind::UsageMap: return "usagemap";
    case PageKind::Index: return "index";
    case PageKind::Other: return "other";
    }
    return "?";
}

const TableLayout *JetLayout::table(const QString &name) const
{
    for (const TableLayout &t : tables) {
        if (t.name == name)
            return &t;
    }
    return nullptr;
}

namespace {

constexpr uint32_t kCataloguePage = 2;
constexpr int kMemoHeader = 12;
constexpr int kTypeOle = 11, kTypeMemo = 12, kTypeInt = 3, kTypeLong = 4;

uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

struct Column
{
    int type = 0, number = 0, varIndex = 0, fixedOffset = 0, size = 0;
    bool fixed = false;
    QString name;
};

struct TableDef
{
    std::vector<uint32_t> chain;
    int varColumns = 0;
    uint32_t usedMap = 0, freeMap = 0;
    std::vector<Column> columns;
};

struct Cell
{
    const uint8_t *data = nullptr;
    int size = 0;
};

// Reads the file the way libmdb does where it matters for which pages are
// touched: usage maps, the catalogue's rows, long values.
class Walker
{
public:
    Walker(const QByteArray &file, JetLayout &out)
        : m_file(file)
        , m_out(out)
    {
    }

    bool run();

private:
    const uint8_t *page(uint32_t p) const
    {
        return p < m_out.pages ? reinterpret_cast<const uint8_t *>(m_file.constData()) + size_t(p) * size_t(ps())
                               : nullptr;
    }
    int ps() const { return m_out.pageSize; }
    int rowCountAt() const { return m_out.jet3 ? 8 : 12; }

    // A row slot: its raw offset entry and where its bytes lie on the page.
    bool slot(const uint8_t *pg, int row, uint16_t *raw, int *start, int *size) const
    {
        const int rco = rowCountAt();
        if (row > 1000 || rco + 2 + row * 2 + 2 > ps())
            return false;
        *raw = get16(pg + rco + 2 + row * 2);
        const int next = row == 0 ? ps() : (get16(pg + rco + row * 2) & 0x1FFF);
        *start = *raw & 0x1FFF;
        *size = next - *start;
        return *start < ps() && *start <= next && next <= ps();
    }

    std::optional<TableDef> tableDef(uint32_t first);
    // The pages a usage map leads the reader to, and the pages it is kept on.
    // False when the map is one libmdb cannot follow: it then reads every page.
    bool usageMap(uint32_t pointer, std::set<uint32_t> *listed, std::set<uint32_t> *mapPages);
    bool crack(const uint8_t *row, int size, const TableDef &def, const Column &col, Cell *cell) const;
    void longValue(const Cell &cell, std::set<uint32_t> *deps);
    // Every row libmdb hands out for a table, with the pages it reads for it.
    template<class Fn>
    bool rows(uint32_t tdef, const TableDef &def, std::set<uint32_t> *deps, qint64 *count, Fn onRow);
    QString text(const Cell &cell) const;
    void allPages(std::set<uint32_t> *deps) const
    {
        for (uint32_t p = 0; p < m_out.pages + 64; ++p)
            deps->insert(p);
    }

    const QByteArray &m_file;
    JetLayout &m_out;
    FileFormat m_format;
    std::set<uint32_t> m_mapHosts;
};

std::optional<TableDef> Walker::tableDef(uint32_t first)
{
    TableDef def;
    QByteArray bytes;
    std::set<uint32_t> seen;
    for (uint32_t p = first; p != 0 && seen.size() < 64;) {
        const uint8_t *pg = page(p);
        if (!pg || pg[0] != 0x02 || !seen.insert(p).second)
            break;
        def.chain.push_back(p);
        if (bytes.isEmpty())
            bytes.append(reinterpret_cast<const char *>(pg), ps());
        else
            bytes.append(reinterpret_cast<const char *>(pg) + 8, ps() - 8);
        p = get32(pg + 4);
    }
    if (def.chain.empty())
        return std::nullopt;
    const auto *b = reinterpret_cast<const uint8_t *>(bytes.constData());
    const qsizetype n = bytes.size();
    const bool j3 = m_out.jet3;
    const int colsAt = j3 ? 25 : 45, ridxAt = j3 ? 31 : 51, usedAt = j3 ? 35 : 55, freeAt = j3 ? 39 : 59,
              start = j3 ? 43 : 63, ridxSize = j3 ? 8 : 12, colSize = j3 ? 18 : 25;
    def.varColumns = get16(b + colsAt - 2);
    const int columns = get16(b + colsAt);
    const uint32_t realIndexes = get32(b + ridxAt);
    def.usedMap = get32(b + usedAt);
    def.freeMap = get32(b + freeAt);
    if (realIndexes > 1000)
        return def; // the maps are known; the columns are not needed for them
    qsizetype at = start + qsizetype(realIndexes) * ridxSize;
    for (int i = 0; i < columns && at + colSize <= n; ++i, at += colSize) {
        const uint8_t *c = b + at;
        Column col;
        col.type = c[0];
        col.number = get16(c + (j3 ? 1 : 5));
        col.varIndex = get16(c + (j3 ? 3 : 7));
        col.fixed = c[j3 ? 13 : 15] & 0x01;
        col.fixedOffset = get16(c + (j3 ? 14 : 21));
        col.size = get16(c + (j3 ? 16 : 23));
        def.columns.push_back(col);
    }
    for (Column &col : def.columns) {
        const int len = j3 ? (at < n ? b[at] : 0) : (at + 2 <= n ? get16(b + at) : 0);
        at += j3 ? 1 : 2;
        if (at + len > n)
            break;
        const QByteArrayView raw(b + at, len);
        col.name = j3 ? MdbFile::storedText(raw, m_format)
                      : QString::fromUtf16(reinterpret_cast<const char16_t *>(raw.data()), len / 2);
        at += len;
    }
    return def;
}

bool Walker::usageMap(uint32_t pointer, std::set<uint32_t> *listed, std::set<uint32_t> *mapPages)
{
    const uint32_t host = pointer >> 8;
    mapPages->insert(host);
    m_mapHosts.insert(host);
    const uint8_t *pg = page(host);
    uint16_t raw;
    int start, size;
    if (!pg || !slot(pg, int(pointer & 0xFF), &raw, &start, &size) || size < 1)
        return false;
    const uint8_t *map = pg + start;
    const uint32_t limit = m_out.pages + 64; // pages beyond cannot be damaged, not even appended
    if (map[0] == 0) {
        if (size < 5)
            return true;
        const uint32_t first = get32(map + 1);
        for (uint32_t i = 0; i < uint32_t(size - 5) * 8; ++i) {
            if ((map[5 + i / 8] >> (i % 8) & 1) && first + i < limit)
                listed->insert(first + i);
        }
        return true;
    }
    if (map[0] != 1)
        return false;
    const uint32_t bits = uint32_t(ps() - 4) * 8;
    for (int k = 0; k < (size - 1) / 4; ++k) {
        const uint32_t mp = get32(map + 1 + 4 * k);
        if (mp == 0)
            continue;
        mapPages->insert(mp);
        m_mapHosts.insert(mp);
        const uint8_t *bitmap = page(mp);
        if (!bitmap)
            return false; // libmdb falls back to reading every page
        for (uint32_t i = 0; i < bits; ++i) {
            const uint32_t p = uint32_t(k) * bits + i;
            if ((bitmap[4 + i / 8] >> (i % 8) & 1) && p < limit)
                listed->insert(p);
        }
    }
    return true;
}

bool Walker::crack(const uint8_t *row, int size, const TableDef &def, const Column &col, Cell *cell) const
{
    *cell = Cell();
    const bool j3 = m_out.jet3;
    if (size < (j3 ? 1 : 2))
        return false;
    const int rowEnd = size - 1;
    const int rowCols = j3 ? row[0] : get16(row);
    const int maskSize = (rowCols + 7) / 8;
    if (rowEnd - maskSize + 1 < 0 || col.number / 8 >= maskSize)
        return true; // libmdb reads beyond the row here; the value is garbage either way
    const uint8_t *mask = row + rowEnd - maskSize + 1;
    const bool null = !(mask[col.number / 8] >> (col.number % 8) & 1);
    int rowVar = 0;
    std::vector<int> offsets;
    if (def.varColumns > 0) {
        if (j3) {
            if (rowEnd - maskSize < 0)
                return false;
            rowVar = row[rowEnd - maskSize];
            int jumps = (size - 1) / 256;
            const int colPtr = rowEnd - maskSize - jumps - 1;
            if ((colPtr - rowVar) / 256 < jumps)
                --jumps;
            int used = 0;
            for (int i = 0; i <= rowVar; ++i) {
                const int jumpAt = rowEnd - maskSize - used - 1;
                if (used < jumps && jumpAt >= 0 && i == row[jumpAt])
                    ++used;
                if (colPtr - i < 0)
                    return false;
                offsets.push_back(row[colPtr - i] + used * 256);
            }
        } else {
            if (rowEnd - maskSize - 1 < 0)
                return false;
            rowVar = get16(row + rowEnd - maskSize - 1);
            for (int i = 0; i <= rowVar; ++i) {
                const int at = rowEnd - maskSize - 3 - i * 2;
                if (at < 0)
                    return false;
                offsets.push_back(get16(row + at));
            }
        }
    }
    if (null)
        return true;
    int begin, end;
    if (col.fixed) {
        // libmdb counts the fixed columns it has placed; the columns here come
        // in definition order, so the count is the number of fixed ones before.
        int before = 0;
        for (const Column &c : def.columns) {
            if (&c == &col)
                break;
            before += c.fixed ? 1 : 0;
        }
        if (before >= rowCols - rowVar)
            return true;
        begin = col.fixedOffset + (j3 ? 1 : 2);
        end = begin + col.size;
    } else {
        int index = col.varIndex;
        if (j3) {
            index = 0;
            for (const Column &c : def.columns) {
                if (&c == &col)
                    break;
                index += c.fixed ? 0 : 1;
            }
        }
        if (index >= rowVar)
            return true;
        begin = offsets[size_t(index)];
        end = offsets[size_t(index) + 1];
    }
    if (begin < 0 || end < begin || end > size)
        return false;
    cell->data = row + begin;
    cell->size = end - begin;
    return true;
}

void Walker::longValue(const Cell &cell, std::set<uint32_t> *deps)
{
    if (cell.size < kMemoHeader)
        return;
    const uint32_t len = get32(cell.data);
    if (len & 0x80000000u)
        return; // in the row itself
    uint32_t pointer = get32(cell.data + 4);
    std::set<uint32_t> seen;
    while ((pointer >> 8) != 0 && seen.insert(pointer).second && seen.size() < 100000) {
        deps->insert(pointer >> 8);
        if (len & 0x40000000u)
            return;
        const uint8_t *pg = page(pointer >> 8);
        uint16_t raw;
        int start, size;
        if (!pg || !slot(pg, int(pointer & 0xFF), &raw, &start, &size) || size < 4)
            return;
        pointer = get32(pg + start);
    }
}

template<class Fn>
bool Walker::rows(uint32_t tdef, const TableDef &def, std::set<uint32_t> *deps, qint64 *count, Fn onRow)
{
    for (uint32_t p : def.chain)
        deps->insert(p);
    std::set<uint32_t> listed, free;
    const bool mapped = usageMap(def.usedMap, &listed, deps);
    usageMap(def.freeMap, &free, deps);
    if (!mapped) {
        // libmdb scans the whole file for the table's pages: any page counts.
        allPages(deps);
        return false;
    }
    deps->insert(listed.begin(), listed.end());
    *count = 0;
    for (uint32_t p : listed) {
        const uint8_t *pg = page(p);
        if (!pg || pg[0] != 0x01 || get32(pg + 4) != tdef)
            continue;
        const int rows = get16(pg + rowCountAt());
        for (int r = 0; r < rows; ++r) {
            uint16_t raw;
            int start, size;
            if (!slot(pg, r, &raw, &start, &size) || size == 0 || (raw & 0x4000))
                continue;
            if ((raw & 0x8000) && size >= 4 && page(get32(pg + start) >> 8))
                deps->insert(get32(pg + start) >> 8); // a row moved elsewhere, in case a reader follows it
            ++*count;
            onRow(pg + start, size);
        }
    }
    return true;
}

QString Walker::text(const Cell &cell) const
{
    if (!cell.data)
        return QString();
    const QByteArrayView raw(cell.data, cell.size);
    if (m_out.jet3)
        return MdbFile::storedText(raw, m_format);
    if (cell.size >= 2 && cell.data[0] == 0xFF && cell.data[1] == 0xFE) {
        QString s;
        bool compressed = true;
        for (int i = 2; i < cell.size;) {
            if (cell.data[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                s += QChar(cell.data[i++]);
            } else if (i + 1 < cell.size) {
                s += QChar(get16(cell.data + i));
                i += 2;
            } else {
                break;
            }
        }
        return s;
    }
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(cell.data), cell.size / 2);
}

bool Walker::run()
{
    const auto *head = reinterpret_cast<const uint8_t *>(m_file.constData());
    if (m_file.size() < 0x80 || head[0] != 0) {
        m_out.problem = QStringLiteral("no Jet header");
        return false;
    }
    m_out.jet3 = head[jetheader::kVersionAt] == 0;
    m_out.pageSize = m_out.jet3 ? 2048 : 4096;
    m_out.pages = uint32_t(m_file.size() / m_out.pageSize);
    m_format.jetVersion = head[jetheader::kVersionAt];
    QByteArray plain = m_file.mid(jetheader::kScrambledAt, jetheader::scrambledLength(m_out.jet3));
    jetheader::rc4(reinterpret_cast<uint8_t *>(plain.data()), int(plain.size()));
    m_format.codePage = get16(reinterpret_cast<const uint8_t *>(plain.constData()) + jetheader::kCodePageAt
                              - jetheader::kScrambledAt);

    std::set<uint32_t> lvalPages;
    m_out.kinds.assign(m_out.pages, PageKind::Other);
    for (uint32_t p = 0; p < m_out.pages; ++p) {
        const uint8_t *pg = page(p);
        PageKind &k = m_out.kinds[p];
        if (p == 0)
            k = PageKind::Header;
        else if (pg[0] == 0x01 && std::memcmp(pg + 4, "LVAL", 4) == 0)
            k = PageKind::LongValue, lvalPages.insert(p);
        else if (pg[0] == 0x01)
            k = get32(pg + 4) == kCataloguePage ? PageKind::Catalogue : PageKind::Data;
        else if (pg[0] == 0x02)
            k = PageKind::TableDef;
        else if (pg[0] == 0x03 || pg[0] == 0x04)
            k = PageKind::Index;
        else if (pg[0] == 0x05)
            k = PageKind::UsageMap;
    }

    std::set<uint32_t> &cat = m_out.catalogueDeps;
    cat = {0, 1};
    // Long values are followed through pointers below; all of them count too,
    // in case a reader finds one another way.
    cat.insert(lvalPages.begin(), lvalPages.end());
    const auto sys = tableDef(kCataloguePage);
    if (!sys) {
        m_out.problem = QStringLiteral("no catalogue definition on page 2");
        allPages(&cat);
        return false;
    }
    for (uint32_t p : sys->chain)
        m_out.kinds[p] = PageKind::Catalogue;
    const Column *id = nullptr, *name = nullptr, *type = nullptr;
    std::vector<const Column *> longs;
    for (const Column &c : sys->columns) {
        if (c.name.compare(u"Id", Qt::CaseInsensitive) == 0 && c.type == kTypeLong)
            id = &c;
        else if (c.name.compare(u"Name", Qt::CaseInsensitive) == 0)
            name = &c;
        else if (c.name.compare(u"Type", Qt::CaseInsensitive) == 0 && c.type == kTypeInt)
            type = &c;
        if (c.type == kTypeOle || c.type == kTypeMemo)
            longs.push_back(&c);
    }
    qint64 entries = 0;
    bool cracked = true;
    const bool mapped = rows(kCataloguePage, *sys, &cat, &entries, [&](const uint8_t *row, int size) {
        Cell cId, cName, cType;
        if (!id || !name || !type || !crack(row, size, *sys, *id, &cId) || !crack(row, size, *sys, *name, &cName)
            || !crack(row, size, *sys, *type, &cType)) {
            cracked = false;
            return;
        }
        for (const Column *c : longs) {
            Cell v;
            if (crack(row, size, *sys, *c, &v))
                longValue(v, &cat);
        }
        if (!cType.data || cType.size < 2 || (get16(cType.data) & 0x7F) != 1 || !cId.data || cId.size < 4)
            return;
        TableLayout t;
        t.name = text(cName);
        t.tdef = get32(cId.data) & 0x00FFFFFF;
        m_out.tables.append(t);
    });
    if (!mapped || !cracked) {
        m_out.problem = mapped ? QStringLiteral("catalogue rows not understood") : QStringLiteral("catalogue map not understood");
        allPages(&cat);
        return false;
    }

    for (TableLayout &t : m_out.tables) {
        t.deps = cat;
        const auto def = tableDef(t.tdef);
        if (!def) {
            allPages(&t.deps);
            t.rows = -1;
            continue;
        }
        std::vector<const Column *> longCols;
        for (const Column &c : def->columns) {
            if (c.type == kTypeOle || c.type == kTypeMemo)
                longCols.push_back(&c);
        }
        bool ok = true;
        if (!rows(t.tdef, *def, &t.deps, &t.rows, [&](const uint8_t *row, int size) {
                for (const Column *c : longCols) {
                    Cell v;
                    if (!crack(row, size, *def, *c, &v))
                        ok = false;
                    else
                        longValue(v, &t.deps);
                }
            })
            || !ok) {
            allPages(&t.deps);
            t.rows = -1;
        }
    }
    for (uint32_t p : m_mapHosts) {
        if (p < m_out.pages && p != 0)
            m_out.kinds[p] = PageKind::UsageMap;
    }
    return true;
}

} // namespace

JetLayout JetLayout::read(const QByteArray &file)
{
    JetLayout out;
    Walker(file, out).run();
    return out;
}

} // namespace tarnvik::damage
