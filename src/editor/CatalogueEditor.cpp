#include "CatalogueEditor.h"

#include "catalogue/SettingsStore.h"
#include "editor/Charsets.h"
#include "db/write/Formats.h"
#include "editor/Verify.h"

#include <QDir>
#include <QFileInfo>

namespace tarnvik {

CatalogueEditor::CatalogueEditor(SettingsStore &store, EditorMemory &memory, EditorView &view)
    : m_store(store), m_memory(memory), m_view(view)
{
}

void CatalogueEditor::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    m_store.reload();
    m_list.load(m_store); // selects the first entry and fills the pane
}

void CatalogueEditor::typeTitle(const QString &text)
{
    row(TitleRow).value = text;
    m_list.editTitle(text);
}

bool CatalogueEditor::restoreTitle()
{
    if (row(TitleRow).value == m_titleBefore)
        return false;
    typeTitle(m_titleBefore);
    ++m_pane.generation;
    return true;
}

void CatalogueEditor::choose(int r, int position)
{
    if (r < TableRow || r >= PropertyRows || position < 0 || position >= row(r).items.size())
        return;
    row(r).current = position;
    chosen(r, true);
}

void CatalogueEditor::setItems(int r, const QStringList &items)
{
    row(r).items = items;
    row(r).current = -1;
}

void CatalogueEditor::select(int r, int position)
{
    row(r).current = position;
    chosen(r, false);
}

void CatalogueEditor::chosen(int r, bool byUser)
{
    const PaneRow &box = row(r);
    const int i = m_list.selectedLine();
    if (i < 0 || box.current < 0)
        return;
    const QString s = box.items[box.current];
    if (r == TableRow && m_list.tableChosen(s)) {
        row(TableRow).value = s;
        m_list.kontrolaID(TableRow, s);
        check_data(i, s);
        enableChoices(true);
        return;
    }
    row(r).value = s;
    if (r == InputCharsetRow || r == OutputCharsetRow) {
        // What the pane shows of the entry is the entry's already.
        if (byUser) {
            const bool unnamed = box.current >= charsetNames().size();
            m_list.kontrolaID(r, unnamed ? m_unnamed[size_t(r)] : charset_map(box.current));
        }
        return;
    }
    // The pane selects the stored name as the database spells it; the stored
    // spelling stays unless the user picks, or there was none.
    const DataSource &e = m_list.sources()[i];
    const QString &stored = r == TableRow ? e.Name : r == InputFieldRow ? e.In : e.Out;
    if (byUser || stored.isEmpty())
        m_list.kontrolaID(r, s);
}

void CatalogueEditor::showCharset(int r, uint8_t number)
{
    QStringList items = charsetNames();
    int position = charset_map(number, 1);
    // A number no name stands for is shown as it is, and kept.
    if (charset_map(position) != number) {
        position = int(items.size());
        items << QStringLiteral("znaková sada %1").arg(number);
        m_unnamed[size_t(r)] = number;
    }
    setItems(r, items);
    select(r, position);
}

void CatalogueEditor::enableChoices(bool on)
{
    for (int r : {TableRow, InputFieldRow, OutputFieldRow})
        row(r).enabled = on;
}

void CatalogueEditor::fill_data(int index)
{
    for (int r : {TableRow, InputFieldRow, OutputFieldRow})
        setItems(r, {});
    ++m_pane.generation;
    const bool any = index >= 0 && index < m_list.sources().size();
    for (int r : {TitleRow, DatabaseRow, InputCharsetRow, OutputCharsetRow})
        row(r).enabled = any;
    if (!any) {
        // No entry left: an empty pane until New.
        for (PaneRow &r : m_pane.rows)
            r.value.clear();
        enableChoices(false);
        markMissingFile(QString());
        keepTitle();
        return;
    }
    const DataSource s = m_list.sources()[index];
    row(TitleRow).value = s.Title;
    keepTitle();
    showCharset(InputCharsetRow, s.CharsetIn);
    showCharset(OutputCharsetRow, s.CharsetOut);
    row(DatabaseRow).value = s.File;
    // The entry's own names until its database says otherwise: never the
    // previous entry's, when the database cannot be read.
    row(TableRow).value = s.Name;
    row(InputFieldRow).value = s.In;
    row(OutputFieldRow).value = s.Out;
    const bool exists = !s.File.isEmpty() && QFileInfo::exists(s.File);
    // A file gone is said, with the names the entry still holds.
    markMissingFile(exists || s.File.isEmpty() ? QString() : s.File);
    if (exists) {
        check_data(index);
        enableChoices(true);
    } else {
        enableChoices(false);
    }
}

void CatalogueEditor::markMissingFile(const QString &file)
{
    const QString path = QDir::toNativeSeparators(m_list.sources().value(m_list.selectedLine()).File);
    m_pane.fileMissing = !file.isEmpty();
    if (!m_pane.fileMissing) {
        m_pane.fileTip = path;
        return;
    }
    row(DatabaseRow).value = file + QStringLiteral(" (soubor nenalezen)");
    m_pane.fileTip = QStringLiteral("Databáze „%1“ nebyla nalezena.").arg(path);
}

std::optional<QStringList> CatalogueEditor::tables(const QString &file)
{
    QString error;
    ++m_reading;
    const auto tables = m_view.readTables(file, &error);
    --m_reading;
    if (!tables)
        m_view.critical(error);
    return tables;
}

