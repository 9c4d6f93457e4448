// The data-source editor: the catalogue list with its toolbar, a seven-row
// property pane with in-place editors, and the description of the row in use.
// The list's logic is CatalogueList's; this window shows its state and turns
// the user's input into its calls. Shown modally by the lookup window.
#pragma once

#include "catalogue/SettingsStore.h"
#include "editor/CatalogueList.h"
#include "editor/EditorLayout.h"

#include <QDialog>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QStatusBar;
class QTableWidget;
class QToolBar;
class QToolButton;

namespace tarnvik {

class setData : public QDialog, private CatalogueListView
{
    Q_OBJECT
public:
    explicit setData(SettingsStore &store, QWidget *parent = nullptr);
    ~setData() override;

    const CatalogueList &catalogue() const { return m_list; }
    // The toolbar's button by its 1-based index (3 is the separator).
    QAction *button(int index) const;
    QListWidget *list() const { return List; }
    QTableWidget *grid(int i) const { return m_grid[i]; }
    QLineEdit *titleEditor() const { return Text; }
    QToolButton *browseButton() const { return cmdBrowse; }
    QComboBox *combo(int row) const { return m_combo[row]; }
    QString head() const;
    QString description() const;
    // The session ends: the catalogue is saved as it stands, an entry still
    // without a database included, since nobody is left to finish it.
    bool saveForSessionEnd();
    int currentRow() const { return m_currentRow; }

    // What the value column shows in row 'row'.
    QString valueCell(int row) const;

    // The in-place editor of 'row' opens (show) or closes over its value cell.
    void SwapControls(int row, bool show);
    void fill_desc(int row);

    void done(int result) override;
    // Reads the catalogue into the window; runs once the window is shown.
    void load_settings();
    // Still loading, or reading a database: the user's input waits.
    bool busy() const { return !m_loaded || m_reading > 0; }

protected:
    void resizeEvent(QResizeEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // CatalogueListView
    void fill_data(int index) override;
    void showInformation(const QString &title, const QString &text) override;
    bool askYesNo(const QString &title, const QString &text) override;
    AfterFailedSave saveFailed(const QString &error) override;

    void buildControls();
    void showList();
    // The list or the pane, whichever has the keys, shows its highlight in
    // full; the other one only faintly.
    void showFocus();
    void layoutWindow();
    void setValueCell(int row, const QString &text);
    // Sets a value from code and runs the same handling as the user's input.
    void setTitle(const QString &text);
    void selectCombo(int row, int position);
    // The box shows no choice, and nothing is stored.
    void clearChoice(int row);
    // The charset rows: the name of the entry's number, or the number itself.
    void showCharset(int row, uint8_t number);
    // The database row says the entry's database is gone ('file' empty: it is not).
    void markMissingFile(const QString &file);
    // The user opens the editor of 'row' (a click, F2, Enter): it takes the keys.
    void openEditor(int row);
    QWidget *editorFor(int row) const;
    static QSize &lastSize();
    void Text_Change(const QString &text);
    // A choice by the user, or by the pane showing the entry (byUser false),
    // which stores only what the entry lacks.
    void combo_Click(int row, bool byUser);
    void cmdBrowse_Click();
    // Lists the tables and fields of entry 'id''s database and selects its names.
    void check_data(int id);
    // Open-only: the user chose 'table'; its fields are listed and the first
    // one chosen for both fields.
    void check_data(int id, const QString &table);
    bool listFields(int id, const QString &table);
    // Runs a read of the database on a worker while the window goes on
    // painting (a file that makes the reader loop takes seconds).
    template <typename Read>
    auto whileReading(Read read) -> decltype(read());
    void critical(const QString &text);
    // Both editors' enabled state for the table and field boxes.
    void enableChoices(bool on);
    bool closeRequest();

    SettingsStore &m_store;
    CatalogueList m_list;
    QToolBar *Toolbar = nullptr;
    QAction *m_buttons[6] = {};
    QListWidget *List = nullptr;
    QWidget *pic = nullptr;
    QTableWidget *m_grid[2] = {};
    QLineEdit *Text = nullptr;
    QToolButton *cmdBrowse = nullptr;
    QComboBox *m_combo[editordesign::Rows] = {}; // from TableRow on
    QStatusBar *Status = nullptr;
    QWidget *Desc = nullptr;
    QLabel *lblHead = nullptr, *lblDesc = nullptr;
    int m_currentRow = -1; // no row yet: TitleRow
    int m_shownGeneration = -1;
    bool m_loaded = false, m_saved = false;
    // The session's end has saved what it could: nobody is left to answer.
    bool m_sessionEnded = false;
    int m_reading = 0;
    QString m_titleBefore; // the title when its editor opened: Escape goes back to it
    QMetaObject::Connection m_focusWatch;
};

} // namespace tarnvik
