// A dictionary file the user holds (a word list, dictd, StarDict) made into a
// database of the user's own data folder, which a catalogue entry can then
// name. The file itself is only read. Each import is recorded, so choosing the
// same file again can offer the database made before.
#pragma once

#include "catalogue/Catalogue.h"
#include "db/write/MakeDatabase.h"

#include <optional>

namespace tarnvik {

class DictionaryImport
{
public:
    // 'folder': where the databases go ($XDG_DATA_HOME/tarnvik by default).
    explicit DictionaryImport(QString folder = defaultFolder());
    static QString defaultFolder();

    // The source made from 'path' before, while that file is unchanged and
    // the database still there.
    std::optional<DataSource> earlier(const QString &path) const;

    // Imports 'path' into a new database named after it (never over another
    // file); the source names that database, its table, the headword and the
    // definition fields, and the dictionary's own name as title. Nothing is
    // left behind on failure or when 'cancel' is set.
    std::optional<DataSource> run(const QString &path, const std::atomic_bool *cancel = nullptr,
                                  std::function<void(qint64, qint64)> progress = {});
    QString errorString() const { return m_error; }
    bool cancelled() const { return m_cancelled; }

private:
    QString recordPath() const;
    QString m_folder;
    QString m_error;
    bool m_cancelled = false;
};

} // namespace tarnvik
