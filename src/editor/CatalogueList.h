// The data-source editor's catalogue list and toolbar, without widgets: the
// working copy of the catalogue, which entry the pane shows, the list's lines
// and selection, and the four toolbar actions with their enabled states.
//
// Each user action on the list or the toolbar is forwarded to one call here,
// after which the window shows lines(), selectedLine() and isEnabled() again.
// What is needed in the middle of an action (filling the pane, a message, the
// delete question) goes through CatalogueListView, which CatalogueEditor
// answers; its pane filling calls back in (kontrolaID() for the names it
// stores).
#pragma once

#include "catalogue/Catalogue.h"
#include "editor/PropertyRow.h"

#include <QString>
#include <QVector>
#include <array>
#include <cstdint>

namespace tarnvik {

class SettingsStore;

// What the list needs from the window.
class CatalogueListView
{
public:
    // Fill the property pane and its choice boxes from sources()[index]; -1
    // empties the pane (the catalogue has no entry left).
    virtual void fill_data(int index) = 0;
    // A message box with an OK button and the information icon.
    virtual void showInformation(const QString &title, const QString &text) = 0;
    // A Yes/No question with the question icon, No the default; true for Yes.
    virtual bool askYesNo(const QString &title, const QString &text) = 0;
    // The catalogue could not be saved on closing ('error' says why): the
    // user tries again, closes without saving, or goes back to the editor.
    enum class AfterFailedSave { Retry, Discard, Stay };
    virtual AfterFailedSave saveFailed(const QString &error) = 0;

protected:
    ~CatalogueListView() = default;
};

namespace editortext {
inline const QString RefusalTitle = QStringLiteral("Nedostatek údajů");
inline const QString MoveRefused = QStringLiteral(
    "Před přechodem na další záznam je nutné definovat zdrojovou databázi.\n"
    "Jiný způsob jakým se lze dostat dále je smazat tento záznam.");
inline const QString CloseRefused = QStringLiteral(
    "Před ukončením editace je nutné definovat zdrojovou databázi.\n"
    "Jiný způsob jakým se lze dostat dále je smazat tento záznam.");
inline const QString DeleteTitle = QStringLiteral("Odstranění položky");
inline QString deleteQuestion(const QString &title)
{
    return QStringLiteral("Opravdu chcete smazat položku '") + title + QStringLiteral("'?");
}
inline QString dropQuestion(const QString &title)
{
    return QStringLiteral("Smazat položku '") + title + QStringLiteral("' a zavřít editor?");
}
inline QString saveFailedText(const QString &error)
{
    return error + QStringLiteral("\n\nZkuste to znovu, až bude možné do souboru zapisovat, nebo editor zavřete "
                                  "bez uložení: změny provedené v editoru se pak ztratí.");
}
inline const QString SaveRetry = QStringLiteral("Zkusit znovu");
inline const QString SaveDiscard = QStringLiteral("Zavřít bez uložení");
inline const QString SaveStay = QStringLiteral("Zpět do editoru");
inline const QString NewTitle = QStringLiteral("(Vstup -> Výstup)");
inline const QString ImportedBefore = QStringLiteral("Slovník už byl převeden");
inline QString importedBeforeText(const QString &file, const QString &database)
{
    return QStringLiteral("Soubor\n„%1“\nuž byl převeden do databáze\n„%2“.").arg(file, database);
}
inline const QStringList ImportedBeforeChoices{QStringLiteral("Použít ji"), QStringLiteral("Převést znovu"),
                                               QStringLiteral("Zrušit")};
// The open-file dialog of "…".
inline const QString OpenTitle = QStringLiteral("Vyber zdroj dat");
inline const QString OpenFilter = QStringLiteral("Databáze a slovníky|*.mdb;*.accdb;*.tsv;*.tab;*.csv;*.txt;*.index;*.ifo|"
                                                 "Databáze MS Access|*.mdb;*.accdb|"
                                                 "Seznamy slov (TSV, CSV)|*.tsv;*.tab;*.csv;*.txt|"
                                                 "Slovníky dictd|*.index|"
                                                 "Slovníky StarDict|*.ifo|");
// Tool tips of the toolbar's actions.
inline const QString ToolTipNew = QStringLiteral("Nová položka");
inline const QString ToolTipDelete = QStringLiteral("Smazat položku");
inline const QString ToolTipMoveDown = QStringLiteral("Posun dolů");
inline const QString ToolTipMoveUp = QStringLiteral("Posun nahoru");
} // namespace editortext

class CatalogueList
{
public:
    // The toolbar's actions, in the toolbar's order.
    enum class Action { New, Delete, MoveDown, MoveUp };
    static constexpr std::array<Action, 4> Actions{Action::New, Action::Delete, Action::MoveDown, Action::MoveUp};

