// tarnvik-lookup: runs the look-up's two statements through the data control
// and prints the count, then the matching pairs in order, tab-separated; or,
// with --as-shown, what the strip shows for the same text.
#include "db/DataControl.h"
#include "db/query/Sql.h"
#include "lookup/Lookup.h"

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

// The strip's answer: the number of rows it lists, then each row as the
// list shows it, "~" before a row found only with case and diacritics
// ignored and "=" before one found as typed.
int printAsShown(DataControl &data, const VisibleSource &source, const QString &text)
{
    Lookup lookup(data);
    lookup.setSource(source);
    const LookupResult r = lookup.run(text);
    QTextStream out(stdout);
    if (r.kind != LookupResult::Found && !r.problem.isEmpty()) {
        QTextStream(stderr) << r.problem << '\n';
        return 1;
    }
    out << r.matches.size() << '\n';
    for (size_t k = 0; k < r.matches.size(); ++k) {
        const LookupIndex &index = *r.matches.index();
        const uint32_t row = r.matches.row(k);
        auto value = [](bool null, QStringView v) { return cell(null ? QVariant() : QVariant(v.toString())); };
        out << (r.matches.diacriticsIgnored(k) ? '~' : '=') << '\t' << value(index.inputIsNull(row), index.input(row))
            << '\t' << value(index.outputIsNull(row), index.output(row)) << '\n';
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    const char usage[] = "Usage: tarnvik-lookup FILE TABLE IN OUT PREFIX [--charset-in N --charset-out N] [--as-shown]\n";
    if (args.size() == 1 && (args[0] == u"--help" || args[0] == u"-h")) {
        QTextStream(stdout) << usage;
        return 0;
    }
    int charsetIn = 238, charsetOut = 238;
    bool asShown = false;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"--as-shown") {
            asShown = true;
            continue;
        }
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
    if (asShown)
        return printAsShown(data, {QString(), file, table, in, out, uint8_t(charsetIn), uint8_t(charsetOut)}, prefix);
    data.setDatabaseName(file);
    data.setRequest({table, in, out, charsetIn, charsetOut});
    data.setRecordSource(countStatement(table, in, prefix));
    if (!data.refresh()) {
        err << data.errorString() << '\n';
        return 1;
    }
    const qint64 count = data.recordset().field(kCountAlias).toLongLong();
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
