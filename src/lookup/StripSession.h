// What the strip knows and decides for a whole run, without its window: the
// visible sources and the active one, the look-up bound to it, the settings
// the strip keeps, always on top, and the one save every end of the program
// goes through. The window shows what it holds and tells what it reports.
#pragma once

#include "catalogue/Catalogue.h"
#include "db/DataControl.h"
#include "lookup/CacheUpkeep.h"
#include "lookup/Lookup.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

namespace tarnvik {

class StripSession : public QObject
{
    Q_OBJECT
public:
    explicit StripSession(SettingsStore &store, SearchFolders folders = defaultSearchFolders(),
                          QObject *parent = nullptr);

    SettingsStore &store() const { return m_store; }
    // Reads the store anew: always on top, the catalogue's visible sources
    // and the active one. The active source is bound by prepareActive; an
    // empty catalogue unbinds the look-up at once.
    void load();
    // What was read last (or saved since): the face, the place, the shortcut.
    const LookupSettings &stored() const { return m_read; }
    const QVector<VisibleSource> &sources() const { return m_sources; }
    // Nothing in the catalogue at all: the strip tells how to add a dictionary.
    bool catalogueEmpty() const { return m_read.entries == 0; }
    int active() const { return m_active; }

    // Makes visible source 'index' the active one and prepares it; false
    // (and nothing changes) when there is no such source.
    bool choose(int index);
    // Binds the look-up to the active source in its character sets and
    // starts reading it; its problem is reported when one is due.
    void prepareActive();
    // The look-up for 'text'; one that waits for its source is due again
    // (lookUpDue) once the source is read, or soon.
    LookupResult lookUp(const QString &text);
    // A key went into the text box: no box into typing.
    void keyTyped() { m_lookup.keyTyped(); }

    bool topMost() const { return m_topMost; }
    void setTopMost(bool onTop) { m_topMost = onTop; }
    // Where the user moved the window to: kept for the next start.
    void setPlace(QPoint place) { m_place = place; }

    // Writes what the strip changed since it read the store; false when a
    // change could not be saved (told on standard error, and by saveFailed
    // unless the session is ending).
    bool save();
    // Before the editor: it opens on the active source. Nothing is written to
    // a store that could not be read.
    void saveForEditor();
    // While the editor is open its catalogue holds the user's work: the
    // session's end saves through it instead. Empty once it has closed.
    void setEditorSave(std::function<bool()> save) { m_editorSave = std::move(save); }

    enum class Ending {
        Quit,       // "Konec", the window closed, the application quitting
        SessionEnd, // a signal or the session manager: nobody answers a box
        AskedToSave // the session manager may end the session: saved, the run goes on
    };
    // Every road that ends the program saves here, once; the exit status
    // is 1 when that save failed.
    void saveAtEnd(Ending how);
    bool ended() const { return m_ended; }
    int exitStatus() const { return m_exitStatus; }

    DataControl &data() { return m_data; }
    const DataControl &data() const { return m_data; }

signals:
    // The store cannot be used: told once a run.
    void storeUnusable(const QString &text);
    // The active source's problem, due in a box.
    void sourceProblem(const QString &why);
    // A save that failed, due in a box.
    void saveFailed(const QString &error);
    // A look-up that waited for its source can run now.
    void lookUpDue();

private:
    void prepared();

    SettingsStore &m_store;
    SearchFolders m_folders;
    DataControl m_data;
    Lookup m_lookup;
    LookupSettings m_read; // as loaded or last saved
    QVector<VisibleSource> m_sources;
    int m_active = 0;
    bool m_topMost = true;
    std::optional<QPoint> m_place;
    std::function<bool()> m_editorSave;
    std::unique_ptr<CacheUpkeep> m_upkeep;
    bool m_toldStoreProblem = false;
    QTimer m_quiet; // after the last look-up: the index's pages let go
    bool m_retryQueued = false;
    bool m_sessionEnding = false;
    bool m_ended = false;
    int m_exitStatus = 0;
};

} // namespace tarnvik
