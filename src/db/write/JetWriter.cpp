#include "JetWriter.h"

#include "db/jet/Charset.h"
#include "db/jet/JetHeader.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSet>
#include <cmath>
#include <cstring>

namespace tarnvik {

namespace {

// Column types and flags of the file format.
enum : uint8_t { kLong = 0x04, kInt = 0x03, kDateTime = 0x08, kText = 0x0A, kOle = 0x0B, kMemo = 0x0C };
enum : uint8_t { kFlagFixed = 0x01, kFlagNullable = 0x02 };
constexpr uint32_t kSystemFlags = 0x80000002u;
constexpr uint16_t kGeneralSortOrder = 0x0409;

struct Geometry
{
    bool jet3;
    int pageSize;
    int dataHeader;  // bytes before the row offset table
    int tdefColumnsStart;
    int tdefColumnEntry;
    int maxRowSize() const { return pageSize - dataHeader - 2; }
};

const Geometry kJet4{false, 4096, 14, 63, 25};
const Geometry kJet3{true, 2048, 10, 43, 18};

void put8(QByteArray &b, int at, uint8_t v) { b[at] = char(v); }
void put16(QByteArray &b, int at, uint16_t v)
{
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}
void put32(QByteArray &b, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}
void append16(QByteArray &b, uint16_t v)
{
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}
void append32(QByteArray &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

double jetDate(const QDateTime &t)
{
    static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0));
    return double(epoch.msecsTo(t.toLocalTime())) / 86400000.0;
}

struct Column
{
    QString name;
    uint8_t type;
    uint16_t size;      // fixed: bytes; Text: maximum bytes; Memo/OLE: 0
    bool fixed;
    uint16_t number = 0;
    uint16_t varIndex = 0;
    uint16_t fixedOffset = 0;
};

// A value ready for the row: Null, or the bytes the column holds.
struct Cell
{
    bool null = true;
    QByteArray bytes;
};

} // namespace

struct JetWriter::Impl
{
    const Geometry *g = &kJet4;
    const CodePage *codePage = nullptr; // Jet 3 text
    int codePageNumber = 1252;
    QSaveFile file;
    uint32_t pageCount = 0;
    QDateTime created = QDateTime::currentDateTime();

    struct Page
    {
        uint32_t number = 0;
        QByteArray bytes;
        std::vector<int> rowStarts;
        int used = 0; // bytes of rows, from the end
        bool open() const { return !bytes.isEmpty(); }
    };

    struct Table
    {
        QString name;
        std::vector<Column> columns;
        std::vector<FieldType> userTypes;
        bool system = false;
        uint32_t tdefPage = 0;
        int tdefPages = 0;
        uint32_t rows = 0;
        std::vector<uint32_t> dataPages;
        Page data;
        Page lval;
    };
    std::unique_ptr<Table> table;
    struct CatalogEntry { QString name; uint32_t tdefPage; bool system; };
    std::vector<CatalogEntry> catalog;

    uint32_t allocPage() { return pageCount++; }

    bool writePage(uint32_t number, const QByteArray &bytes, QString *error)
    {
        Q_ASSERT(bytes.size() == g->pageSize);
        if (!file.seek(qint64(number) * g->pageSize) || file.write(bytes) != bytes.size()) {
            *error = QStringLiteral("Zápis do souboru „%1“ selhal: %2").arg(file.fileName(), file.errorString());
            return false;
        }
        return true;
    }

    QByteArray encodeName(const QString &name) const
    {
        QByteArray out;
        if (g->jet3) {
            QByteArray bytes;
            codePage->encode(name, &bytes);
            out.append(char(bytes.size()));
            out.append(bytes);
        } else {
            append16(out, uint16_t(name.size() * 2));
            for (QChar c : name)
                append16(out, c.unicode());
        }
        return out;
    }

