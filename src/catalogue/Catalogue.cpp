#include "Catalogue.h"

#include "platform/Product.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace tarnvik {

namespace {
const QString kSettings = QStringLiteral("Settings");
const QString kTables = QStringLiteral("Tables");
} // namespace

namespace setting {

bool toBool(const QString &text, bool defaultValue)
{
    if (text.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    return defaultValue;
}

qint64 leadingNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    qint64 n = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        n = std::min<qint64>(n * 10 + (text[i].unicode() - u'0'), qint64(1) << 40);
    return negative ? -n : n;
}

uint8_t toCharset(const QString &text, uint8_t defaultValue)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 3)
        return defaultValue;
    for (const QChar c : t)
        if (c < u'0' || c > u'9')
            return defaultValue;
    const int n = t.toInt();
    return n <= 255 ? uint8_t(n) : defaultValue;
}

QString key(int n, const char *field)
{
    return QStringLiteral("Table") + QString::number(n) + QLatin1String(field);
}

} // namespace setting

using namespace setting;

namespace {

qint64 storedCount(const SettingsStore &store)
{
    const qint64 n = leadingNumber(store.getSetting(kTables, QStringLiteral("count"), QStringLiteral("0")));
    // A larger count is a damaged store.
    return std::clamp<qint64>(n, 0, MaxCatalogueEntries);
}

qint64 storedActiveTable(const SettingsStore &store)
{
    return leadingNumber(store.getSetting(kTables, QStringLiteral("ActiveTable"), QStringLiteral("1")));
}

DataSource readEntry(const SettingsStore &store, int n)
{
    auto text = [&](const char *field) { return store.getSetting(kTables, key(n, field), QString()); };
    auto charset = [&](const char *field) {
        return toCharset(store.getSetting(kTables, key(n, field), QStringLiteral("238")));
    };
    DataSource s;
    s.Title = text("Title");
    s.File = text("File");
    s.In = text("In");
    s.Out = text("Out");
    s.Name = text("Name");
    s.CharsetIn = charset("CharsetIn");
    s.CharsetOut = charset("CharsetOut");
    s.Visible = toBool(store.getSetting(kTables, key(n, "Visible"), QStringLiteral("true")), true);
    return s;
}

} // namespace

void load_tables(const SettingsStore &store, QVector<DataSource> &sources, int &selected)
{
    const qint64 count = storedCount(store);
    const qint64 active = storedActiveTable(store);
    sources.resize(count);
    int seen = 0, firstVisible = -1;
    selected = -1;
    for (int p = 0; p < count; ++p) {
        sources[p] = readEntry(store, p + 1);
        if (sources[p].Visible) {
            if (firstVisible < 0)
                firstVisible = p;
            if (++seen == active)
                selected = p;
        }
    }
    if (selected < 0)
        selected = firstVisible >= 0 ? firstVisible : (count > 0 ? 0 : -1);
}

int activeTableFor(const QVector<DataSource> &sources, int selected)
{
    if (selected < 0 || selected >= sources.size())
        return 1;
    int hidden = 0;
    for (int p = 0; p <= selected; ++p)
        hidden += sources[p].Visible ? 0 : 1;
    int value = selected + 1 - hidden;
    if (sources[selected].Title == u"-")
        --value;
    return value;
}

void save_tables(SettingsStore &store, const QVector<DataSource> &sources, int selected)
{
    // Only a value that reads otherwise than it is stored is written: what the
    // user did not change keeps its bytes (its spelling, a number no name
    // stands for, a default never written).
    auto save = [&](const QString &key, bool same, const QString &value) {
        if (!same)
            store.saveSetting(kTables, key, value);
    };
    save(QStringLiteral("count"), storedCount(store) == sources.size(), QString::number(sources.size()));
    for (int p = 0; p < sources.size(); ++p) {
        const int n = p + 1;
        const DataSource &s = sources[p];
        const DataSource was = readEntry(store, n);
        save(key(n, "Title"), was.Title == s.Title, s.Title);
        save(key(n, "File"), was.File == s.File, s.File);
        save(key(n, "In"), was.In == s.In, s.In);
        save(key(n, "Out"), was.Out == s.Out, s.Out);
        save(key(n, "Name"), was.Name == s.Name, s.Name);
        save(key(n, "CharsetIn"), was.CharsetIn == s.CharsetIn, QString::number(s.CharsetIn));
        save(key(n, "CharsetOut"), was.CharsetOut == s.CharsetOut, QString::number(s.CharsetOut));
        save(key(n, "Visible"), was.Visible == s.Visible, fromBool(s.Visible));
    }
    const int active = activeTableFor(sources, selected);
    save(QStringLiteral("ActiveTable"), storedActiveTable(store) == active, QString::number(active));
}

