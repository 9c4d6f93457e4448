// The per-user settings store: text values addressed by section and key,
// kept in an INI file ($XDG_CONFIG_HOME/TVK/TVK.ini) that the user may edit.
//
// The file belongs to the user as much as to us: a save changes only the keys
// saved since the last reload, in the file as it is on disk at that moment, and
// keeps every other byte (comments, order, quoting, what other copies of the
// program wrote meanwhile). The new file replaces the old one only once every
// byte is on disk, so a full disk never costs the catalogue.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

namespace tarnvik {

class SettingsStore
{
public:
    explicit SettingsStore(const QString &path = defaultPath());

    static QString defaultPath();
    QString path() const { return m_path; }

    // Reads the file again and drops changes not yet synced. A file that
    // cannot be read (not text in UTF-8, not a regular file, or not openable)
    // gives an empty store, so every reader gets its defaults, and sets
    // problem(); nothing is waited for (a FIFO).
    void reload();
    // Why the file could not be used; empty when it could (or did not exist).
    QString problem() const { return m_problem; }

    // Section and key names match in any letter case.
    QString getSetting(const QString &section, const QString &key,
                       const QString &defaultValue) const;
    // Kept in memory until sync().
    void saveSetting(const QString &section, const QString &key, const QString &value);

    // Writes the changes saved since the last reload into the file as it now
    // is, while other copies' saves wait. A file that cannot be read is left
    // alone (false, problem() set) unless replaceUnreadable, when it is
    // replaced by the changes alone. On failure the file on disk is unchanged
    // and *error names the file and the cause; on success the store reads
    // what was written (with no changes: the file as it is).
    bool sync(QString *error, bool replaceUnreadable = false);

    // A value as it is written after "=": bare where that reads back the same,
    // else quoted with escapes.
    static QByteArray encodeValue(const QString &value);
    // The text after "=" (blanks at the ends already trimmed) as a value.
    static QString decodeValue(QByteArrayView text);

private:
    struct Change
    {
        QString section, key, value;
    };
    QString m_path;
    QString m_problem;
    QHash<QString, QString> m_values; // by case-folded "section\nkey"
    QList<Change> m_changes;          // in the order first saved
    QHash<QString, qsizetype> m_changeAt;
};

} // namespace tarnvik