    bool encodeText(QStringView s, QByteArray *out) const
    {
        if (!g->jet3) {
            const std::optional<QByteArray> text = jet4Text(s);
            if (text)
                *out = *text;
            return text.has_value();
        }
        return codePage->encode(s, out);
    }

    // Data-page header; 'owner' is the table definition page or the word LVAL.
    QByteArray newPageBytes(uint32_t owner) const
    {
        QByteArray b(g->pageSize, '\0');
        put8(b, 0, 0x01);
        put8(b, 1, 0x01);
        put32(b, 4, owner);
        return b;
    }

    static bool fits(const Page &p, int rowSize, int pageSize, int header)
    {
        const int rows = int(p.rowStarts.size());
        return rows < 255 && header + 2 * (rows + 1) + p.used + rowSize <= pageSize;
    }

    // Places a row on the page; returns its row number there.
    int placeRow(Page &p, const QByteArray &row) const
    {
        p.used += int(row.size());
        const int start = g->pageSize - p.used;
        std::memcpy(p.bytes.data() + start, row.constData(), size_t(row.size()));
        p.rowStarts.push_back(start);
        return int(p.rowStarts.size()) - 1;
    }

    bool flushPage(Page &p, QString *error)
    {
        if (!p.open())
            return true;
        const int rows = int(p.rowStarts.size());
        const int countAt = g->dataHeader - 2;
        put16(p.bytes, countAt, uint16_t(rows));
        for (int i = 0; i < rows; ++i)
            put16(p.bytes, g->dataHeader + 2 * i, uint16_t(p.rowStarts[size_t(i)]));
        put16(p.bytes, 2, uint16_t(g->pageSize - g->dataHeader - 2 * rows - p.used));
        const bool ok = writePage(p.number, p.bytes, error);
        p = Page();
        return ok;
    }

    QByteArray encodeRow(const std::vector<Column> &cols, const std::vector<Cell> &cells) const
    {
        const int n = int(cols.size());
        int fixedSize = 0, varCount = 0;
        for (const Column &c : cols) {
            if (c.fixed)
                fixedSize = std::max(fixedSize, c.fixedOffset + c.size);
            else
                ++varCount;
        }
        const int countBytes = g->jet3 ? 1 : 2;
        QByteArray row;
        if (g->jet3)
            row.append(char(n));
        else
            append16(row, uint16_t(n));
        row.append(QByteArray(fixedSize, '\0'));
        QByteArray mask((n + 7) / 8, '\0');
        std::vector<int> varStart(size_t(varCount) + 1, 0);
        for (int i = 0; i < n; ++i) {
            const Column &c = cols[size_t(i)];
            const Cell &v = cells[size_t(i)];
            if (!v.null)
                mask[i / 8] = char(uint8_t(mask[i / 8]) | (1 << (i % 8)));
            if (c.fixed && !v.null)
                std::memcpy(row.data() + countBytes + c.fixedOffset, v.bytes.constData(), size_t(c.size));
        }
        for (int i = 0; i < n; ++i) {
            const Column &c = cols[size_t(i)];
            if (c.fixed)
                continue;
            varStart[c.varIndex] = int(row.size());
            if (!cells[size_t(i)].null)
                row.append(cells[size_t(i)].bytes);
        }
        varStart[size_t(varCount)] = int(row.size()); // end of data
        if (!g->jet3) {
            for (int i = varCount; i >= 0; --i)
                append16(row, uint16_t(varStart[size_t(i)]));
            append16(row, uint16_t(varCount));
            row.append(mask);
            return row;
        }
        // Jet 3 offsets are one byte; a jump table counts the 256-byte
        // boundaries crossed. The reader derives its length from the row size.
        const int eod = varStart[size_t(varCount)];
        int jumps = 0;
        for (;;) {
            const int len = eod + varCount + 1 + jumps + 1 + int(mask.size());
            const int need = (len - 1) / 256;
            if (need == jumps)
                break;
            jumps = need;
        }
        for (int i = varCount; i >= 0; --i)
            row.append(char(varStart[size_t(i)] & 0xFF));
        const int realJumps = eod / 256;
        for (int k = jumps - 1; k >= 0; --k) {
            if (k >= realJumps) {
                row.append(char(0xFF));
                continue;
            }
            int first = 0;
            while (varStart[size_t(first)] < 256 * (k + 1))
                ++first;
            row.append(char(first));
        }
        row.append(char(varCount));
        row.append(mask);
        return row;
    }

