// tarnvik-mdbread: the only program that calls libmdb. libmdb is not safe on
// damaged files (it can loop, abort or crash), so it runs here, in a process
// of its own under limits the caller sets, never in the window's process.
//   tarnvik-mdbread tables FILE
//   tarnvik-mdbread fields FILE TABLE
//   tarnvik-mdbread rows FILE TABLE FIELD...
// with TABLE and FIELD in hex (see argName).
// Records (see ReadProtocol.h) go to descriptor 3, which the caller opens
// (by hand: 3>FILE). libmdb prints to standard output and error; the caller
// keeps the end of both as its log, and may stop reading them, so writing
// there may fail and must not end the read.
#include "db/read/ReadProtocol.h"
#include "db/read/helper/JetText.h"

#include <glib.h>
#include <mdbtools.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>

using namespace tarnvik::readproto;

namespace {

// libmdb converts numbers and dates into a buffer of this size (allocating
// one per value); a value that fills it was cut. Text does not go through it.
constexpr size_t kBindSize = 64u << 10;
// A memo longer than this (as stored) is refused rather than read.
constexpr size_t kMaxLongValue = 64u << 20;

FILE *g_out = nullptr; // the records

void putByte(uint8_t b) { std::fputc(b, g_out); }
// Numbers in the records are little-endian.
std::array<char, 4> le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

void put32(uint32_t v) { std::fwrite(le32(v).data(), 1, 4, g_out); }
void putBytes(const char *s, size_t n)
{
    put32(uint32_t(n));
    std::fwrite(s, 1, n, g_out);
}
void putString(const std::string &s) { putBytes(s.data(), s.size()); }

int fail(ErrorKind kind, const std::string &detail)
{
    putByte(Error);
    putByte(kind);
    putString(detail);
    std::fflush(g_out);
    return 1;
}

void append32(std::string *to, uint32_t v) { to->append(le32(v).data(), 4); }
void appendValue(std::string *to, std::string_view value)
{
    append32(to, uint32_t(value.size()));
    to->append(value);
}

// A write that failed earlier leaves the buffer empty and fflush content:
// only the error flag tells that something was lost.
bool flushed() { return std::fflush(g_out) == 0 && !std::ferror(g_out); }

uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t *p) { return uint32_t(get16(p)) | uint32_t(get16(p + 2)) << 16; }

// Which of the table's columns are calculated (Access 2010 and later), whose
// values are stored in a wrapper: libmdb does not keep the flag, so it is
// read from the table definition's column entries.
std::vector<bool> calculatedColumns(MdbHandle *mdb, MdbTableDef *table)
{
    std::vector<bool> calculated(table->num_cols, false);
    if (mdb->f->jet_version < MDB_VER_ACCDB_2010)
        return calculated;
    const MdbFormatConstants &fmt = *mdb->fmt;
    const size_t pageSize = size_t(fmt.pg_size);
    // The definition's pages, each after the first without its 8-byte header.
    std::vector<uint8_t> definition;
    std::vector<uint32_t> seen;
    for (uint32_t page = uint32_t(table->entry->table_pg); page != 0 && seen.size() < 64;) {
        if (std::find(seen.begin(), seen.end(), page) != seen.end() || mdb_read_alt_pg(mdb, page) != ssize_t(pageSize)
            || mdb->alt_pg_buf[0] != MDB_PAGE_TABLE)
            break;
        seen.push_back(page);
        definition.insert(definition.end(), mdb->alt_pg_buf + (definition.empty() ? 0 : 8), mdb->alt_pg_buf + pageSize);
        page = get32(mdb->alt_pg_buf + 4);
    }
    constexpr size_t kNumberAt = 5, kExtraFlagsAt = 16;
    constexpr uint8_t kCalculated = 0xC0;
    const size_t first = fmt.tab_cols_start_offset + size_t(table->num_real_idxs) * fmt.tab_ridx_entry_size;
    for (size_t i = 0; i < table->num_cols; ++i) {
        const size_t at = first + i * fmt.tab_col_entry_size;
        if (at + fmt.tab_col_entry_size > definition.size())
            break;
        const int number = get16(&definition[at + kNumberAt]);
        for (unsigned c = 0; c < table->num_cols; ++c) {
            auto *col = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, c));
            if (col->row_col_num == number)
                calculated[c] = (definition[at + kExtraFlagsAt] & kCalculated) == kCalculated;
        }
    }
    return calculated;
}

int64_t nowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The caller stops a read that sends nothing for a few seconds. Rows wait in
// the output buffer until it fills, so a slow read that is still moving says
// so and lets go of them twice a second.
void keepAlive()
{
    static int64_t last = nowMs();
    const int64_t now = nowMs();
    if (now - last < 500)
        return;
    last = now;
    putByte(Progress);
    std::fflush(g_out);
}

