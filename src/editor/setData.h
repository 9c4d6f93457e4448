// The data-source editor: the catalogue list with its toolbar, a seven-row
// property pane with in-place editors, and the description of the row in use.
// What it all means is CatalogueEditor's; this window shows its state and
// turns the user's input into its calls. Shown modally by the lookup window.
#pragma once

#include "catalogue/SettingsStore.h"
#include "editor/CatalogueEditor.h"
#include "editor/CatalogueListWidget.h"

#include <QDialog>
#include <QElapsedTimer>
#include <functional>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QStatusBar;
class QTableWidget;
class QToolBar;
class QToolButton;

namespace tarnvik {

class setData : public QDialog, private EditorView
{
    Q_OBJECT
public:
    // 'memory' outlives the window: the next opening in this run starts from it.
    setData(SettingsStore &store, EditorMemory &memory, QWidget *parent = nullptr);
    ~setData() override;

    const CatalogueList &catalogue() const { return m_editor.list(); }
    const CatalogueEditor &editor() const { return m_editor; }
    QAction *button(CatalogueList::Action a) const { return m_buttons[size_t(a)]; }
    QListWidget *list() const { return List; }
    QTableWidget *grid(int i) const { return m_grid[i]; }
    QLineEdit *titleEditor() const { return Text; }
    QToolButton *browseButton() const { return cmdBrowse; }
    QComboBox *combo(int row) const { return m_combo[row]; }
    QString head() const;
    QString description() const;
    // The session ends: the catalogue is saved as it stands, an entry still
    // without a database included, since nobody is left to finish it.
    bool saveForSessionEnd() { return m_editor.saveForSessionEnd(); }
    int currentRow() const { return m_currentRow; }

    // What the value column shows in row 'row'.
    QString valueCell(int row) const;

    // The in-place editor of 'row' opens (show) or closes over its value cell.
    void SwapControls(int row, bool show);
    void fill_desc(int row);

    void done(int result) override;
    // Reads the catalogue into the window; runs once the window is shown.
    void load_settings();
    // Run once the catalogue is read. Opened to add a first dictionary: on
    // an empty catalogue the open-file dialog comes up at once for the entry
    // the editor makes. Opened by a drop: the files are added.
    void browseOnOpen();
    void addOnOpen(const QStringList &files);
    // Dictionary files dropped on the list (or the strip).
    void addDictionaries(const QStringList &files);
    // Still loading, or reading a database: the user's input waits.
    bool busy() const { return !m_editor.loaded() || m_editor.reading(); }

protected:
    void resizeEvent(QResizeEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // EditorView
    void showInformation(const QString &title, const QString &text) override;
    bool askYesNo(const QString &title, const QString &text) override;
    void critical(const QString &text) override;
    AfterFailedSave saveFailed(const QString &error) override;
    QString chooseDatabase(const QString &folder) override;
    std::optional<DataSource> earlierImport(const QString &file) override;
    std::optional<DataSource> importDictionary(const QString &file) override;
    Earlier askAboutEarlier(const QString &file, const QString &database) override;
    std::optional<QStringList> readTables(const QString &file, QString *error) override;
    std::optional<QStringList> readFields(const QString &file, const QString &table, QString *error) override;

    void buildControls();
    // Shows the editor's state: the list, the toolbar and the pane.
    void refresh();
    void showPane();
    // The list or the pane, whichever has the keys, shows its highlight in
    // full; the other one only faintly.
    void showFocus();
    void layoutWindow();
    void setValueCell(int row, const QString &text);
    // The user opens the editor of 'row' (a click, F2, Enter): it takes the keys.
    void openEditor(int row);
    // The keys back to the rows, without the editor.
    void backToRows();
    QWidget *editorFor(int row) const;
    void cmdBrowse_Click();
    // Runs a read of the database on a worker while the window goes on
    // painting (a file that makes the reader loop takes seconds).
    template <typename Read>
    auto whileReading(Read read) -> decltype(read());
    bool closeRequest();

    CatalogueEditor m_editor;
    QToolBar *Toolbar = nullptr;
    std::array<QAction *, CatalogueList::Actions.size()> m_buttons{};
    CatalogueListWidget *List = nullptr;
    QWidget *pic = nullptr;
    QTableWidget *m_grid[2] = {};
    QLineEdit *Text = nullptr;
    QToolButton *cmdBrowse = nullptr;
    QComboBox *m_combo[PropertyRows] = {}; // from TableRow on
    QStatusBar *Status = nullptr;
    QWidget *Desc = nullptr;
    QLabel *lblHead = nullptr, *lblDesc = nullptr;
    int m_currentRow = -1; // no row yet: TitleRow
    bool m_editorShown = true; // the current row's editor is up (the title's at the start)
    int m_shownPane = -1;
    QElapsedTimer m_listClosed; // since a choice's list last hid
    std::function<void()> m_onOpen;
    QMetaObject::Connection m_focusWatch;
};

} // namespace tarnvik