    bool addEncodedRow(Table &t, const QByteArray &row, QString *error)
    {
        if (row.size() > g->maxRowSize()) {
            *error = QStringLiteral("Řádek je příliš dlouhý (%1 bajtů, nejvýše %2).").arg(row.size()).arg(g->maxRowSize());
            return false;
        }
        if (t.data.open() && !fits(t.data, int(row.size()), g->pageSize, g->dataHeader)) {
            if (!flushPage(t.data, error))
                return false;
        }
        if (!t.data.open()) {
            t.data.number = allocPage();
            t.data.bytes = newPageBytes(t.tdefPage);
            t.dataPages.push_back(t.data.number);
        }
        placeRow(t.data, row);
        ++t.rows;
        return true;
    }

    static constexpr uint32_t kLvalWord = 0x4C41564C; // "LVAL"

    // The 12-byte memo header, with the text inline or on long-value pages.
    bool memoCell(Table &t, const QByteArray &data, int inlineRoom, Cell *cell, QString *error)
    {
        const uint32_t len = uint32_t(data.size());
        if (len >= 0x1000000u) {
            *error = QStringLiteral("Text poznámky je příliš dlouhý (%1 bajtů, nejvýše 16 MB).").arg(data.size());
            return false;
        }
        QByteArray h;
        const int maxLvalRow = g->maxRowSize();
        if (int(len) + 12 <= inlineRoom) {
            append32(h, len | 0x80000000u);
            append32(h, 0);
            append32(h, 0);
            h.append(data);
        } else if (int(len) <= maxLvalRow) {
            if (t.lval.open() && !fits(t.lval, int(len), g->pageSize, g->dataHeader)) {
                if (!flushPage(t.lval, error))
                    return false;
            }
            if (!t.lval.open()) {
                t.lval.number = allocPage();
                t.lval.bytes = newPageBytes(kLvalWord);
            }
            const int row = placeRow(t.lval, data);
            append32(h, len | 0x40000000u);
            append32(h, (t.lval.number << 8) | uint32_t(row));
            append32(h, 0);
        } else {
            // A chain of whole pages, each row: next pointer, then a piece.
            const int piece = maxLvalRow - 4;
            const int pieces = (int(len) + piece - 1) / piece;
            const uint32_t first = pageCount;
            pageCount += uint32_t(pieces);
            for (int k = 0; k < pieces; ++k) {
                Page p;
                p.number = first + uint32_t(k);
                p.bytes = newPageBytes(kLvalWord);
                QByteArray row;
                append32(row, k + 1 < pieces ? (p.number + 1) << 8 : 0);
                row.append(data.mid(qsizetype(k) * piece, piece));
                placeRow(p, row);
                if (!flushPage(p, error))
                    return false;
            }
            append32(h, len);
            append32(h, first << 8);
            append32(h, 0);
        }
        cell->null = false;
        cell->bytes = h;
        return true;
    }

    int tdefSize(const std::vector<Column> &cols) const
    {
        int size = g->tdefColumnsStart + int(cols.size()) * g->tdefColumnEntry + (g->jet3 ? 0 : 2);
        for (const Column &c : cols)
            size += int(encodeName(c.name).size());
        return size;
    }

    static int pagesFor(int bytes, int pageSize) { return bytes <= pageSize ? 1 : 1 + (bytes - pageSize + pageSize - 9) / (pageSize - 8); }

