// The per-user settings store: text values addressed by section and key,
// kept in an INI file ($XDG_CONFIG_HOME/TVK/TVK.ini).
//
// The file is read with QSettings. It is written by this class, whole, into a
// new file beside it that replaces it only once every byte is on disk: QSettings
// itself commits a cut file when the disk fills or a size limit is hit, and the
// catalogue must never be lost that way.
#pragma once

#include <QMap>
#include <QString>

namespace tarnvik {

class SettingsStore
{
public:
    explicit SettingsStore(const QString &path = defaultPath());

    static QString defaultPath();
    QString path() const { return m_path; }

    // Reads the file again. A file that cannot be read or parsed gives an
    // empty store (so every reader gets its defaults) and sets problem().
    void reload();
    // Why the file could not be used; empty when it could (or did not exist).
    QString problem() const { return m_problem; }

    QString getSetting(const QString &section, const QString &key,
                       const QString &defaultValue) const;
    // Kept in memory until sync().
    void saveSetting(const QString &section, const QString &key, const QString &value);

    // Writes the whole store. On failure the file on disk is unchanged and
    // *error names the file and the cause.
    bool sync(QString *error);

    // The INI text the store writes; QSettings reads it back unchanged.
    static QByteArray serialize(const QMap<QString, QMap<QString, QString>> &sections);

private:
    QString m_path;
    QString m_problem;
    QMap<QString, QMap<QString, QString>> m_sections;
};

} // namespace tarnvik
