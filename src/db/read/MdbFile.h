// Reading Access databases safely. Every read runs the helper program
// tarnvik-mdbread (the only code that calls libmdb) in a process of its own,
// under a time limit, a no-progress limit, a memory limit and lower priority,
// and can be cancelled. A hang, crash or overrun of the helper is reported as
// a damaged or unsupported file; nothing libmdb does can harm the calling
// process. What libmdb prints is logged (its last 8 KiB, at debug level of
// the category tarnvik.read), never shown.
#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>

namespace tarnvik {

struct ReadLimits
{
    int timeoutMs = 120000;
    // A read that sends nothing for this long while the helper is busy (it
    // runs, or prints) is stopped: libmdb looping on a damaged file sends
    // nothing while it eats memory, a sound read sends rows or a sign of life
    // at least twice a second. A helper waiting for the disk is not stopped.
    int stallMs = 5000;
    qint64 memoryBytes = qint64(2) << 30;
    QString helper; // the program that reads; empty for helperPath() (tests put stand-ins here)
};

struct TableInfo
{
    QString name;
    bool system = false;
};

struct FieldInfo
{
    QString name;
    int type = 0; // the file's column type (10 Text, 12 Memo, ...)
};

// A value as the file stores it: UTF-8 (Jet 4) or code-page bytes (Jet 3).
// Empty text is not Null.
struct StoredValue
{
    bool null = true;
    QByteArrayView bytes;
};

// What can be learnt from the header alone, without libmdb.
struct FileFormat
{
    int jetVersion = -1; // 0 Jet 3, 1 Jet 4, 2.. ACE
    int codePage = 1252;
    bool jet3() const { return jetVersion == 0; }
};

class MdbFile
{
public:
    explicit MdbFile(QString path, ReadLimits limits = {});

    // Checks the file without libmdb: it exists, is a Jet/ACE database of a
    // known version and is not encrypted.
    std::optional<FileFormat> probe(QString *error) const;

    std::optional<QList<TableInfo>> tables(QString *error) const;
    std::optional<QList<FieldInfo>> fields(const QString &table, QString *error) const;

    using RowSink = std::function<void(const StoredValue *values)>;
    // Calls 'sink' once per row, in table order, with one value per field.
    bool readRows(const QString &table, const QStringList &fields, const RowSink &sink, QString *error,
                  const std::atomic<bool> *cancel = nullptr) const;

    // Turns a stored value into text: Jet 4 UTF-8 as is, Jet 3 bytes by the
    // database's code page (used for names).
    static QString storedText(QByteArrayView bytes, const FileFormat &format);

    // Where the helper is: beside the running program, else in the libexec
    // folder of the tree the program is installed in, else under the prefix
    // it was built for.
    static QString helperPath();

    // What is said of the file at 'path' when it is not there, is not a
    // regular file, or its read was cancelled; also by those who find out
    // without reading.
    static QString missingMessage(const QString &path);
    static QString notAFileMessage(const QString &path, bool folder);
    static QString cancelledMessage(const QString &path);

    const QString &path() const { return m_path; }

private:
    bool run(const QStringList &args, int fieldsPerRow, const std::function<bool(char, QByteArrayView)> &onRecord,
             const std::function<bool(const StoredValue *)> &onRow, QString *error,
             const std::atomic<bool> *cancel) const;
    QString errorMessage(QByteArrayView payload, const QString &table, const QStringList &fields) const;

    QString m_path;
    ReadLimits m_limits;
};

} // namespace tarnvik