    void layOut(std::vector<Column> &cols) const
    {
        uint16_t fixedOffset = 0, varIndex = 0;
        for (size_t i = 0; i < cols.size(); ++i) {
            Column &c = cols[i];
            c.number = uint16_t(i);
            if (c.fixed) {
                c.fixedOffset = fixedOffset;
                fixedOffset = uint16_t(fixedOffset + c.size);
            } else {
                c.varIndex = varIndex++;
            }
        }
    }

    // Usage map rows of a table: which pages hold its data. Small tables get
    // an inline bitmap; large ones a list of bitmap pages.
    bool writeUsageMaps(Table &t, uint32_t *usedRow, uint32_t *freeRow, QString *error)
    {
        Page p;
        p.number = allocPage();
        p.bytes = newPageBytes(0);
        QByteArray used;
        const int inlineRoom = g->maxRowSize() - 2 - 5 - 5;
        uint32_t lo = t.dataPages.empty() ? 0 : t.dataPages.front();
        const uint32_t hi = t.dataPages.empty() ? 0 : t.dataPages.back();
        if (int((hi - lo) / 8 + 1) <= inlineRoom) {
            used.append('\0');
            append32(used, lo);
            QByteArray bits(int((hi - lo) / 8 + 1), '\0');
            for (uint32_t pg : t.dataPages)
                bits[int((pg - lo) / 8)] = char(uint8_t(bits[int((pg - lo) / 8)]) | (1 << ((pg - lo) % 8)));
            used.append(bits);
        } else {
            const uint32_t perPage = uint32_t(g->pageSize - 4) * 8;
            const uint32_t maps = hi / perPage + 1;
            if (int(1 + 4 * maps) > inlineRoom) {
                *error = QStringLiteral("Tabulka je příliš velká.");
                return false;
            }
            used.append('\x01');
            size_t next = 0;
            for (uint32_t m = 0; m < maps; ++m) {
                const uint32_t begin = m * perPage, end = begin + perPage;
                if (next >= t.dataPages.size() || t.dataPages[next] >= end) {
                    append32(used, 0);
                    continue;
                }
                QByteArray bitmap(g->pageSize, '\0');
                put8(bitmap, 0, 0x05);
                put8(bitmap, 1, 0x01);
                for (; next < t.dataPages.size() && t.dataPages[next] < end; ++next) {
                    const uint32_t bit = t.dataPages[next] - begin;
                    bitmap[int(4 + bit / 8)] = char(uint8_t(bitmap[int(4 + bit / 8)]) | (1 << (bit % 8)));
                }
                const uint32_t mapPage = allocPage();
                if (!writePage(mapPage, bitmap, error))
                    return false;
                append32(used, mapPage);
            }
        }
        QByteArray freeMap;
        freeMap.append('\0');
        append32(freeMap, 0);
        const int u = placeRow(p, used);
        const int f = placeRow(p, freeMap);
        *usedRow = (p.number << 8) | uint32_t(u);
        *freeRow = (p.number << 8) | uint32_t(f);
        return flushPage(p, error);
    }

