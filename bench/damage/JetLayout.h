// The page structure of an undamaged Jet file, read without libmdb: what kind
// each page is, and which pages a reader has to look at to list the tables or
// to read one table. A damaged copy whose changed bytes all lie outside those
// pages must give that answer unchanged; damage inside them may change it.
// Every set here errs on the large side: a page wrongly counted in only
// makes the campaign less strict, never wrongly strict.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <set>
#include <vector>

namespace tarnvik::damage {

enum class PageKind { Header, Catalogue, TableDef, Data, LongValue, UsageMap, Index, Other };
const char *kindName(PageKind k);

struct TableLayout
{
    QString name;
    uint32_t tdef = 0;
    // Rows the reader will find: live row slots on the table's own data pages.
    qint64 rows = 0;
    // Pages the table's rows and definition are read from (catalogue's included).
    std::set<uint32_t> deps;
};

class JetLayout
{
public:
    // Empty problem() when the file could be walked.
    static JetLayout read(const QByteArray &file);

    bool jet3 = false;
    int pageSize = 4096;
    uint32_t pages = 0;
    std::vector<PageKind> kinds;
    // Pages that listing the tables depends on.
    std::set<uint32_t> catalogueDeps;
    QList<TableLayout> tables;
    QString problem;

    const TableLayout *table(const QString &name) const;
};

} // namespace tarnvik::damage
