// The catalogue of data sources and every value the program keeps in the
// settings store: the editor's reader and writer of the whole catalogue, and
// what the lookup window reads at start and writes on exit.
#pragma once

#include "SettingsStore.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <optional>

namespace tarnvik {

// Entry positions are 16-bit (0 to 32,767): the most entries a catalogue holds.
constexpr int MaxCatalogueEntries = 32768;

struct DataSource
{
    QString Title, File, Name, In, Out;
    uint8_t CharsetIn = 238, CharsetOut = 238;
    bool Visible = true;
    bool operator==(const DataSource &) const = default;
};

// Store readings with the defaults the store's readers agree on.
namespace setting {
// "True"/"False" in any letter case; anything else is the default.
bool toBool(const QString &text, bool defaultValue);
// The leading decimal number (blanks and a sign allowed); 0 when there is none.
qint64 leadingNumber(const QString &text);
// A whole number 0 to 255, or the default.
uint8_t toCharset(const QString &text, uint8_t defaultValue = 238);
inline QString fromBool(bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); }
QString key(int n, const char *field); // "Table" n field
} // namespace setting

// Editor: the whole catalogue, and the position to select first: the visible
// entry "ActiveTable" designates (the first visible one when it designates
// none; 0 when none is visible; -1 for an empty catalogue).
void load_tables(const SettingsStore &store, QVector<DataSource> &sources, int &selected);
// Editor: writes the whole catalogue and "ActiveTable" for the selected
// position (-1: none). The caller syncs the store.
void save_tables(SettingsStore &store, const QVector<DataSource> &sources, int selected);
// The "ActiveTable" value save_tables writes.
int activeTableFor(const QVector<DataSource> &sources, int selected);

// Where a stored database path is looked for.
struct SearchFolders
{
    QString current, program;
    QStringList data; // installed data folders, most specific first
};
// An absolute path stays as it is; a relative one is tried in each folder in
// turn. When none has the file, the program folder's path is kept, so the
// failure names a place the user can check.
QString resolveDatabasePath(const QString &stored, const SearchFolders &folders);
SearchFolders defaultSearchFolders();

// The lookup window's copy: visible sources only, packed.
struct VisibleSource
{
    QString Title, File, Name, In, Out;
    uint8_t CharsetIn = 238, CharsetOut = 238;
};
struct LookupSettings
{
    bool topMost = true;
    QString fontName;
    QVector<VisibleSource> sources;
    qint64 entries = 0; // in the catalogue, hidden ones too
    int active = -1; // index into sources; -1 when there are none
    // "ActiveTable" as stored, before a value out of range falls back to the
    // first source.
    qint64 storedActive = 1;
    // Where the window was left ("Left", "Top": its outer top-left corner in
    // the desktop's pixels); none while either is missing or not a number.
    std::optional<QPoint> position;
    // "Shortcut": the keys that bring the strip forward with the selection
    // from anywhere (X11), as Qt writes them; empty for none.
    QString shortcut;
};
// The shortcut where the settings name none: bound by default by none of
// the common desktops.
inline const QString kDefaultShortcut = QStringLiteral("Ctrl+Alt+Shift+L");
// What a source lacks before it can be looked up in, in the user's words and
// naming the source; empty when it lacks nothing.
QString missingPartOf(const VisibleSource &s);

LookupSettings readLookupSettings(const SettingsStore &store, const SearchFolders &folders);
// The lookup window's saver: only what differs from what was 'read', so a
// value another running copy saved meanwhile stays unless this one changed
// it too. False when there is nothing to save; the caller syncs the store.
bool writeLookupSettings(SettingsStore &store, const LookupSettings &read, bool topMost, int active,
                         std::optional<QPoint> position = std::nullopt);

} // namespace tarnvik