    bool writeTableDefinition(const Table &t, uint32_t usedRow, uint32_t freeRow, QString *error)
    {
        const std::vector<Column> &cols = t.columns;
        int varCount = 0;
        for (const Column &c : cols)
            varCount += c.fixed ? 0 : 1;
        QByteArray d(g->tdefColumnsStart, '\0');
        put8(d, 0, 0x02);
        put8(d, 1, 0x01);
        const int total = tdefSize(cols);
        if (g->jet3) {
            d[2] = 'V';
            d[3] = 'C';
            put32(d, 8, uint32_t(total));
            put32(d, 12, t.rows);
            put8(d, 20, t.system ? 0x53 : 0x4E);
            put16(d, 21, uint16_t(cols.size()));
            put16(d, 23, uint16_t(varCount));
            put16(d, 25, uint16_t(cols.size()));
            put32(d, 35, usedRow);
            put32(d, 39, freeRow);
        } else {
            put32(d, 8, uint32_t(total));
            put32(d, 16, t.rows);
            put8(d, 24, 0x01);
            put8(d, 40, t.system ? 0x53 : 0x4E);
            put16(d, 41, uint16_t(cols.size()));
            put16(d, 43, uint16_t(varCount));
            put16(d, 45, uint16_t(cols.size()));
            put32(d, 55, usedRow);
            put32(d, 59, freeRow);
        }
        for (const Column &c : cols) {
            QByteArray e(g->tdefColumnEntry, '\0');
            const bool textual = c.type == kText || c.type == kMemo;
            const uint8_t flags = uint8_t((c.fixed ? kFlagFixed : 0) | kFlagNullable);
            if (g->jet3) {
                put8(e, 0, c.type);
                put16(e, 1, c.number);
                put16(e, 3, c.varIndex);
                put16(e, 5, c.number);
                if (textual) {
                    put16(e, 7, kGeneralSortOrder);
                    put16(e, 9, uint16_t(codePageNumber));
                }
                put8(e, 13, flags);
                put16(e, 14, c.fixedOffset);
                put16(e, 16, c.size);
            } else {
                put8(e, 0, c.type);
                put16(e, 5, c.number);
                put16(e, 7, c.varIndex);
                put16(e, 9, c.number);
                if (textual)
                    put16(e, 11, kGeneralSortOrder);
                put8(e, 15, flags);
                put8(e, 16, textual ? 0x01 : 0x00); // compressed Unicode allowed
                put16(e, 21, c.fixedOffset);
                put16(e, 23, c.size);
            }
            d.append(e);
        }
        for (const Column &c : cols)
            d.append(encodeName(c.name));
        if (!g->jet3)
            append16(d, 0xFFFF); // no long-value usage maps follow
        Q_ASSERT(d.size() == total);

        // Split over the reserved pages; each further page starts with its own header.
        int at = 0;
        for (int k = 0; k < t.tdefPages; ++k) {
            QByteArray page(g->pageSize, '\0');
            const int room = k == 0 ? g->pageSize : g->pageSize - 8;
            const int take = std::min(room, int(d.size()) - at);
            if (k == 0) {
                std::memcpy(page.data(), d.constData(), size_t(take));
            } else {
                put8(page, 0, 0x02);
                put8(page, 1, 0x01);
                std::memcpy(page.data() + 8, d.constData() + at, size_t(take));
            }
            at += take;
            if (k + 1 < t.tdefPages)
                put32(page, 4, t.tdefPage + uint32_t(k) + 1);
            if (g->jet3) {
                page[2] = 'V';
                page[3] = 'C';
            } else {
                put16(page, 2, uint16_t(std::max(0, room - take - 8))); // free space less 8
            }
            if (!writePage(t.tdefPage + uint32_t(k), page, error))
                return false;
        }
        return true;
    }

    bool begin(Table &t, std::vector<Column> cols, uint32_t tdefPage)
    {
        layOut(cols);
        t.columns = std::move(cols);
        t.tdefPages = pagesFor(tdefSize(t.columns), g->pageSize);
        t.tdefPage = tdefPage ? tdefPage : pageCount;
        if (!tdefPage)
            pageCount += uint32_t(t.tdefPages);
        return true;
    }

    bool finish(Table &t, QString *error)
    {
        if (!flushPage(t.data, error) || !flushPage(t.lval, error))
            return false;
        uint32_t usedRow = 0, freeRow = 0;
        return writeUsageMaps(t, &usedRow, &freeRow, error) && writeTableDefinition(t, usedRow, freeRow, error);
    }

