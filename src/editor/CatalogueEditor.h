// The data-source editor without widgets: the catalogue list, what the
// property pane shows of the selected entry and what a choice there stores,
// the database chosen by browsing, and when the editor may close.
//
// The window builds the widgets, turns each user action into one call here
// and then shows list() and pane() again. What it needs in the middle of a
// call (a box, the open-file dialog, a read of a database) goes through
// EditorView; before each box the window shows the state as it stands, so a
// message about a table has the tables listed behind it.
#pragma once

#include "editor/CatalogueList.h"
#include "editor/EditorMemory.h"
#include "editor/PropertyRow.h"

#include <QStringList>
#include <array>
#include <optional>

namespace tarnvik {

class SettingsStore;

class EditorView
{
public:
    using AfterFailedSave = CatalogueListView::AfterFailedSave;
    // The boxes: information (OK), a Yes/No question (No the default), a
    // problem found in a database (critical icon, the program's title), and
    // the choice after a failed save.
    virtual void showInformation(const QString &title, const QString &text) = 0;
    virtual bool askYesNo(const QString &title, const QString &text) = 0;
    virtual void critical(const QString &text) = 0;
    virtual AfterFailedSave saveFailed(const QString &error) = 0;
    // The open-file dialog for a database, starting in 'folder'; empty text
    // when the user cancels.
    virtual QString chooseDatabase(const QString &folder) = 0;
    // A dictionary file (a word list, dictd, StarDict) chosen instead of a
    // database: the source made from it before, if any, and a new import
    // (nothing when it failed or the user cancelled it; the view told why).
    virtual std::optional<DataSource> earlierImport(const QString &file) = 0;
    virtual std::optional<DataSource> importDictionary(const QString &file) = 0;
    // The file was imported before: use that database, import it anew, or
    // neither (Escape).
    enum class Earlier { Use, ImportAgain, Cancel };
    virtual Earlier askAboutEarlier(const QString &file, const QString &database) = 0;
    // The reads of editor/Verify.h, run while the window goes on painting.
    virtual std::optional<QStringList> readTables(const QString &file, QString *error) = 0;
    virtual std::optional<QStringList> readFields(const QString &file, const QString &table, QString *error) = 0;

protected:
    ~EditorView() = default;
};

// One row of the property pane: its value cell and, for a choice box, the
// box's items, its choice (-1: none) and whether it takes input.
struct PaneRow
{
    QString value;
    QStringList items;
    int current = -1;
    bool enabled = false;
};

struct Pane
{
    std::array<PaneRow, PropertyRows> rows;
    // The database row names a file that is gone; its tool tip says more.
    bool fileMissing = false;
    QString fileTip;
    // Grows each time the pane is filled for an entry, or the title taken
    // back: the title editor then takes the title, all of it selected.
    int generation = 0;
};

class CatalogueEditor : private CatalogueListView
{
public:
    using Action = CatalogueList::Action;

    CatalogueEditor(SettingsStore &store, EditorMemory &memory, EditorView &view);

    // Reads the catalogue from the store (read again: another copy may have
    // written it) and fills the pane; once.
    void load();
    bool loaded() const { return m_loaded; }
    // A database is being read: the user's input and any close wait.
    bool reading() const { return m_reading > 0; }

    // The list's lines and the toolbar take the user's input directly.
    CatalogueList &list() { return m_list; }
    const CatalogueList &list() const { return m_list; }
    const Pane &pane() const { return m_pane; }
    EditorMemory &memory() const { return m_memory; }

    // --- the pane, for the entry at the selected line ---
    // Every change of the title editor's text.
    void typeTitle(const QString &text);
    // The title editor opened, or took Enter: Escape comes back to this title.
    void keepTitle() { m_titleBefore = m_pane.rows[TitleRow].value; }
    // Escape in the title editor: the title kept last, shown anew (the pane's
    // generation grows). False when there is nothing to take back.
    bool restoreTitle();
    // The user picked item 'position' of row's choice box (also the one shown).
    void choose(int row, int position);
    // The browse command: the dialog, then the file if it is a database the
    // reader can use, or a dictionary file imported. True when the entry took it.
    bool browse();
    // A dictionary file dropped on the editor: imported into the selected
    // entry while it has no database yet, else into a new entry made once
    // the import succeeded. True when an entry took it.
    bool addDictionary(const QString &file);

    // --- closing ---
    // Every request to close (a key, the window's button, the window
    // manager): true when the window may go. Refused while a database is
    // read; otherwise CatalogueList::close, once.
    bool closeRequest();
    // The program ends with the editor open: the catalogue is saved as it
    // stands, an entry still without a database included, since nobody is
    // left to finish it (not the newcomer's first one, untouched); a failure is told on standard error, never in a box.
    bool saveForSessionEnd();

private:
    // CatalogueListView
    void fill_data(int index) override;
    void showInformation(const QString &title, const QString &text) override { m_view.showInformation(title, text); }
    bool askYesNo(const QString &title, const QString &text) override { return m_view.askYesNo(title, text); }
    AfterFailedSave saveFailed(const QString &error) override { return m_view.saveFailed(error); }

    PaneRow &row(int r) { return m_pane.rows[size_t(r)]; }
    void setItems(int r, const QStringList &items);
    // A choice set by the pane: the same handling as the user's, storing only
    // what the entry lacks (the stored spelling of a name stays).
    void select(int r, int position);
    void chosen(int r, bool byUser);
    void showCharset(int r, uint8_t number);
    void enableChoices(bool on);
    void markMissingFile(const QString &file);
    // Lists the tables and fields of entry 'id''s database and selects its names.
    void check_data(int id);
    // Open-only: the user chose 'table'; its fields are listed and the first
    // one chosen for both fields.
    void check_data(int id, const QString &table);
    bool listFields(int id, const QString &table);
    std::optional<QStringList> tables(const QString &file);
    // The earlier import of 'file' if the user takes it, else a new one;
    // nothing when the user cancels or the import fails.
    std::optional<DataSource> imported(const QString &file);
    void takeImport(const QString &file, const DataSource &made);

    SettingsStore &m_store;
    EditorMemory &m_memory;
    EditorView &m_view;
    CatalogueList m_list{*this};
    Pane m_pane;
    // A charset row's number no name stands for, shown as its last item.
    std::array<uint8_t, PropertyRows> m_unnamed{};
    QString m_titleBefore;
    int m_reading = 0;
    bool m_loaded = false, m_saved = false;
    // The session's end has saved what it could: nobody is left to answer.
    bool m_sessionEnded = false;
};

} // namespace tarnvik
