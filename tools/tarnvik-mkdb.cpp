// tarnvik-mkdb: makes an Access database from word lists (TSV, CSV, dictd, StarDict).
#include "db/write/MakeDatabase.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>

using namespace tarnvik;
using namespace tarnvik::mkdb;

namespace {

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
        "              a dictd dictionary (.index beside .dict or .dict.dz)\n"
        "              or a StarDict dictionary (.ifo beside .idx or .idx.gz, .dict or .dict.dz,\n"
        "              and .syn if it has one; fields headword and definition, as for dictd)\n"
        "  --table     table name for the next input (default: its file name without ending)\n"
        "  --format    tsv, csv, dictd or stardict for the next input (default: from its ending)\n"
        "  --jet3      write an Access 97 file; its text in code page N (1250-1258, default 1252)\n"
        "  --force     replace OUTPUT if it exists\n"
        "With no INPUT the database has no user table. A dictionary's headword longer than\n"
        "255 characters or definition over 16 MB is cut to fit, and the cut entries counted.\n");
    return asked ? 0 : 2;
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

    MakeDatabase make;
    make.format = format;
    make.codePage = codePage;
    if (!make.run(output, inputs)) {
        printErr(make.errorString());
        return 1;
    }
    for (size_t k = 0; k < inputs.size(); ++k) {
        const qint64 cut = make.tables()[k].cut;
        if (cut == 0)
            continue;
        const char *text = cut == 1 ? "%1: %2 heslo bylo zkráceno, aby se vešlo do polí databáze."
                           : cut < 5 ? "%1: %2 hesla byla zkrácena, aby se vešla do polí databáze."
                                     : "%1: %2 hesel bylo zkráceno, aby se vešla do polí databáze.";
        printErr(QCoreApplication::translate("mkdb", text).arg(inputs[k].path).arg(cut));
    }
    return 0;
}
