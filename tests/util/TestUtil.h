// Shared helpers for tests: making databases with our own tools, reading them
// back, and running mdbtools' programs for comparison.
#pragma once

#include "db/write/JetWriter.h"
#include "db/read/MdbFile.h"
#include "catalogue/Catalogue.h"

#include <QDir>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace testutil {

using Row = std::vector<std::optional<QString>>;

QString binPath(const QString &program);

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};
// Runs a program to its end (or kills it after the timeout).
Run run(const QString &program, const QStringList &args, int timeoutMs = 120000);
bool haveProgram(const QString &program);

// Writes one table with our writer, replacing the file; false with 'error' set.
bool writeTable(const QString &path, const QString &table, const std::vector<tarnvik::JetWriter::Field> &fields,
                const std::vector<Row> &rows, QString *error,
                tarnvik::JetWriter::Format format = tarnvik::JetWriter::Format::Jet4, int codePage = 1252);

// Writes a TSV file (values escaped, std::nullopt as \N).
void writeTsv(const QString &path, const QStringList &header, const std::vector<Row> &rows);
// Runs tarnvik-mkdb; QFAIL-free: returns the run for the caller to check.
Run runMkdb(const QStringList &args);
// A table "Slova" (slovo, vyznam) of the look-up's awkward cases: den, dům and
// dva; a Null output (abc); a blank (a b) and an apostrophe (o'clock) in the
// input; slovo000 to slovo119 written in reverse. Its rows stay beside it in
// PATH.tsv. False (told) on failure.
bool makeSampleDictionary(const QString &path);

// All rows of the table through our reader, as stored text (Jet 3 bytes as Latin-1).
std::optional<std::vector<Row>> readAll(const QString &file, const QString &table, const QStringList &fields,
                                        QString *error);

// A TSV cell with its escapes (\t \n \r \\) undone.
QString unescape(QStringView s);

// mdb-export's rows, Null and empty both as nullopt (as libmdb reports them).
std::vector<Row> mdbExport(const QString &file, const QString &table);

// What a reader built on libmdb reports: empty text is Null.
Row asLibmdbSees(const Row &row);

// What the independent npm package mdb-reader reads from a database: user and
// system table names, each user table's columns and rows (see
// mdbreader/dump.mjs); nullopt when it is not installed in the build folder.
std::optional<QJsonObject> mdbReaderDump(const QString &file);

// A stand-in for the reader helper (for ReadLimits::helper) that holds each
// read of FILE until release(FILE), and notes every start in the folder.
QString heldHelper(const QDir &dir);
void release(const QString &db);
// How many reads of 'db' the held helper has started.
int heldStarts(const QDir &dir, const QString &db);

// The folder of real .mdb files, or empty when the corpus tests should skip.
QString corpusDir();

// The entries' titles, joined by commas.
QString titles(const QVector<tarnvik::DataSource> &sources);

} // namespace testutil