void CatalogueEditor::check_data(int id)
{
    const auto tables = this->tables(m_list.sources()[id].File);
    if (!tables)
        return;
    m_list.databaseOpened();
    setItems(TableRow, *tables);
    if (tables->isEmpty())
        return m_view.critical(QStringLiteral("K dispozici nejsou žádné tabulky!"));
    const QString table = m_list.sources()[id].Name;
    const int at = findName(*tables, table);
    // Nothing chosen when it is not there: showing the first table would pass
    // it for the stored one.
    if (!table.isEmpty() && at < 0)
        return m_view.critical(QStringLiteral("Tabulka '%1' nebyla nalezena!").arg(table));
    select(TableRow, table.isEmpty() ? 0 : at);
    if (row(InputFieldRow).items.isEmpty()) // a change of table has listed the fields already
        listFields(id, m_list.sources()[id].Name);
}

bool CatalogueEditor::listFields(int id, const QString &table)
{
    QString error;
    ++m_reading;
    const auto fields = m_view.readFields(m_list.sources()[id].File, table, &error);
    --m_reading;
    if (!fields) {
        m_view.critical(error);
        return false;
    }
    for (int r : {InputFieldRow, OutputFieldRow})
        setItems(r, *fields);
    for (int r : {InputFieldRow, OutputFieldRow}) {
        const DataSource &s = m_list.sources()[id];
        const QString stored = r == InputFieldRow ? s.In : s.Out;
        const int at = findName(*fields, stored);
        // Not there: this box and those after it show no choice till the user makes one.
        if (!stored.isEmpty() && at < 0) {
            m_view.critical(QStringLiteral("Položka '%1' nebyla nalezena!").arg(stored));
            return false;
        }
        if (!fields->isEmpty())
            select(r, stored.isEmpty() ? 0 : at);
    }
    return true;
}

void CatalogueEditor::check_data(int id, const QString &table)
{
    if (!tables(m_list.sources()[id].File))
        return;
    m_list.databaseOpened();
    // The new table's fields, the first one for both: the source can be used at once.
    listFields(id, table);
}

bool CatalogueEditor::browse()
{
    // The entry's folder; for an entry without a database, the folder of the
    // one last chosen, then the home folder (never the program's own).
    const DataSource entry = m_list.sources().value(m_list.selectedLine());
    const QString folder = !entry.File.isEmpty()         ? QFileInfo(entry.File).absolutePath()
                           : !m_memory.lastFolder.isEmpty() ? m_memory.lastFolder
                                                            : QDir::homePath();
    const QString path = m_view.chooseDatabase(folder);
    if (path.isEmpty())
        return false;
    if (!mkdb::formatOf(path).isEmpty()) {
        const std::optional<DataSource> made = imported(path);
        if (made)
            takeImport(path, *made);
        return made.has_value();
    }
    // A file that is no database the reader can use is not taken: the entry
    // keeps the database it had.
    if (!tables(path))
        return false;
    m_memory.lastFolder = QFileInfo(path).absolutePath();
    m_list.databaseChosen(path);
    fill_data(m_list.selectedLine());
    return true;
}

std::optional<DataSource> CatalogueEditor::imported(const QString &file)
{
    ++m_reading;
    std::optional<DataSource> made = m_view.earlierImport(file);
    const EditorView::Earlier choice = made ? m_view.askAboutEarlier(file, made->File) : EditorView::Earlier::ImportAgain;
    if (choice == EditorView::Earlier::Cancel)
        made.reset();
    else if (choice == EditorView::Earlier::ImportAgain)
        made = m_view.importDictionary(file);
    --m_reading;
    return made;
}

void CatalogueEditor::takeImport(const QString &file, const DataSource &made)
{
    m_memory.lastFolder = QFileInfo(file).absolutePath();
    m_list.sourceImported(made);
    fill_data(m_list.selectedLine());
}

bool CatalogueEditor::addDictionary(const QString &file)
{
    if (mkdb::formatOf(file).isEmpty() || !m_loaded || m_reading > 0)
        return false;
    const bool fillSelected = m_list.sources().value(m_list.selectedLine()).File.isEmpty()
                              && m_list.selectedLine() >= 0;
    if (!fillSelected && !m_list.isEnabled(Action::New))
        return false;
    const std::optional<DataSource> made = imported(file);
    if (!made)
        return false;
    if (!fillSelected)
        m_list.press(Action::New);
    takeImport(file, *made);
    return true;
}

bool CatalogueEditor::closeRequest()
{
    // Closed before the catalogue was loaded: nothing to save, and an empty
    // list must never be written over it.
    if (m_saved || !m_loaded || m_sessionEnded)
        return true;
    // Not in the middle of reading a database (the window manager's close
    // is no user input, and comes through while the window paints).
    if (m_reading > 0 || !m_list.close(m_store))
        return false;
    m_saved = true;
    return true;
}

bool CatalogueEditor::saveForSessionEnd()
{
    if (m_saved || !m_loaded)
        return true;
    m_sessionEnded = true;
    // The entry made for a newcomer and never touched is nobody's to keep.
    if (m_list.untouchedFirstEntry())
        m_list.closeRequested();
    QString error;
    if (!m_list.save(m_store, &error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    m_saved = true;
    return true;
}

} // namespace tarnvik