    bool writeCatalogue(QString *error)
    {
        Table sys;
        sys.system = true;
        std::vector<Column> cols = {
            {"Id", kLong, 4, true},         {"ParentId", kLong, 4, true},
            {"Name", kText, uint16_t(g->jet3 ? 255 : 510), false},
            {"Type", kInt, 2, true},        {"DateCreate", kDateTime, 8, true},
            {"DateUpdate", kDateTime, 8, true}, {"Flags", kLong, 4, true},
            {"LvProp", kOle, 0, false},
        };
        begin(sys, cols, 2);
        std::vector<CatalogEntry> entries = catalog;
        entries.insert(entries.begin(), CatalogEntry{QStringLiteral("MSysObjects"), 2, true});
        const double when = jetDate(created);
        QByteArray date(8, '\0');
        std::memcpy(date.data(), &when, 8);
        for (const CatalogEntry &e : entries) {
            std::vector<Cell> cells(sys.columns.size());
            auto u32 = [](uint32_t v) {
                QByteArray b;
                append32(b, v);
                return Cell{false, b};
            };
            cells[0] = u32(e.tdefPage);
            cells[1] = u32(0);
            cells[2].null = false;
            encodeText(e.name, &cells[2].bytes);
            QByteArray type;
            append16(type, 1); // a table
            cells[3] = Cell{false, type};
            cells[4] = Cell{false, date};
            cells[5] = Cell{false, date};
            cells[6] = u32(e.system ? kSystemFlags : 0);
            if (!addEncodedRow(sys, encodeRow(sys.columns, cells), error))
                return false;
        }
        if (!finish(sys, error))
            return false;
        // Page 1 is kept for the database's own page map; an empty data page.
        return writePage(1, newPageBytes(0), error);
    }

    QByteArray headerPage() const
    {
        QByteArray b(g->pageSize, '\0');
        put8(b, 1, 0x01);
        const char magic[] = "Standard Jet DB";
        std::memcpy(b.data() + 4, magic, sizeof magic - 1);
        put8(b, jetheader::kVersionAt, g->jet3 ? 0x00 : 0x01);
        QByteArray plain(jetheader::scrambledLength(g->jet3), '\0');
        auto at = [](int offset) { return offset - jetheader::kScrambledAt; };
        put16(plain, at(jetheader::kCodePageAt), uint16_t(codePageNumber));
        if (g->jet3) {
            put16(plain, at(0x3A), kGeneralSortOrder);
        } else {
            put16(plain, at(0x6E), kGeneralSortOrder);
            const double when = jetDate(created);
            std::memcpy(plain.data() + at(0x72), &when, 8);
            // An empty password is stored as the mask derived from the date.
            const uint32_t mask = uint32_t(int32_t(std::floor(when)));
            for (int i = 0; i < 40; ++i)
                plain[at(0x42) + i] = char((mask >> (8 * (i % 4))) & 0xFF);
        }
        jetheader::rc4(reinterpret_cast<uint8_t *>(plain.data()), int(plain.size()));
        std::memcpy(b.data() + jetheader::kScrambledAt, plain.constData(), size_t(plain.size()));
        return b;
    }
};

JetWriter::JetWriter() : d(new Impl) {}

JetWriter::~JetWriter()
{
    if (d->file.isOpen())
        d->file.cancelWriting();
}

