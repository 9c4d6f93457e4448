// tarnvik-lookup: runs the look-up's two statements through the data control
// and prints the count, then the matching pairs in order, tab-separated.
#include "db/DataControl.h"
#include "db/query/Sql.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace tarnvik;

namespace {

// Null as \N; tabs, newlines and backslashes escaped as in TSV.
QString cell(const QVariant &v)
{
    if (v.isNull())
        return QStringLiteral("\\N");
    QString s = v.toString();
    s.replace(u'\\', QLatin1String("\\\\")).replace(u'\t', QLatin1String("\\t")).replace(u'\n', QLatin1String("\\n"));
    s.replace(u'\r', QLatin1String("\\r"));
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    const char usage[] = "Usage: tarnvik-lookup FILE TABLE IN OUT PREFIX [--charset-in N --charset-out N]\n";
    if (args.size() == 1 && (args[0] == u"--help" || args[0] == u"-h")) {
        QTextStream(stdout) << usage;
        return 0;
    }
    int charsetIn = 238, charsetOut = 238;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if ((args[i] == u"--charset-in" || args[i] == u"--charset-out") && i + 1 < args.size()) {
            bool ok = false;
            const int v = args[i + 1].toInt(&ok);
            if (!ok || v < 0 || v > 255) {
                err << "tarnvik-lookup: a character set is a number from 0 to 255\n";
                return 2;
            }
            (args[i] == u"--charset-in" ? charsetIn : charsetOut) = v;
            ++i;
        } else {
            positional << args[i];
        }
    }
    if (positional.size() != 5) {
        err << usage;
        return 2;
    }
    const QString &file = positional[0], &table = positional[1], &in = positional[2], &out = positional[3],
                  &prefix = positional[4];

    DataControl data;
    data.setDatabaseName(file);
    data.setCharsets(charsetIn, charsetOut);
    data.setOutputField(out);
    data.setRecordSource(countStatement(table, in, prefix));
    if (!data.refresh()) {
        err << data.errorString() << '\n';
        return 1;
    }
    const qint64 count = data.recordset().field(QStringLiteral("headcount")).toLongLong();
    QTextStream outStream(stdout);
    outStream << count << '\n';
    if (count == 0)
        return 0;
    data.setRecordSource(selectStatement(table, in, out, prefix));
    if (!data.refresh()) {
        err << data.errorString() << '\n';
        return 1;
    }
    Recordset &rs = data.recordset();
    rs.moveFirst();
    for (qint64 r = 0; r < count; ++r) {
        outStream << cell(rs.field(in)) << '\t' << cell(rs.field(out)) << '\n';
        rs.moveNext();
    }
    return 0;
}
