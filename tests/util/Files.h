// Small file helpers for any test; set-up failures end the run.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>

namespace testutil {

// The file's bytes; empty when it cannot be read.
inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A copy of the bytes with the one at 'at' changed to 'value'.
inline QByteArray withByte(QByteArray bytes, qsizetype at, int value)
{
    bytes[at] = char(value);
    return bytes;
}

// Overwrites the start of the file in place (same inode), then sets its time.
inline void overwrite(const QString &path, const QByteArray &bytes, const QDateTime &modified = {})
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || f.write(bytes) != bytes.size()
        || (modified.isValid() && !f.setFileTime(modified, QFileDevice::FileModificationTime)))
        qFatal("cannot rewrite %s", qPrintable(path));
}

inline void setModified(const QString &path, const QDateTime &modified) { overwrite(path, {}, modified); }

// Modification times to the nanosecond, as a copy that keeps times keeps them.
inline timespec modifiedNs(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        qFatal("cannot stat %s", qPrintable(path));
    return st.st_mtim;
}

inline void setModifiedNs(const QString &path, timespec modified)
{
    const timespec times[2] = {{0, UTIME_OMIT}, modified};
    if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) != 0)
        qFatal("cannot set the time of %s", qPrintable(path));
}

// An executable shell script.
inline QString writeScript(const QString &path, const QString &body)
{
    writeBytes(path, "#!/bin/sh\n" + body.toUtf8());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace testutil
