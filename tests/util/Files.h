// Small file helpers for any test; set-up failures end the run.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

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

// Overwrites the start of the file in place (same inode), then sets its time.
inline void overwrite(const QString &path, const QByteArray &bytes, const QDateTime &modified = {})
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || f.write(bytes) != bytes.size()
        || (modified.isValid() && !f.setFileTime(modified, QFileDevice::FileModificationTime)))
        qFatal("cannot rewrite %s", qPrintable(path));
}

inline void setModified(const QString &path, const QDateTime &modified)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || !f.setFileTime(modified, QFileDevice::FileModificationTime))
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
