// Measures what the editor waits for when it checks a source: listing the
// database's tables, then one table's fields, each a run of the reader helper.
//
//   tarnvik-verify-bench FILE [TABLE] [RUNS]
//     TABLE defaults to the first table offered. Prints "tables <median µs>
//     <max µs> fields <median µs> <max µs>" over RUNS runs (default 21).
#include "editor/Verify.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <algorithm>
#include <vector>

using namespace tarnvik;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() < 2) {
        QTextStream(stderr) << "usage: tarnvik-verify-bench FILE [TABLE] [RUNS]\n";
        return 2;
    }
    const QString file = a[1];
    QString table = a.value(2);
    const int runs = std::max(1, a.value(3, QStringLiteral("21")).toInt());
    QString error;
    std::vector<qint64> tables, fields;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const auto names = databaseTables(file, &error);
        tables.push_back(t.nsecsElapsed() / 1000);
        if (!names || names->isEmpty()) {
            QTextStream(stderr) << (names ? QStringLiteral("no tables") : error) << '\n';
            return 1;
        }
        if (table.isEmpty())
            table = names->first();
        t.restart();
        if (!tableFields(file, table, &error)) {
            QTextStream(stderr) << error << '\n';
            return 1;
        }
        fields.push_back(t.nsecsElapsed() / 1000);
    }
    std::sort(tables.begin(), tables.end());
    std::sort(fields.begin(), fields.end());
    QTextStream(stdout) << "tables " << tables[tables.size() / 2] << ' ' << tables.back() << " fields "
                        << fields[fields.size() / 2] << ' ' << fields.back() << '\n';
    return 0;
}
