// The cache folder's record of settings files as anyone may have left it:
// reading never fails hard, and what reads as whole is written back the same.
#include "FuzzUtil.h"
#include "db/index/CacheTidy.h"

using namespace tarnvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString folder = QDir::temp().filePath(
        QStringLiteral("tarnvik-fuzz-%1-cache").arg(QCoreApplication::applicationPid()));
    QDir().mkpath(folder);
    QFile f(folder + u'/' + CacheTidy::seenFileName());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || f.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    f.close();
    const CacheTidy cache(folder);
    const CacheTidy::Seen seen = cache.seen();
    FUZZ_ASSERT(seen.intact || seen.since == 0);
    if (!seen.intact)
        return 0;
    FUZZ_ASSERT(cache.writeSeen(seen));
    const CacheTidy::Seen again = cache.seen();
    FUZZ_ASSERT(again.intact && again.since == seen.since && again.settings == seen.settings);
    return 0;
}