    struct Line
    {
        QString caption;
        bool checked = false;
    };

    explicit CatalogueList(CatalogueListView &view);

    // Opening the editor: the catalogue and the position to select first (as
    // load_tables gives them). An empty catalogue gets its first entry at once,
    // as New makes it (and loses it again on closing if nobody touched it).
    // Fills the pane once.
    void start(QVector<DataSource> sources, int selected);
    void load(const SettingsStore &store);

    // --- the list ---
    // The user clicked line k (also the line already selected).
    void lineClicked(int k);
    // The user ticked or cleared line k's box; that selects line k too.
    void lineToggled(int k, bool checked);

    // --- the toolbar ---
    // A toolbar action, by button or key; a disabled one does nothing.
    void press(Action a);
    // The actions; each does nothing while its button is disabled.
    void new_item();
    void delete_item();
    void move_item_down();
    void move_item_up();

    // --- the property pane, for the entry at the selected line ---
    // Every change of the title editor's text, the user's or fill_data's.
    void editTitle(const QString &text);
    // A value chosen in a choice box: text for the table, input field and
    // output field rows, a character-set number for the two charset rows.
    // False, and nothing stored, for any other row.
    bool kontrolaID(int row, const QString &text);
    bool kontrolaID(int row, uint8_t charset);
    // The table row's choice, before kontrolaID(TableRow, name): a different table (names
    // compared in any letter case) empties the input and output fields; true
    // when it did, and the window then opens the database for that table.
    bool tableChosen(const QString &name);
    // The browse command chose a database: a new file, no table yet. The
    // window then calls fill_data for the selected line itself.
    void databaseChosen(const QString &path);
    // A dictionary file was imported for the selected entry: its database,
    // table and fields, and its title while the entry has none of the user's.
    void sourceImported(const DataSource &made);
    // check_data opened the entry's database.
    void databaseOpened();

    // --- closing ---
    // Asked before the window closes, for every reason. On an entry without
    // a database the user is asked (the refusal, then whether to drop it):
    // Yes drops it and closes, No stays. The entry the editor made for an
    // empty catalogue goes without a word while nobody has touched it.
    bool closeRequested();
    // The whole close: closeRequested(), then the save, asking after each
    // failed one. True when the window may go (saved, or left unsaved by the
    // user's own choice).
    bool close(SettingsStore &store);
    // Writes the catalogue and the selected entry as the active source, and
    // syncs the store, replacing a file it could not read (the catalogue the
    // user sees is the one to keep). False with *error set when the write
    // failed: the file is then unchanged and the working copy still here.
    bool save(SettingsStore &store, QString *error) const;

    // --- state for the window ---
    const QVector<DataSource> &sources() const { return m_sources; }
    const QVector<Line> &lines() const { return m_lines; }
    // Grows each time the list is rebuilt: the window then rebuilds its lines
    // instead of updating captions and boxes in place.
    int generation() const { return m_generation; }
    int selectedLine() const { return m_selected; }
    int currentIndex() const { return m_current; }
    int refusedMoves() const { return m_refusedMoves; }
    bool isEnabled(Action a) const;
    // The catalogue was empty and its one entry, New's, is still untouched.
    bool untouchedFirstEntry() const;

private:
    static bool complete(const DataSource &s) { return !s.File.isEmpty(); }
    // Takes the selected entry out, leaving the selection where it was (on
    // the entry after it, or the new last one); the pane is filled again
    // unless the window is closing (the next entry's messages would follow).
    void removeSelected(bool fillPane = true);
    bool valid(int i) const { return i >= 0 && i < m_sources.size(); }
    int count() const { return int(m_sources.size()); }
    void setEnabled(Action a, bool on);
    void setMoves(int at);
    void FillListBox();
    void selectLine(int k); // by the program: runs nothing on the selected line
    void selectionChanged(int k);
    // Line i becomes selected and current, as selecting the current line does.
    void settleOn(int i);
    void moveSelected(int by);

    CatalogueListView &m_view;
    QVector<DataSource> m_sources;
    QVector<Line> m_lines;
    int m_generation = 0;
    int m_selected = -1;
    int m_current = 0;
    int m_refusedMoves = 0;
    bool m_madeFirstEntry = false; // start() found the catalogue empty
    std::array<bool, Actions.size()> m_enabled{true, true, true, true}; // by Action
};

} // namespace tarnvik
