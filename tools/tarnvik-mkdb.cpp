// tarnvik-mkdb: makes an Access database from word lists (TSV, CSV, dictd).
// Reads each input twice: once to check it and choose Text or Memo per field,
// once to write. Nothing is left behind when an input is bad.
#include "db/jet/Charset.h"
#include "db/write/JetWriter.h"
#include "mkdb/RowSource.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>
#include <cstdio>

using namespace tarnvik;
using namespace tarnvik::mkdb;

namespace {

struct Input
{
    QString table;
    QString path;
    QString format;
};

void printErr(const QString &s)
{
    QTextStream(stderr) << s << '\n';
}

// Asked for, the usage goes to standard output; after a mistake, to standard error.
int usage(bool asked = false)
{
    QTextStream(asked ? stdout : stderr) << QStringLiteral(
        "Usage: tarnvik-mkdb [--jet3 [--codepage N]] [--force] OUTPUT.mdb [[--table NAME] [--format F] INPUT]...\n"
        "  INPUT       UTF-8 TSV (.tsv .tab .txt: header row, \\N Null, \\t \\n \\\\ escapes),\n"
        "              CSV (.csv, RFC 4180, header row; an empty unquoted field is Null)\n"
        "              or a dictd dictionary (.index beside .dict or .dict.dz)\n"
        "  --table     table name for the next input (default: its file name without ending)\n"
        "  --format    tsv, csv or dictd for the next input (default: from its ending)\n"
        "  --jet3      write an Access 97 file; its text in code page N (1250-1258, default 1252)\n"
        "  --force     replace OUTPUT if it exists\n"
        "With no INPUT the database has no user table.\n");
    return asked ? 0 : 2;
}

// First pass: the input is well formed, names are usable, and every value fits.
bool survey(RowSource &src, const Input &in, JetWriter::Format format, int codePage,
            std::vector<JetWriter::Field> *fields, qint64 *rows)
{
    if (!src.start()) {
        printErr(src.errorString());
        return false;
    }
    const QStringList names = src.fieldNames();
    if (names.isEmpty()) {
        printErr(QCoreApplication::translate("mkdb", "%1: žádná pole.").arg(in.path));
        return false;
    }
    QSet<QString> folded;
    for (const QString &n : names) {
        const QString problem = JetWriter::nameProblem(n);
        if (!problem.isEmpty()) {
            printErr(QStringLiteral("%1:1: %2").arg(in.path, problem));
            return false;
        }
        if (folded.contains(n.toCaseFolded())) {
            printErr(QCoreApplication::translate("mkdb", "%1:1: pole „%2“ je uvedeno dvakrát.").arg(in.path, n));
            return false;
        }
        folded.insert(n.toCaseFolded());
    }
    const CodePage *cp = format == JetWriter::Format::Jet3 ? CodePage::get(codePage) : nullptr;
    std::vector<qsizetype> longest(size_t(names.size()), 0);
    Row row;
    *rows = 0;
    for (;;) {
        const RowSource::Result r = src.next(&row);
        if (r == RowSource::End)
            break;
        if (r == RowSource::Error) {
            printErr(src.errorString());
            return false;
        }
        ++*rows;
        for (size_t i = 0; i < row.size(); ++i) {
            if (!row[i])
                continue;
            longest[i] = std::max(longest[i], row[i]->size());
            if (cp && !cp->canEncode(*row[i])) {
                printErr(QCoreApplication::translate("mkdb", "%1:%2: hodnotu pole „%3“ nelze zapsat v kódové stránce %4.")
                             .arg(in.path)
                             .arg(src.line())
                             .arg(names[qsizetype(i)])
                             .arg(codePage));
                return false;
            }
        }
    }
    fields->clear();
    for (qsizetype i = 0; i < names.size(); ++i) {
        const bool memo = longest[size_t(i)] > JetWriter::kMaxTextLength;
        fields->push_back({names[i], memo ? JetWriter::FieldType::Memo : JetWriter::FieldType::Text});
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    JetWriter::Format format = JetWriter::Format::Jet4;
    int codePage = 1252;
    bool force = false;
    QString output, pendingTable, pendingFormat;
    std::vector<Input> inputs;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&](QString *out) {
            if (i + 1 >= args.size())
                return false;
            *out = args[++i];
            return true;
        };
        QString v;
        if (a == u"--jet3") {
            format = JetWriter::Format::Jet3;
        } else if (a == u"--codepage") {
            bool ok = false;
            if (!value(&v) || (codePage = v.toInt(&ok), !ok))
                return usage();
        } else if (a == u"--force") {
            force = true;
        } else if (a == u"--table") {
            if (!value(&pendingTable))
                return usage();
        } else if (a == u"--format") {
            if (!value(&pendingFormat))
                return usage();
        } else if (a == u"-h" || a == u"--help") {
            return usage(true);
        } else if (a.startsWith(u"--")) {
            return usage();
        } else if (output.isEmpty()) {
            output = a;
        } else {
            const QString table = pendingTable.isEmpty() ? QFileInfo(a).completeBaseName() : pendingTable;
            inputs.push_back({table, a, pendingFormat});
            pendingTable.clear();
            pendingFormat.clear();
        }
    }
    if (output.isEmpty())
        return usage();
    if (QFileInfo::exists(output) && !force) {
        printErr(QCoreApplication::translate("mkdb", "Soubor „%1“ už existuje (nahradit jej lze volbou --force).").arg(output));
        return 1;
    }

    std::vector<std::unique_ptr<RowSource>> sources;
    std::vector<std::vector<JetWriter::Field>> fields(inputs.size());
    for (size_t k = 0; k < inputs.size(); ++k) {
        QString error;
        auto src = RowSource::forFile(inputs[k].path, inputs[k].format, &error);
        if (!src) {
            printErr(error);
            return 1;
        }
        qint64 rows = 0;
        if (!survey(*src, inputs[k], format, codePage, &fields[k], &rows))
            return 1;
        sources.push_back(std::move(src));
    }

    JetWriter writer;
    if (!writer.open(output, format, codePage)) {
        printErr(writer.errorString());
        return 1;
    }
    for (size_t k = 0; k < inputs.size(); ++k) {
        RowSource &src = *sources[k];
        if (!writer.beginTable(inputs[k].table, fields[k])) {
            printErr(QStringLiteral("%1: %2").arg(inputs[k].path, writer.errorString()));
            return 1;
        }
        if (!src.start()) {
            printErr(src.errorString());
            return 1;
        }
        Row row;
        RowSource::Result r;
        while ((r = src.next(&row)) == RowSource::Ok) {
            if (!writer.addRow(row)) {
                printErr(QStringLiteral("%1:%2: %3").arg(inputs[k].path).arg(src.line()).arg(writer.errorString()));
                return 1;
            }
        }
        if (r == RowSource::Error) {
            printErr(src.errorString());
            return 1;
        }
        if (!writer.endTable()) {
            printErr(QStringLiteral("%1: %2").arg(inputs[k].path, writer.errorString()));
            return 1;
        }
    }
    if (!writer.commit()) {
        printErr(writer.errorString());
        return 1;
    }
    return 0;
}
