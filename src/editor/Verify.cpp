#include "Verify.h"

namespace tarnvik {

ReadLimits verifyLimits()
{
    ReadLimits limits;
    limits.timeoutMs = kVerifyTimeoutMs;
    return limits;
}

bool isOfferedTable(const QString &name)
{
    return !name.startsWith(u"MS", Qt::CaseSensitive);
}

std::optional<QStringList> databaseTables(const QString &file, QString *error, const ReadLimits &limits)
{
    const auto tables = MdbFile(file, limits).tables(error);
    if (!tables)
        return std::nullopt;
    QStringList names;
    for (const TableInfo &t : *tables) {
        if (isOfferedTable(t.name))
            names << t.name;
    }
    return names;
}

std::optional<QStringList> tableFields(const QString &file, const QString &table, QString *error,
                                       const ReadLimits &limits)
{
    const auto fields = MdbFile(file, limits).fields(table, error);
    if (!fields)
        return std::nullopt;
    QStringList names;
    for (const FieldInfo &f : *fields)
        names << f.name;
    return names;
}

bool openDatabase(const QString &file, QString *error, const ReadLimits &limits)
{
    return MdbFile(file, limits).tables(error).has_value();
}

int findName(const QStringList &names, const QString &stored)
{
    const int exact = int(names.indexOf(stored));
    if (exact >= 0)
        return exact;
    int found = -1;
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].compare(stored, Qt::CaseInsensitive) == 0)
            found = i;
    }
    return found;
}

} // namespace tarnvik