// Jet 4 "compressed Unicode": runs of characters below U+0100 stored one byte
// each, toggled by a zero byte. Not possible when a character's low byte is zero.
// Readers take text that begins FF FE as compressed, so text that begins with
// U+FEFF is stored compressed even where that is longer, and cannot be stored
// when it cannot be compressed.
std::optional<QByteArray> JetWriter::jet4Text(QStringView s)
{
    const bool markFirst = !s.isEmpty() && s.front().unicode() == 0xFEFF;
    QByteArray plain(s.size() * 2, Qt::Uninitialized);
    bool compressible = s.size() > 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s[i].unicode();
        plain[2 * i] = char(u & 0xFF);
        plain[2 * i + 1] = char(u >> 8);
        if ((u & 0xFF) == 0)
            compressible = false;
    }
    if (!compressible)
        return markFirst ? std::nullopt : std::optional(plain);
    QByteArray packed;
    packed.reserve(s.size() + 2);
    packed.append(char(0xFF));
    packed.append(char(0xFE));
    bool compressed = true;
    for (QChar c : s) {
        const char16_t u = c.unicode();
        const bool narrow = u < 0x100;
        if (narrow != compressed) {
            packed.append('\0');
            compressed = narrow;
        }
        packed.append(char(u & 0xFF));
        if (!narrow)
            packed.append(char(u >> 8));
        if (packed.size() >= plain.size() && !markFirst)
            return plain;
    }
    return packed;
}

QString JetWriter::nameProblem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("Název nesmí být prázdný.");
    if (name.size() > kMaxNameLength)
        return QStringLiteral("Název „%1“ je delší než %2 znaků.").arg(name).arg(kMaxNameLength);
    if (name.front().isSpace())
        return QStringLiteral("Název „%1“ nesmí začínat mezerou.").arg(name);
    // Stored text that begins so may not read back (see jet4Text).
    if (name.front().unicode() == 0xFEFF)
        return QStringLiteral("Název „%1“ nesmí začínat znakem U+FEFF.").arg(name);
    for (QChar c : name) {
        if (forbiddenInName(c))
            return QStringLiteral("Název „%1“ obsahuje nepovolený znak (tečku, vykřičník, obrácený apostrof, "
                      "hranatou závorku nebo řídicí znak).").arg(name);
    }
    return QString();
}

bool JetWriter::open(const QString &path, Format format, int codePage)
{
    d->g = format == Format::Jet3 ? &kJet3 : &kJet4;
    if (format == Format::Jet3) {
        d->codePage = CodePage::get(codePage);
        if (!d->codePage) {
            m_error = QStringLiteral("Kódová stránka %1 není podporována (jen 1250 až 1258).").arg(codePage);
            return false;
        }
        d->codePageNumber = codePage;
    } else {
        d->codePageNumber = kSystemCodePage;
    }
    d->file.setFileName(path);
    if (!d->file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("Soubor „%1“ nelze vytvořit: %2").arg(path, d->file.errorString());
        return false;
    }
    d->pageCount = 3; // header, database page map, catalogue definition
    return true;
}

bool JetWriter::beginTable(const QString &name, const std::vector<Field> &fields)
{
    if (!d->file.isOpen() || d->table) {
        m_error = QStringLiteral("Tabulku nelze začít: soubor není otevřen nebo předchozí tabulka není uzavřena.");
        return false;
    }
    QString problem = nameProblem(name);
    for (const Impl::CatalogEntry &e : d->catalog) {
        if (e.name.compare(name, Qt::CaseInsensitive) == 0 || name.compare(u"MSysObjects", Qt::CaseInsensitive) == 0)
            problem = QStringLiteral("Tabulka „%1“ už existuje.").arg(name);
    }
    if (fields.empty())
        problem = QStringLiteral("Tabulka „%1“ nemá žádné pole.").arg(name);
    if (fields.size() > 255)
        problem = QStringLiteral("Tabulka „%1“ má víc než 255 polí.").arg(name);
    QSet<QString> seen;
    std::vector<Column> cols;
    for (const Field &f : fields) {
        if (problem.isEmpty())
            problem = nameProblem(f.name);
        if (problem.isEmpty() && seen.contains(f.name.toCaseFolded()))
            problem = QStringLiteral("Pole „%1“ je v tabulce uvedeno dvakrát.").arg(f.name);
        seen.insert(f.name.toCaseFolded());
        const bool memo = f.type == FieldType::Memo;
        cols.push_back({f.name, memo ? kMemo : kText,
                        uint16_t(memo ? 0 : (d->g->jet3 ? kMaxTextLength : 2 * kMaxTextLength)), false});
    }
    if (problem.isEmpty() && d->g->jet3) {
        QStringList names = {name};
        for (const Field &f : fields)
            names << f.name;
        for (const QString &n : names) {
            if (!d->codePage->canEncode(n))
                problem = QStringLiteral("Název „%1“ nelze zapsat v kódové stránce %2.").arg(n).arg(d->codePageNumber);
        }
    }
    if (!problem.isEmpty()) {
        m_error = problem;
        return false;
    }
    d->table.reset(new Impl::Table);
    d->table->name = name;
    for (const Field &f : fields)
        d->table->userTypes.push_back(f.type);
    return d->begin(*d->table, std::move(cols), 0);
}