QString resolveDatabasePath(const QString &stored, const SearchFolders &folders)
{
    if (stored.isEmpty() || QDir::isAbsolutePath(stored))
        return stored;
    auto in = [&](const QString &folder) {
        return QDir::cleanPath(folder + QDir::separator() + stored);
    };
    QStringList candidates{in(folders.current), in(folders.program)};
    for (const QString &d : folders.data)
        candidates << in(d);
    for (const QString &c : candidates)
        if (QFileInfo(c).isFile())
            return c;
    return in(folders.program);
}

SearchFolders defaultSearchFolders()
{
    return {QDir::currentPath(), QCoreApplication::applicationDirPath(),
            QStandardPaths::standardLocations(QStandardPaths::AppDataLocation)};
}

QString missingPartOf(const VisibleSource &s)
{
    const char *what = s.File.isEmpty() ? "zvolenou databázi"
                       : s.Name.isEmpty() ? "zvolenou tabulku"
                       : s.In.isEmpty()   ? "zvolené vstupní pole"
                       : s.Out.isEmpty()  ? "zvolené výstupní pole"
                                          : nullptr;
    if (!what)
        return QString();
    return QStringLiteral("Zdroj „%1“ nemá v nastavení %2.").arg(s.Title, QString::fromUtf8(what));
}

LookupSettings readLookupSettings(const SettingsStore &store, const SearchFolders &folders)
{
    LookupSettings out;
    out.topMost = toBool(store.getSetting(kSettings, QStringLiteral("TopMost"), QStringLiteral("true")), true);
    out.fontName = store.getSetting(kSettings, QStringLiteral("Font"), kFace);
    out.shortcut = store.getSetting(kSettings, QStringLiteral("Shortcut"), kDefaultShortcut);
    const qint64 count = storedCount(store);
    out.entries = count;
    for (int n = 1; n <= count; ++n) {
        const DataSource e = readEntry(store, n);
        if (e.Visible)
            out.sources.push_back({e.Title, resolveDatabasePath(e.File, folders), e.Name, e.In,
                                   e.Out, e.CharsetIn, e.CharsetOut});
    }
    out.storedActive = storedActiveTable(store);
    bool leftOk = false, topOk = false;
    const int left = store.getSetting(kSettings, QStringLiteral("Left"), {}).trimmed().toInt(&leftOk);
    const int top = store.getSetting(kSettings, QStringLiteral("Top"), {}).trimmed().toInt(&topOk);
    // Far beyond any screen is no place; it also keeps sums from overflowing.
    constexpr int kFar = 1 << 20;
    if (leftOk && topOk && qAbs(left) < kFar && qAbs(top) < kFar)
        out.position = QPoint(left, top);
    if (!out.sources.isEmpty()) {
        const qint64 active = out.storedActive - 1;
        out.active = active < 0 || active >= out.sources.size() ? 0 : int(active);
    }
    return out;
}

bool writeLookupSettings(SettingsStore &store, const LookupSettings &read, bool topMost, int active,
                         std::optional<QPoint> position)
{
    bool any = false;
    if (position && position != read.position) {
        store.saveSetting(kSettings, QStringLiteral("Left"), QString::number(position->x()));
        store.saveSetting(kSettings, QStringLiteral("Top"), QString::number(position->y()));
        any = true;
    }
    if (topMost != read.topMost) {
        store.saveSetting(kSettings, QStringLiteral("TopMost"), fromBool(topMost));
        any = true;
    }
    // Without sources there is no active one to keep.
    if (active >= 0 && active + 1 != read.storedActive) {
        store.saveSetting(kTables, QStringLiteral("ActiveTable"), QString::number(active + 1));
        any = true;
    }
    return any;
}

} // namespace tarnvik
