#include "TestUtil.h"
#include "Files.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>

namespace testutil {

QString binPath(const QString &program)
{
    return QStringLiteral(TARNVIK_BIN_DIR "/") + program;
}

Run run(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    Run r;
    if (!p.waitForStarted(10000))
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

bool haveProgram(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

static QString escape(QString s)
{
    return s.replace(u'\\', QLatin1String("\\\\")).replace(u'\t', QLatin1String("\\t"))
        .replace(u'\n', QLatin1String("\\n"));
}

bool writeTable(const QString &path, const QString &table, const std::vector<tarnvik::JetWriter::Field> &fields,
                const std::vector<Row> &rows, QString *error, tarnvik::JetWriter::Format format, int codePage)
{
    tarnvik::JetWriter w;
    bool ok = w.open(path, format, codePage) && w.beginTable(table, fields);
    for (size_t i = 0; ok && i < rows.size(); ++i)
        ok = w.addRow(rows[i]);
    ok = ok && w.commit();
    if (!ok)
        *error = w.errorString();
    return ok;
}

void writeTsv(const QString &path, const QStringList &header, const std::vector<Row> &rows)
{
    QByteArray text = header.join(u'\t').toUtf8() + '\n';
    for (const Row &row : rows) {
        QStringList cells;
        for (const auto &v : row)
            cells << (v ? escape(*v) : QStringLiteral("\\N"));
        text += cells.join(u'\t').toUtf8() + '\n';
    }
    writeBytes(path, text);
}

Run runMkdb(const QStringList &args)
{
    return run(binPath(QStringLiteral("tarnvik-mkdb")), args);
}

bool makeSampleDictionary(const QString &path)
{
    std::vector<Row> rows = {
        {QStringLiteral("dva"), QStringLiteral("two")},   {QStringLiteral("dům"), QStringLiteral("house")},
        {QStringLiteral("den"), QStringLiteral("day")},   {QStringLiteral("abc"), std::nullopt},
        {QStringLiteral("a b"), QStringLiteral("blank")}, {QStringLiteral("o'clock"), QStringLiteral("hodiny")},
    };
    for (int i = 119; i >= 0; --i)
        rows.push_back({QStringLiteral("slovo%1").arg(i, 3, 10, QChar(u'0')), QString::number(i)});
    const QString tsv = path + QStringLiteral(".tsv");
    writeTsv(tsv, {"slovo", "vyznam"}, rows);
    const Run r = runMkdb({path, QStringLiteral("--table"), QStringLiteral("Slova"), tsv});
    if (r.exitCode != 0)
        qWarning("%s", r.err.constData());
    return r.exitCode == 0;
}

std::optional<std::vector<Row>> readAll(const QString &file, const QString &table, const QStringList &fields,
                                        QString *error)
{
    tarnvik::MdbFile f(file);
    const auto format = f.probe(error);
    if (!format)
        return std::nullopt;
    std::vector<Row> rows;
    const bool ok = f.readRows(
        table, fields,
        [&](const tarnvik::StoredValue *values) {
            Row row;
            for (qsizetype i = 0; i < fields.size(); ++i) {
                if (values[i].null)
                    row.push_back(std::nullopt);
                else
                    row.push_back(format->jet3() ? QString::fromLatin1(values[i].bytes)
                                                 : tarnvik::MdbFile::storedText(values[i].bytes, *format));
            }
            rows.push_back(std::move(row));
        },
        error);
    if (!ok)
        return std::nullopt;
    return rows;
}

QString unescape(QStringView s)
{
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'\\' && i + 1 < s.size()) {
            const QChar n = s[++i];
            out += n == u't' ? u'\t' : n == u'n' ? u'\n' : n == u'r' ? u'\r' : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<Row> mdbExport(const QString &file, const QString &table)
{
    const Run r = run(QStringLiteral("mdb-export"), {"-Q", "-e", "-H", "-d", "\t", "-0", "\\N", file, table}, 300000);
    std::vector<Row> rows;
    for (const QByteArray &line : r.out.split('\n')) {
        if (line.isEmpty())
            continue;
        Row row;
        for (const QString &cell : QString::fromUtf8(line).split(u'\t'))
            row.push_back(cell == u"\\N" || cell.isEmpty() ? std::nullopt : std::optional(unescape(cell)));
        rows.push_back(std::move(row));
    }
    return rows;
}

Row asLibmdbSees(const Row &row)
{
    Row out;
    for (const auto &v : row)
        out.push_back(v && !v->isEmpty() ? v : std::nullopt);
    return out;
}

std::optional<QJsonObject> mdbReaderDump(const QString &file)
{
    if (!QFileInfo::exists(QStringLiteral(TARNVIK_NPM_DIR "/node_modules/mdb-reader/package.json")))
        return std::nullopt;
    const Run r = run(QStringLiteral("node"), {TARNVIK_DUMP_SCRIPT, TARNVIK_NPM_DIR, file}, 300000);
    if (r.exitCode != 0)
        qWarning("mdb-reader on %s: %s", qPrintable(file), r.err.constData());
    return QJsonDocument::fromJson(r.out).object();
}

QString corpusDir()
{
    const QString dir = qEnvironmentVariable("TARNVIK_CORPUS_DIR");
    return dir.isEmpty() ? QStringLiteral(TARNVIK_CORPUS_DIR) : dir;
}

QString heldHelper(const QDir &dir)
{
    return writeScript(dir.filePath(QStringLiteral("held-helper")),
                       QStringLiteral("echo \"$2\" >> '%1'\n"
                                      "while [ ! -e \"$2.go\" ]; do sleep 0.02; done\n"
                                      "exec '%2' \"$@\"\n")
                           .arg(dir.filePath(QStringLiteral("starts")), tarnvik::MdbFile::helperPath()));
}

int heldStarts(const QDir &dir, const QString &db)
{
    return int(readBytes(dir.filePath(QStringLiteral("starts"))).split('\n').count(QFile::encodeName(db)));
}

void release(const QString &db)
{
    writeBytes(db + QStringLiteral(".go"), {});
}

QString titles(const QVector<tarnvik::DataSource> &sources)
{
    QStringList t;
    for (const auto &s : sources)
        t << s.Title;
    return t.join(u',');
}

} // namespace testutil
