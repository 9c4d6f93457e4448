// What the harnesses share: input as text, and a scratch file for readers
// that take a path.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzzutil {

inline QString text(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A file of this process's own, written anew for every input.
inline QString scratch(const char *name, QByteArrayView bytes)
{
    const QString path = QDir::temp().filePath(QStringLiteral("tarnvik-fuzz-%1-%2")
                                                   .arg(QCoreApplication::applicationPid())
                                                   .arg(QLatin1String(name)));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes.data(), bytes.size()) != bytes.size())
        std::abort();
    return path;
}

// A property that failed: libFuzzer keeps the input that shows it.
#define FUZZ_ASSERT(cond)                                                                         \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond);      \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

} // namespace fuzzutil
