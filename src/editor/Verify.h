// What the editor reads from a source's database to check the source: the
// tables it may offer, one table's fields, and whether the file opens at all.
// Every read goes through MdbFile's helper process under a short time limit,
// so that a file that makes the reader loop holds the editor for seconds, not
// for the two minutes a full table read is allowed. The calls are synchronous:
// a sound file answers in a few milliseconds, and the editor shows a busy
// cursor while it waits. Failures come back as a message naming the file and
// the cause; nothing here throws or shows anything.
#pragma once

#include "db/read/MdbFile.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace tarnvik {

// Wall-clock limit of one verification read (the helper's start included).
constexpr int kVerifyTimeoutMs = 4000;

// The limits of a verification read; tests may set 'helper' on the result.
ReadLimits verifyLimits();

// Tables whose names begin with a capital "MS" are the engine's own (MSys…)
// or look like them, and are never offered; "Ms", "mS" and "ms" are.
bool isOfferedTable(const QString &name);

// The database's tables in the file's order, without those isOfferedTable
// refuses; an empty list when it has only those.
std::optional<QStringList> databaseTables(const QString &file, QString *error,
                                          const ReadLimits &limits = verifyLimits());

// The table's field names in field order. The table is found ignoring letter
// case, as the reader finds it.
std::optional<QStringList> tableFields(const QString &file, const QString &table, QString *error,
                                       const ReadLimits &limits = verifyLimits());

// Opens the database and reads its list of tables: true when the file is a
// database the reader can use.
bool openDatabase(const QString &file, QString *error, const ReadLimits &limits = verifyLimits());

// Position of 'stored' among 'names' ignoring letter case (the last such
// name), or -1. An exact match wins: of two names that differ only in case,
// the one stored must not be swapped for the other, which would count as a
// change of table and clear the source's fields.
int findName(const QStringList &names, const QString &stored);

} // namespace tarnvik
