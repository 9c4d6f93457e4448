#include "CatalogueList.h"

#include "catalogue/SettingsStore.h"

namespace tarnvik {

namespace {

DataSource newEntry()
{
    DataSource e;
    e.Title = editortext::NewTitle;
    e.CharsetIn = 238;
    e.CharsetOut = 238;
    e.Visible = true;
    return e;
}

} // namespace

CatalogueList::CatalogueList(CatalogueListView &view)
    : m_view(view)
{
}

bool CatalogueList::isEnabled(Action a) const
{
    // An entry never given a database can always go, the last one too: the
    // user must never be held in the editor by an entry they cannot finish.
    if (a == Action::Delete && valid(m_selected) && !complete(m_sources[m_selected]))
        return true;
    return m_enabled[size_t(a)];
}

void CatalogueList::setEnabled(Action a, bool on)
{
    m_enabled[size_t(a)] = on;
}

void CatalogueList::setMoves(int at)
{
    setEnabled(Action::MoveDown, at != count() - 1);
    setEnabled(Action::MoveUp, at != 0);
}

void CatalogueList::load(const SettingsStore &store)
{
    QVector<DataSource> sources;
    int selected = -1;
    load_tables(store, sources, selected);
    start(std::move(sources), selected);
}

void CatalogueList::start(QVector<DataSource> sources, int selected)
{
    m_sources = std::move(sources);
    m_refusedMoves = 0;
    m_enabled = {true, true, true, true};
    // A first entry to fill in, as New makes it.
    m_madeFirstEntry = m_sources.isEmpty();
    if (m_madeFirstEntry)
        m_sources.push_back(newEntry());
    if (!valid(selected))
        selected = 0;
    FillListBox();
    settleOn(selected);
    setEnabled(Action::Delete, count() >= 2);
    setEnabled(Action::New, complete(m_sources[selected]) && count() < MaxCatalogueEntries);
    m_view.fill_data(selected);
}

void CatalogueList::FillListBox()
{
    m_lines.clear();
    m_lines.reserve(m_sources.size());
    for (int i = 0; i < count(); ++i) {
        m_lines.push_back({m_sources[i].Title, m_sources[i].Visible});
        if (m_sources[i].Visible)
            m_current = i;
    }
    m_selected = -1;
    ++m_generation;
}

void CatalogueList::settleOn(int i)
{
    m_current = i;
    m_selected = i;
    m_sources[i].Visible = m_lines[i].checked;
    if (!complete(m_sources[i]))
        setEnabled(Action::New, false);
    setMoves(i);
}

void CatalogueList::selectLine(int k)
{
    if (k == m_selected || !valid(k))
        return;
    m_selected = k;
    selectionChanged(k);
}

void CatalogueList::selectionChanged(int k)
{
    Q_ASSERT(valid(k) && valid(m_current));
    if (complete(m_sources[m_current])) {
        if (k != m_current) {
            m_refusedMoves = 0;
            // Current before the pane is filled: its callbacks see the new entry.
            m_current = k;
            m_view.fill_data(k);
        }
        m_sources[k].Visible = m_lines[k].checked;
        setMoves(k);
        return;
    }
    // The entry has no database yet: the user stays on it.
    const int at = m_current;
    m_selected = at;
    m_view.fill_data(at);
    if (k != at && ++m_refusedMoves > 1)
        m_view.showInformation(editortext::RefusalTitle, editortext::MoveRefused);
    m_sources[k].Visible = m_lines[k].checked;
    setEnabled(Action::New, false);
    setMoves(at);
}

void CatalogueList::lineClicked(int k)
{
    if (!valid(k))
        return;
    m_selected = k;
    selectionChanged(k);
}

void CatalogueList::lineToggled(int k, bool checked)
{
    if (!valid(k))
        return;
    m_lines[k].checked = checked;
    m_selected = k;
    selectionChanged(k);
}

void CatalogueList::press(Action a)
{
    switch (a) {
    case Action::New: new_item(); break;
    case Action::Delete: delete_item(); break;
    case Action::MoveDown: move_item_down(); break;
    case Action::MoveUp: move_item_up(); break;
    }
}

void CatalogueList::new_item()
{
    if (!isEnabled(Action::New) || count() >= MaxCatalogueEntries)
        return;
    m_sources.push_back(newEntry());
    setEnabled(Action::Delete, count() >= 2);
    const int s = valid(m_selected) ? m_selected : count() - 1;
    // The new entry is visible and last, so it becomes current; going back to
    // s is then the silent first refusal, which leaves the new entry selected.
    FillListBox();
    selectLine(s);
}

void CatalogueList::delete_item()
{
    if (!isEnabled(Action::Delete) || !valid(m_selected))
        return;
    const int s = m_selected;
    if (!m_view.askYesNo(editortext::DeleteTitle, editortext::deleteQuestion(m_sources[s].Title))) {
        m_view.fill_data(s);
        return;
    }
    removeSelected();
}

void CatalogueList::removeSelected(bool fillPane)
{
    const int s = m_selected;
    m_sources.removeAt(s);
    m_refusedMoves = 0;
    setEnabled(Action::New, true);
    FillListBox();
    if (m_sources.isEmpty()) {
        m_current = 0;
        for (Action a : {Action::Delete, Action::MoveDown, Action::MoveUp})
            setEnabled(a, false);
        if (fillPane)
            m_view.fill_data(-1);
        return;
    }
    // Rebuilding the list makes the last visible entry current, which may be
    // past the end or an entry without a database elsewhere in the list; the
    // entry now at the deleted position is the one the user is on.
    const int t = s < count() ? s : s - 1;
    settleOn(t);
    if (fillPane)
        m_view.fill_data(t);
    if (count() == 1) {
        setEnabled(Action::Delete, false);
        setEnabled(Action::MoveDown, false);
        setEnabled(Action::MoveUp, false);
    }
}

void CatalogueList::moveSelected(int by)
{
    const int s = m_selected;
    const int to = s + by;
    if (!valid(s) || !valid(to))
        return;
    m_sources.swapItemsAt(s, to);
    FillListBox();
    settleOn(to);
    if (!complete(m_sources[to]))
        m_view.fill_data(to);
}

void CatalogueList::move_item_down()
{
    if (isEnabled(Action::MoveDown))
        moveSelected(+1);
}

void CatalogueList::move_item_up()
{
    if (isEnabled(Action::MoveUp))
        moveSelected(-1);
}

void CatalogueList::editTitle(const QString &text)
{
    if (!valid(m_selected))
        return;
    m_sources[m_selected].Title = text;
    m_lines[m_selected].caption = text;
}

bool CatalogueList::kontrolaID(int row, const QString &text)
{
    if (!valid(m_selected))
        return false;
    DataSource &e = m_sources[m_selected];
    switch (row) {
    case TableRow: e.Name = text; return true;
    case InputFieldRow: e.In = text; return true;
    case OutputFieldRow: e.Out = text; return true;
    default: return false;
    }
}

bool CatalogueList::kontrolaID(int row, uint8_t charset)
{
    if (!valid(m_selected))
        return false;
    DataSource &e = m_sources[m_selected];
    switch (row) {
    case InputCharsetRow: e.CharsetIn = charset; return true;
    case OutputCharsetRow: e.CharsetOut = charset; return true;
    default: return false;
    }
}

bool CatalogueList::tableChosen(const QString &name)
{
    // Names match in any letter case, as the reader finds them: the same
    // table spelled otherwise keeps its fields.
    if (!valid(m_selected) || name.compare(m_sources[m_selected].Name, Qt::CaseInsensitive) == 0)
        return false;
    m_sources[m_selected].In.clear();
    m_sources[m_selected].Out.clear();
    return true;
}

void CatalogueList::databaseChosen(const QString &path)
{
    if (!valid(m_selected) || path.isEmpty())
        return;
    m_sources[m_selected].File = path;
    m_sources[m_selected].Name.clear();
}

void CatalogueList::sourceImported(const DataSource &made)
{
    if (!valid(m_selected))
        return;
    DataSource &e = m_sources[m_selected];
    e.File = made.File;
    e.Name = made.Name;
    e.In = made.In;
    e.Out = made.Out;
    if (e.Title.isEmpty() || e.Title == editortext::NewTitle)
        editTitle(made.Title);
}

void CatalogueList::databaseOpened()
{
    m_refusedMoves = 0;
    setEnabled(Action::New, count() < MaxCatalogueEntries);
}

bool CatalogueList::untouchedFirstEntry() const
{
    return m_madeFirstEntry && count() == 1 && m_sources[0] == newEntry();
}

bool CatalogueList::closeRequested()
{
    if (!valid(m_selected) || complete(m_sources[m_selected]))
        return true;
    if (!untouchedFirstEntry()
        && !m_view.askYesNo(editortext::RefusalTitle, editortext::CloseRefused + QStringLiteral("\n\n")
                                                          + editortext::dropQuestion(m_sources[m_selected].Title)))
        return false;
    removeSelected(false);
    return true;
}

bool CatalogueList::close(SettingsStore &store)
{
    const qsizetype before = m_sources.size();
    if (!closeRequested())
        return false;
    for (;;) {
        QString error;
        if (save(store, &error))
            return true;
        switch (m_view.saveFailed(error)) {
        case CatalogueListView::AfterFailedSave::Retry:
            continue;
        case CatalogueListView::AfterFailedSave::Discard:
            store.reload(); // nothing of it is written later by anyone else
            return true;
        case CatalogueListView::AfterFailedSave::Stay:
            // An entry dropped on the way out is gone; the pane shows where the user is now.
            if (m_sources.size() != before)
                m_view.fill_data(valid(m_selected) ? m_selected : -1);
            return false;
        }
    }
}

bool CatalogueList::save(SettingsStore &store, QString *error) const
{
    save_tables(store, m_sources, m_selected);
    return store.sync(error, true);
}

} // namespace tarnvik