bool JetWriter::addRow(const std::vector<std::optional<QString>> &values)
{
    Impl::Table *t = d->table.get();
    if (!t) {
        m_error = QStringLiteral("Řádek nelze přidat: žádná tabulka není otevřena.");
        return false;
    }
    if (values.size() != t->columns.size()) {
        m_error = QStringLiteral("Řádek má %1 hodnot, tabulka %2 polí.").arg(values.size()).arg(t->columns.size());
        return false;
    }
    std::vector<Cell> cells(values.size());
    std::vector<size_t> memos;
    int size = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        if (!values[i])
            continue;
        const QString &v = *values[i];
        if (t->userTypes[i] == FieldType::Text && v.size() > kMaxTextLength) {
            m_error = QStringLiteral("Hodnota pole „%1“ je delší než %2 znaků.").arg(t->columns[i].name).arg(kMaxTextLength);
            return false;
        }
        if (!d->encodeText(v, &cells[i].bytes)) {
            if (d->g->jet3)
                m_error = QStringLiteral("Hodnotu pole „%1“ nelze zapsat v kódové stránce %2.")
                              .arg(t->columns[i].name)
                              .arg(d->codePageNumber);
            else
                m_error = QStringLiteral("Hodnotu pole „%1“ nelze zapsat: začíná znakem U+FEFF a obsahuje znak, s nímž ho "
                             "formát Access 2000 uložit neumí.")
                              .arg(t->columns[i].name);
            return false;
        }
        cells[i].null = false;
        if (t->userTypes[i] == FieldType::Memo)
            memos.push_back(i);
        else
            size += int(cells[i].bytes.size());
    }
    // Short memos stay in the row while it has room; the rest go to long-value pages.
    int room = d->g->maxRowSize() - size - 16 - 3 * int(values.size()) - 12 * int(memos.size());
    for (size_t i : memos) {
        const int inlineRoom = std::min(room, 512);
        if (!d->memoCell(*t, cells[i].bytes, inlineRoom, &cells[i], &m_error))
            return false;
        room -= std::max(0, int(cells[i].bytes.size()) - 12);
    }
    return d->addEncodedRow(*t, d->encodeRow(t->columns, cells), &m_error);
}

bool JetWriter::endTable()
{
    if (!d->table) {
        m_error = QStringLiteral("Žádná tabulka není otevřena.");
        return false;
    }
    if (!d->finish(*d->table, &m_error))
        return false;
    d->catalog.push_back({d->table->name, d->table->tdefPage, false});
    d->table.reset();
    return true;
}

bool JetWriter::commit()
{
    if (d->table && !endTable())
        return false;
    if (!d->file.isOpen()) {
        m_error = QStringLiteral("Soubor není otevřen.");
        return false;
    }
    if (!d->writeCatalogue(&m_error) || !d->writePage(0, d->headerPage(), &m_error))
        return false;
    if (!d->file.commit()) {
        m_error = QStringLiteral("Soubor „%1“ nelze uložit: %2").arg(d->file.fileName(), d->file.errorString());
        return false;
    }
    return true;
}

} // namespace tarnvik
