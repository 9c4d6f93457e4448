// Word lists and dictionaries into one new database, as tarnvik-mkdb and the
// editor's import both do it: every input is read once to check it and choose
// Text or Memo per field, then again to write. Nothing is left behind when an
// input is bad or the work is cancelled.
#pragma once

#include "db/write/JetWriter.h"

#include <QString>
#include <atomic>
#include <functional>
#include <vector>

namespace tarnvik::mkdb {

struct Input
{
    QString table;
    QString path;
    QString format; // empty: from the file's ending
};

struct MadeTable
{
    std::vector<JetWriter::Field> fields;
    qint64 rows = 0;
    QString title; // the dictionary's own name, where it states one
    qint64 cut = 0; // a dictionary's entries cut to fit the fields
};

class MakeDatabase
{
public:
    JetWriter::Format format = JetWriter::Format::Jet4;
    int codePage = 1252;
    // Rows done and rows in all; the total is 0 while the inputs are checked.
    std::function<void(qint64 done, qint64 total)> progress;
    const std::atomic_bool *cancel = nullptr;

    bool run(const QString &output, const std::vector<Input> &inputs);
    const std::vector<MadeTable> &tables() const { return m_tables; }
    QString errorString() const { return m_error; }
    bool cancelled() const { return m_cancelled; }

    // Cuts 'value' where a character begins so that a field of the type holds
    // it in the format; true when it had to.
    static bool cutToFit(QString *value, JetWriter::FieldType type, JetWriter::Format format);

private:
    bool fail(const QString &message);
    bool stopped();
    std::vector<MadeTable> m_tables;
    QString m_error;
    bool m_cancelled = false;
};

} // namespace tarnvik::mkdb
