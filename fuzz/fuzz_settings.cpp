// The settings file as anyone may have left it. Reading never fails hard; a
// value saved reads back as saved, and a save keeps every other value the
// file held.
#include "FuzzUtil.h"
#include "catalogue/SettingsStore.h"

#include <QCoreApplication>

using namespace tarnvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // Any text survives the value quoting.
    const QString value = fuzzutil::text(data, size);
    FUZZ_ASSERT(SettingsStore::decodeValue(SettingsStore::encodeValue(value).trimmed()) == value);

    const QString path = fuzzutil::scratch("settings.ini", bytes);
    SettingsStore store(path);
    if (!store.problem().isEmpty())
        return 0;
    const char *const keys[][2] = {{"Settings", "TopMost"}, {"Settings", "Font"}, {"Tables", "count"},
                                   {"Tables", "ActiveTable"}, {"Tables", "Table1Title"}, {"Tables", "Table1File"}};
    QString before[std::size(keys)];
    for (size_t i = 0; i < std::size(keys); ++i)
        before[i] = store.getSetting(QLatin1String(keys[i][0]), QLatin1String(keys[i][1]), QStringLiteral("\x01"));

    const QString saved = value.left(64);
    store.saveSetting(QStringLiteral("Tables"), QStringLiteral("ActiveTable"), saved);
    QString error;
    FUZZ_ASSERT(store.sync(&error));
    SettingsStore after(path);
    FUZZ_ASSERT(after.problem().isEmpty());
    FUZZ_ASSERT(after.getSetting(QStringLiteral("Tables"), QStringLiteral("ActiveTable"), {}) == saved);
    for (size_t i = 0; i < std::size(keys); ++i) {
        if (QLatin1String(keys[i][1]) != QLatin1String("ActiveTable"))
            FUZZ_ASSERT(after.getSetting(QLatin1String(keys[i][0]), QLatin1String(keys[i][1]), QStringLiteral("\x01")) == before[i]);
    }
    return 0;
}