bool sameName(const char *a, const char *b)
{
    if (std::strcmp(a, b) == 0)
        return true;
    gchar *fa = g_utf8_casefold(a, -1), *fb = g_utf8_casefold(b, -1);
    const bool same = std::strcmp(fa, fb) == 0;
    g_free(fa);
    g_free(fb);
    return same;
}

MdbCatalogEntry *findTable(MdbHandle *mdb, const char *name)
{
    MdbCatalogEntry *folded = nullptr;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto *e = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (e->object_type != MDB_TABLE)
            continue;
        if (std::strcmp(e->object_name, name) == 0)
            return e;
        if (!folded && sameName(e->object_name, name))
            folded = e;
    }
    return folded;
}

// Text and values libmdb turns into text; long binary data it cannot.
bool readableType(int type)
{
    return type != MDB_OLE && type != MDB_BINARY && type != MDB_COMPLEX && type != MDB_REPID
        && type <= MDB_NUMERIC;
}

// With Jet 3, libmdb hands out each stored byte as the Latin-1 character of
// that value, in UTF-8. These two undo and redo that, so that names and text
// travel as the bytes the file holds.
std::string latin1Bytes(const char *utf8, size_t len)
{
    std::string out;
    out.reserve(len);
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = uint8_t(utf8[i]);
        if (c >= 0xC0 && i + 1 < len) {
            out += char(((c & 0x03) << 6) | (uint8_t(utf8[i + 1]) & 0x3F));
            ++i;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string latin1Utf8(const char *bytes)
{
    std::string out;
    for (const char *p = bytes; *p; ++p) {
        const unsigned char c = uint8_t(*p);
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool g_jet3 = false;

void putText(const char *s, size_t n)
{
    if (g_jet3) {
        putString(latin1Bytes(s, n));
        return;
    }
    putBytes(s, n);
}

// Names arrive hex-encoded (UTF-8, or Jet 3 stored bytes), so that any byte
// survives the command line.
std::string argName(const char *hex)
{
    std::string bytes;
    for (const char *p = hex; p[0] && p[1]; p += 2)
        bytes += char(std::strtoul(std::string(p, 2).c_str(), nullptr, 16));
    return g_jet3 ? latin1Utf8(bytes.c_str()) : bytes;
}

// The Done record, and everything sent before it out of the buffer.
bool finish(uint64_t rows)
{
    putByte(Done);
    put32(uint32_t(rows));
    put32(uint32_t(rows >> 32));
    return flushed();
}

int sendTables(MdbHandle *mdb)
{
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto *e = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (e->object_type != MDB_TABLE)
            continue;
        putByte(Table);
        putByte(mdb_is_system_table(e) ? 1 : 0);
        putText(e->object_name, std::strlen(e->object_name));
    }
    if (!finish(0))
        return 1;
    mdb_close(mdb);
    return 0;
}

int sendFields(MdbHandle *mdb, MdbTableDef *table)
{
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto *col = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
        putByte(Field);
        putByte(uint8_t(col->col_type));
        putText(col->name, std::strlen(col->name));
    }
    if (!finish(0))
        return 1;
    mdb_free_tabledef(table);
    mdb_close(mdb);
    return 0;
}

// 'pageCount': the file's length in whole pages; no long value is read past it.
int sendRows(MdbHandle *mdb, MdbTableDef *table, uint32_t pageCount, const std::vector<const char *> &names)
{
    // Only now: the catalogue's properties leak a bind buffer each.
    mdb_set_bind_size(mdb, kBindSize);
    // Text and memo fields are taken from the row as stored (libmdb's text
    // loses characters beyond the Basic Multilingual Plane and empty text);
    // other types are bound and converted by libmdb.
    struct Wanted
    {
        MdbColumn *column = nullptr;
        unsigned index = 0;
        bool text = false;
        bool longValue = false;  // stored as a memo is, on long-value pages
        bool calculated = false; // the value inside the wrapper of a calculated field
        std::vector<char> buffer;
        int length = 0;
    };
    const std::vector<bool> calculated = calculatedColumns(mdb, table);
    const size_t wantedCount = names.size();
    std::vector<Wanted> wanted(wantedCount); // never resized: libmdb holds pointers into it
    for (size_t k = 0; k < wantedCount; ++k) {
        MdbColumn *found = nullptr;
        unsigned index = 0;
        const std::string wantedName = argName(names[k]);
        for (unsigned i = 0; i < table->num_cols && !found; ++i) {
            auto *col = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
            if (std::strcmp(col->name, wantedName.c_str()) == 0)
                found = col, index = i;
        }
        for (unsigned i = 0; i < table->num_cols && !found; ++i) {
            auto *col = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
            if (sameName(col->name, wantedName.c_str()))
                found = col, index = i;
        }
        if (!found)
            return fail(NoSuchField, std::to_string(k));
        if (!readableType(found->col_type))
            return fail(Unsupported, std::to_string(k));
        Wanted &w = wanted[k];
        w.column = found;
        w.index = index;
        w.text = found->col_type == MDB_TEXT || found->col_type == MDB_MEMO;
        w.calculated = calculated[index];
        // A calculated text of any length has no size, as a memo has none.
        w.longValue = found->col_type == MDB_MEMO || (w.calculated && found->col_size == 0);
        if (!w.text) {
            w.buffer.resize(kBindSize);
            mdb_bind_column(table, int(index) + 1, w.buffer.data(), &w.length);
        }
    }

    const size_t pageSize = size_t(mdb->fmt->pg_size);
    const int rowCountAt = mdb->fmt->row_count_offset;
    tarnvik::jettext::Pages pages;
    pages.pageSize = pageSize;
    pages.rowCountAt = size_t(rowCountAt);
    // Long values are read into libmdb's second page buffer, which leaves the
    // data page with the row in the first.
    pages.read = [mdb, pageCount, pageSize](uint32_t page) -> const uint8_t * {
        keepAlive();
        if (page == 0 || page >= pageCount || mdb_read_alt_pg(mdb, page) != ssize_t(pageSize))
            return nullptr;
        return mdb->alt_pg_buf;
    };
    std::vector<MdbField> fields(table->num_cols);
    std::vector<const MdbField *> byColumn(table->num_cols);
    const bool anyBound = std::any_of(wanted.begin(), wanted.end(), [](const Wanted &w) { return !w.text; });
    std::string stored, text, row;
    uint64_t rows = 0;
    // The pages and rows libmdb's table scan (mdb_fetch_row) reads, in its
    // order, and the rows it takes: mdb_read_row says which rows are live and
    // fills the bound fields. With none bound, its test is made here, so that
    // each row is taken apart once rather than twice.
    mdb_rewind_table(table);
    while (mdb_read_next_dpg(table)) {
        // Nobody reads any more: stop rather than read the rest for nothing.
        if (std::ferror(g_out))
            return 1;
        keepAlive();
        const int onPage = mdb_get_int16(mdb->pg_buf, rowCountAt);
        for (int r = 0; r < onPage; ++r) {
            if (anyBound && !mdb_read_row(table, unsigned(r)))
                continue;
            int start = 0;
            size_t size = 0;
            if (mdb_find_row(mdb, r, &start, &size) != 0) {
                if (anyBound)
                    return fail(Damaged, "rows");
                continue;
            }
            // As mdb_read_row: an empty row, or one marked deleted, is none.
            if (!anyBound && (size == 0 || (start & 0x4000)))
                continue;
            const int cracked = mdb_crack_row(table, start & 0x1FFF, size, fields.data());
            if (cracked < 0)
                continue;
            std::fill(byColumn.begin(), byColumn.end(), nullptr);
            for (int i = 0; i < cracked && i < int(fields.size()); ++i) {
                if (fields[size_t(i)].colnum >= 0 && unsigned(fields[size_t(i)].colnum) < table->num_cols)
                    byColumn[size_t(fields[size_t(i)].colnum)] = &fields[size_t(i)];
            }
            // The row is put together first and sent whole, so that signs of
            // life may go out while a long value is read.
            row.assign(1, char(Row));
            for (size_t k = 0; k < wantedCount; ++k) {
                const Wanted &w = wanted[k];
                if (!w.text) {
                    const size_t len = size_t(w.length);
                    if (len + 1 >= kBindSize)
                        return fail(TooLong, std::to_string(k));
                    if (len == 0)
                        append32(&row, kNull);
                    else
                        appendValue(&row, g_jet3 ? latin1Bytes(w.buffer.data(), len) : std::string(w.buffer.data(), len));
                    continue;
                }
                // Null by the row's null mask; empty text is not Null.
                const MdbField *f = byColumn[w.index];
                if (!f || f->is_null) {
                    append32(&row, kNull);
                    continue;
                }
                if (f->start < 0 || f->siz < 0 || size_t(f->start) + size_t(f->siz) > pageSize)
                    return fail(Damaged, "rows");
                const uint8_t *bytes = mdb->pg_buf + f->start;
                size_t len = size_t(f->siz);
                if (w.longValue) {
                    stored.clear();
                    switch (tarnvik::jettext::readLongValue(bytes, len, pages, kMaxLongValue, &stored)) {
                    case tarnvik::jettext::LongValue::Ok:
                        break;
                    case tarnvik::jettext::LongValue::Damaged:
                        return fail(Damaged, "rows");
                    case tarnvik::jettext::LongValue::TooLong:
                        return fail(TooLong, std::to_string(k));
                    }
                    bytes = reinterpret_cast<const uint8_t *>(stored.data());
                    len = stored.size();
                }
                if (w.calculated && !tarnvik::jettext::unwrapCalculated(bytes, len, &bytes, &len))
                    return fail(Damaged, "rows");
                if (g_jet3) {
                    appendValue(&row, std::string_view(reinterpret_cast<const char *>(bytes), len));
                } else if (!w.longValue) {
                    // Decoded in place, its length written once it is known.
                    const size_t at = row.size();
                    append32(&row, 0);
                    tarnvik::jettext::appendJet4Utf8(bytes, len, &row);
                    row.replace(at, 4, le32(uint32_t(row.size() - at - 4)).data(), 4);
                } else {
                    // A memo may be tens of megabytes: decoded in slices.
                    constexpr size_t kSlice = 1 << 20;
                    const bool compressed = len >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
                    text.clear();
                    text.reserve(len + len / 2);
                    tarnvik::jettext::Jet4Decoder decoder(compressed, &text);
                    for (size_t at = compressed ? 2 : 0; at < len; at += kSlice) {
                        decoder.feed(bytes + at, std::min(kSlice, len - at));
                        keepAlive();
                    }
                    decoder.finish();
                    appendValue(&row, text);
                }
            }
            std::fwrite(row.data(), 1, row.size(), g_out);
            ++rows;
        }
    }
    if (table->num_rows > rows)
        return fail(Damaged, "rows");
    if (!finish(rows))
        return 1;
    mdb_free_tabledef(table);
    mdb_close(mdb);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Jet 3 names (and what libmdb converts to text) come back as their raw
    // bytes (Latin-1 maps each byte to itself); the caller applies the code page.
    setenv("MDB_JET3_CHARSET", "ISO-8859-1", 1);
    unsetenv("MDBICONV");
    unsetenv("MDBOPTS");
    // A closed pipe makes a write fail (and the records' failure is checked below)
    // instead of killing the helper.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s tables|fields|rows FILE [TABLE [FIELD...]] %d>RECORDS\n", argv[0], kChannel);
        return 2;
    }
    if (fcntl(kChannel, F_GETFD) < 0 || !(g_out = fdopen(kChannel, "w"))) {
        std::fprintf(stderr, "%s: descriptor %d must be open for the records\n", argv[0], kChannel);
        return 2;
    }
    static char outBuffer[1 << 20];
    std::setvbuf(g_out, outBuffer, _IOFBF, sizeof outBuffer);
    const std::string command = argv[1];
    std::fwrite(kMagic, 1, sizeof kMagic - 1, g_out);

    MdbHandle *mdb = mdb_open(argv[2], MDB_NOFLAGS);
    if (!mdb)
        return fail(OpenFailed, "mdb_open");
    g_jet3 = mdb->f->jet_version == MDB_VER_JET3;
    // A page cut short would read as rows of Nulls: the file is refused
    // unless it is whole pages (the caller checked too, but before this open).
    uint32_t pageCount = 0;
    {
        struct stat st;
        if (fstat(fileno(mdb->f->stream), &st) != 0 || st.st_size % mdb->fmt->pg_size != 0)
            return fail(Damaged, "pages");
        pageCount = uint32_t(st.st_size / mdb->fmt->pg_size);
    }
    putByte(Version);
    putByte(uint8_t(mdb->f->jet_version));
    putByte(g_jet3 ? 1 : 0);
    putByte(uint8_t(mdb->f->code_page));
    putByte(uint8_t(mdb->f->code_page >> 8));
    if (!mdb_read_catalog(mdb, MDB_ANY))
        return fail(Damaged, "catalogue");
    // libmdb ends a scan quietly at a page it cannot read: compare with the
    // row count the table definition keeps (0 when it was not kept up).
    {
        MdbCatalogEntry catalogue{};
        catalogue.mdb = mdb;
        catalogue.object_type = MDB_TABLE;
        catalogue.table_pg = 2;
        MdbTableDef *def = mdb_read_table(&catalogue);
        const guint32 expected = def ? def->num_rows : 0;
        if (def)
            mdb_free_tabledef(def);
        if (mdb->num_catalog < expected)
            return fail(Damaged, "catalogue");
    }

    if (command == "tables")
        return sendTables(mdb);
    if (argc < 4)
        return 2;
    MdbCatalogEntry *entry = findTable(mdb, argName(argv[3]).c_str());
    if (!entry)
        return fail(NoSuchTable, argName(argv[3]));
    MdbTableDef *table = mdb_read_table(entry);
    if (!table || !mdb_read_columns(table))
        return fail(Damaged, "table definition");

    if (command == "fields")
        return sendFields(mdb, table);
    if (command != "rows")
        return 2;
    return sendRows(mdb, table, pageCount, std::vector<const char *>(argv + 4, argv + argc));
}
