// For a sanitizer build only: its leak check runs after main, when Qt has
// unloaded its plugins; a leak inside one of them is then an unknown
// module's, which no suppression (tests/lsan.supp) can name.
#pragma once

#include <QByteArray>
#include <QFile>

#include <dlfcn.h>

namespace tarnvik {

// Keeps every library loaded now mapped to the end of the process.
inline void keepLibrariesForLeakCheck()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const qsizetype at = line.indexOf('/');
        if (at >= 0 && line.contains(".so"))
            dlopen(line.mid(at).constData(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

} // namespace tarnvik
