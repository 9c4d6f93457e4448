#include "setData.h"

#include "editor/Charsets.h"
#include "editor/EditorLayout.h"
#include "editor/Verify.h"
#include "platform/Metrics.h"
#include "platform/MessageBox.h"
#include "platform/OpenSave.h"
#include "widgets/PathDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QToolBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <future>

static void initEditorResources()
{
    Q_INIT_RESOURCE(tarnvik);
}

namespace tarnvik {

namespace {

const QString kTitle = QStringLiteral("Tarnvik");

struct RowText
{
    const char *caption, *help;
};
const RowText kRows[editordesign::Rows] = {
    {"Popisek v nabídce", "Text, který se bude zobrazovat v menu."},
    {"Zdrojová databáze", "Jméno a umístění databáze, z níž se budou načítat data."},
    {"Název tabulky", "Název tabulky v databázi."},
    {"Vstupní hodnoty", "Pole v dané tabulce, které bude tzv. vstupní (bude na něj aplikována výběrová maska)."},
    {"Vstupní kódování", "Znaková sada, ve které se bude zobrazovat vstupní pole."},
    {"Výstupní hodnoty", "Pole, které je přiřazeno vstupní hodnotě."},
    {"Výstupní kódování", "Znaková sada, ve které se bude zobrazovat výstupní pole."},
};

QFont editorFont(bool bold = false)
{
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSizeF(8.25);
    f.setBold(bold);
    return wholeMarks(f);
}

// Our own pictures where the desktop's icon theme has none.
QIcon themed(const char *name)
{
    return QIcon::fromTheme(QLatin1String(name), QIcon(QStringLiteral(":/tarnvik/%1.svg").arg(QLatin1String(name))));
}

} // namespace

setData::setData(SettingsStore &store, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_store(store), m_list(*this)
{
    initEditorResources();
    setObjectName(QStringLiteral("setData"));
    setWindowTitle(QStringLiteral("Správa datových zdrojů"));
    setSizeGripEnabled(false);
    // Window load, in order.
    InitMetrics();
    buildControls();
    for (int r = 0; r < editordesign::Rows; ++r)
        m_grid[0]->setItem(r, 0, new QTableWidgetItem(QString::fromUtf8(kRows[r].caption)));
    load_charset(m_combo[InputCharsetRow]);
    load_charset(m_combo[OutputCharsetRow]);
    fill_desc(TitleRow);
    const Metrics &m = metrics();
    const QSize designed(m.toPixelsX(editordesign::ClientWidth), m.toPixelsY(editordesign::ClientHeight));
    resize(lastSize().isValid() ? lastSize() : designed);
}

QSize &setData::lastSize()
{
    // The size the user gave the editor, for its next opening in this run.
    static QSize size;
    return size;
}

void setData::buildControls()
{
    Toolbar = new QToolBar(this);
    Toolbar->setObjectName(QStringLiteral("Toolbar"));
    Toolbar->setIconSize(QSize(16, 16));
    const struct
    {
        int index;
        const char *icon;
        QString tip;
        const char *keyName;
        QList<QKeySequence> keys;
    } buttons[] = {
        {CatalogueList::New, "document-new", editortext::ToolTipNew, "Insert", {Qt::Key_Insert, QKeySequence::New}},
        {CatalogueList::Delete, "edit-delete", editortext::ToolTipDelete, "Delete", {QKeySequence::Delete}},
        {CatalogueList::MoveDown, "go-down", editortext::ToolTipMoveDown, "Alt+↓", {Qt::ALT | Qt::Key_Down}},
        {CatalogueList::MoveUp, "go-up", editortext::ToolTipMoveUp, "Alt+↑", {Qt::ALT | Qt::Key_Up}}};
    for (const auto &b : buttons) {
        if (b.index == CatalogueList::MoveDown)
            Toolbar->addSeparator();
        QAction *a = Toolbar->addAction(themed(b.icon), b.tip);
        a->setToolTip(QStringLiteral("%1 (%2)").arg(b.tip, QString::fromUtf8(b.keyName)));
        a->setShortcuts(b.keys);
        // Delete and the moves act on the list: in the title editor Delete
        // deletes a letter, in a choice box Alt+Down opens it.
        a->setShortcutContext(b.index == CatalogueList::New ? Qt::WindowShortcut : Qt::WidgetShortcut);
        const int index = b.index;
        connect(a, &QAction::triggered, this, [this, index] {
            m_list.toolbarClicked(index);
            showList();
        });
        m_buttons[index] = a;
    }

    List = new QListWidget(this);
    List->setObjectName(QStringLiteral("List"));
    List->setFont(editorFont());
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int a : {CatalogueList::Delete, CatalogueList::MoveDown, CatalogueList::MoveUp})
        List->addAction(m_buttons[a]);
    // Every way the highlight moves (keys, type-ahead, a drag) is the list's
    // to judge: it may refuse the move, and the highlight comes back.
    connect(List, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row != m_list.selectedLine()) {
            m_list.lineClicked(row);
            showList();
            // The view goes on to select the row it moved to: the list's
            // answer is shown again once it has.
            QTimer::singleShot(0, this, &setData::showList);
        }
    });
    // Clicks, for the check boxes.
    List->viewport()->installEventFilter(this);
    List->installEventFilter(this);

    pic = new QWidget(this);
    pic->setObjectName(QStringLiteral("pic"));
    for (int i = 0; i < 2; ++i) {
        auto *g = new QTableWidget(editordesign::Rows, 1, pic);
        g->setObjectName(QStringLiteral("grid%1").arg(i));
        g->setFont(editorFont());
        g->horizontalHeader()->hide();
        g->verticalHeader()->hide();
        g->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        g->verticalHeader()->setMinimumSectionSize(1);
        g->verticalHeader()->setDefaultSectionSize(QFontMetrics(editorFont()).height() + 6);
        g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        g->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        g->setSelectionMode(QAbstractItemView::SingleSelection);
        g->setTextElideMode(Qt::ElideMiddle);
        // The value column is where the keyboard walks the rows.
        g->setFocusPolicy(i == 1 ? Qt::StrongFocus : Qt::NoFocus);
        g->setTabKeyNavigation(false);
        g->setWordWrap(false);
        m_grid[i] = g;
        connect(g, &QTableWidget::cellPressed, this, [this, i](int row) {
            if (i == 1)
                m_grid[0]->setCurrentCell(row, 0);
            SwapControls(m_currentRow, false);
            fill_desc(m_grid[0]->currentRow());
        });
        connect(g, &QTableWidget::cellClicked, this, [this, i] { openEditor(m_grid[i]->currentRow()); });
    }
    // A row reached from the keyboard is described; its editor opens on F2 or Enter.
    connect(m_grid[1], &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row < 0 || !m_grid[1]->hasFocus())
            return;
        SwapControls(m_currentRow, false);
        m_grid[0]->setCurrentCell(row, 0);
        fill_desc(row);
    });
    m_grid[1]->installEventFilter(this);
    m_grid[1]->setItemDelegateForRow(DatabaseRow, new PathDelegate(m_grid[1]));
    for (int r = 0; r < editordesign::Rows; ++r)
        m_grid[1]->setItem(r, 0, new QTableWidgetItem);
    m_grid[1]->raise();

    Text = new QLineEdit(pic);
    Text->setObjectName(QStringLiteral("Text"));
    Text->setFont(editorFont());
    Text->setFrame(false);
    connect(Text, &QLineEdit::textEdited, this, &setData::Text_Change);
    Text->installEventFilter(this);
    cmdBrowse = new QToolButton(pic);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    cmdBrowse->setText(QStringLiteral("…"));
    cmdBrowse->setFont(editorFont(true));
    cmdBrowse->installEventFilter(this);
    connect(cmdBrowse, &QToolButton::clicked, this, &setData::cmdBrowse_Click);
    for (int r = TableRow; r < editordesign::Rows; ++r) {
        auto *box = new QComboBox(pic);
        box->setObjectName(QStringLiteral("combo%1").arg(r));
        box->setFont(editorFont());
        box->setEditable(false);
        // activated: the user's pick, also of the item already shown.
        connect(box, &QComboBox::activated, this, [this, r] { combo_Click(r, true); });
        box->installEventFilter(this);
        m_combo[r] = box;
    }
    Text->hide();
    cmdBrowse->hide();
    for (int r = TableRow; r < editordesign::Rows; ++r)
        m_combo[r]->hide();

    Status = new QStatusBar(this);
    Status->setSizeGripEnabled(true);
    Desc = new QWidget(this);
    Desc->setObjectName(QStringLiteral("Desc"));
    lblHead = new QLabel(Desc);
    lblHead->setFont(editorFont(true));
    lblDesc = new QLabel(Desc);
    lblDesc->setFont(editorFont());
    lblDesc->setWordWrap(true);
    lblDesc->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, &setData::showFocus);
}

setData::~setData()
{
    // A child that still has the focus gives it up in the base destructor,
    // when this part of the window is gone (the session's end closes the
    // editor without hiding it first).
    disconnect(m_focusWatch);
}

void setData::showFocus()
{
    const QWidget *focus = QApplication::focusWidget();
    const bool inList = focus == List, inPane = focus && pic->isAncestorOf(focus);
    const QPalette own = palette();
    QColor faint = own.color(QPalette::Highlight);
    faint.setAlphaF(0.25);
    const struct
    {
        QWidget *widget;
        bool keys;
    } parts[] = {{List, inList}, {m_grid[0], inPane}, {m_grid[1], inPane}};
    for (const auto &part : parts) {
        QPalette p = own;
        if (!part.keys) {
            p.setColor(QPalette::Highlight, faint);
            p.setColor(QPalette::HighlightedText, own.color(QPalette::Text));
        }
        part.widget->setPalette(p);
    }
}

QAction *setData::button(int index) const
{
    return index >= 1 && index <= 5 ? m_buttons[index] : nullptr;
}

QString setData::head() const
{
    return lblHead->text();
}

QString setData::description() const
{
    return lblDesc->text();
}

QString setData::valueCell(int row) const
{
    return m_grid[1]->item(row, 0)->text();
}

void setData::setValueCell(int row, const QString &text)
{
    m_grid[1]->item(row, 0)->setText(text);
}

void setData::showList()
{
    // The list widget only ever shows the catalogue list's state.
    const QSignalBlocker block(List);
    const auto &lines = m_list.lines();
    if (m_list.generation() != m_shownGeneration || List->count() != lines.size()) {
        m_shownGeneration = m_list.generation();
        List->clear();
        for (qsizetype i = 0; i < lines.size(); ++i)
            List->addItem(QString());
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QListWidgetItem *item = List->item(int(i));
        item->setText(lines[i].caption);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(lines[i].checked ? Qt::Checked : Qt::Unchecked);
    }
    List->setCurrentRow(m_list.selectedLine());
    for (int a : {CatalogueList::New, CatalogueList::Delete, CatalogueList::MoveDown, CatalogueList::MoveUp})
        m_buttons[a]->setEnabled(m_list.isEnabled(CatalogueList::Action(a)));
}

bool setData::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == List->viewport()
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        const QPoint pos = static_cast<QMouseEvent *>(event)->position().toPoint();
        QListWidgetItem *item = List->itemAt(pos);
        if (item) {
            const int k = List->row(item);
            QStyleOptionViewItem opt;
            opt.initFrom(List);
            opt.rect = List->visualItemRect(item);
            opt.features |= QStyleOptionViewItem::HasCheckIndicator;
            const QRect box = List->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, List);
            if (box.contains(pos))
                m_list.lineToggled(k, !m_list.lines()[k].checked);
            else
                m_list.lineClicked(k);
            showList();
        }
        return true;
    }
    auto *box = qobject_cast<QComboBox *>(watched);
    const bool choiceBox = box && std::find(std::begin(m_combo), std::end(m_combo), box) != std::end(m_combo);
    const bool closedBox = choiceBox && !box->view()->isVisible();
    // The rows take a key that would step a choice unseen, or leave "…".
    auto toRows = [&] {
        m_grid[1]->setFocus();
        QApplication::sendEvent(m_grid[1], event);
        return true;
    };
    // A wheel rolled over a closed choice box changes nothing: a value
    // changes only by a pick in the open list.
    if (closedBox && event->type() == QEvent::Wheel)
        return true;
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (closedBox && !(key->modifiers() & Qt::AltModifier)) {
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return toRows();
        case Qt::Key_Left:
        case Qt::Key_Right:
            return true;
        default:
            // Typing looks the name up in the open list, where it is picked.
            if (!key->text().isEmpty() && key->text().at(0).isPrint() && key->key() != Qt::Key_Space) {
                box->showPopup();
                QApplication::sendEvent(box->view(), event);
                return true;
            }
        }
    }
    if (watched == List && key->key() == Qt::Key_Space) {
        const int at = m_list.selectedLine();
        if (at >= 0)
            m_list.lineToggled(at, !m_list.lines()[at].checked);
        showList();
        return true;
    }
    if (watched == m_grid[1] && (key->key() == Qt::Key_F2 || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        openEditor(m_grid[1]->currentRow());
        return true;
    }
    const bool inEditor = watched == Text || watched == cmdBrowse || choiceBox;
    if (inEditor && key->key() == Qt::Key_Escape) {
        // The edit is abandoned: the title goes back to what it was when its
        // editor opened (a choice is taken when it is made).
        if (watched == Text && Text->text() != m_titleBefore)
            setTitle(m_titleBefore);
        m_grid[1]->setFocus();
        return true;
    }
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (inEditor && watched == Text && enter) {
        m_titleBefore = Text->text();
        m_grid[1]->setFocus();
        return true;
    }
    // Enter on "…" opens the dialog; Enter in a closed choice box, or an
    // arrow on "…", gives the keys back to the rows, so that the arrows walk
    // the rows and do not change a choice unseen.
    if (watched == cmdBrowse && enter) {
        cmdBrowse->click();
        return true;
    }
    if (watched == cmdBrowse && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down))
        return toRows();
    if (choiceBox && enter) {
        m_grid[1]->setFocus();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void setData::openEditor(int row)
{
    if (row < 0)
        return;
    SwapControls(row, true);
    m_currentRow = row;
    // The keys go where the user looks: to the editor just opened.
    QWidget *editor = editorFor(row);
    if (editor->isEnabled())
        editor->setFocus(Qt::OtherFocusReason);
    if (row == TitleRow)
        m_titleBefore = Text->text();
}

QWidget *setData::editorFor(int row) const
{
    if (row <= TitleRow)
        return Text;
    if (row == DatabaseRow)
        return cmdBrowse;
    return m_combo[row];
}

void setData::keyPressEvent(QKeyEvent *e)
{
    // Enter closes nothing. Escape, with no edit open (an open one takes it
    // first), closes as Alt+F4 does: the editor applies as the user goes.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void setData::fill_data(int index)
{
    for (int r : {TableRow, InputFieldRow, OutputFieldRow})
        m_combo[r]->clear();
    const bool any = index >= 0 && index < m_list.sources().size();
    Text->setEnabled(any);
    cmdBrowse->setEnabled(any);
    for (int r : {InputCharsetRow, OutputCharsetRow})
        m_combo[r]->setEnabled(any);
    if (!any) {
        // No entry left: an empty pane until New.
        setTitle(QString());
        enableChoices(false);
        for (int r = 0; r < editordesign::Rows; ++r)
            setValueCell(r, QString());
        markMissingFile(QString());
        return;
    }
    const DataSource &s = m_list.sources()[index];
    setTitle(s.Title);
    showCharset(InputCharsetRow, s.CharsetIn);
    showCharset(OutputCharsetRow, s.CharsetOut);
    setValueCell(DatabaseRow, s.File);
    // The entry's own names until its database says otherwise: never the
    // previous entry's, when the database cannot be read.
    setValueCell(TableRow, s.Name);
    setValueCell(InputFieldRow, s.In);
    setValueCell(OutputFieldRow, s.Out);
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

void setData::markMissingFile(const QString &file)
{
    QTableWidgetItem *cell = m_grid[1]->item(DatabaseRow, 0);
    const QString path = QDir::toNativeSeparators(m_list.sources().value(m_list.selectedLine()).File);
    if (file.isEmpty()) {
        cell->setForeground(palette().text());
        cell->setToolTip(path);
        return;
    }
    setValueCell(DatabaseRow, file + QStringLiteral(" (soubor nenalezen)"));
    cell->setForeground(QColor(0xB0, 0, 0));
    cell->setToolTip(QStringLiteral("Databáze „%1“ nebyla nalezena.").arg(path));
}

void setData::showCharset(int row, uint8_t number)
{
    QComboBox *box = m_combo[row];
    const int named = int(charsetNames().size());
    while (box->count() > named)
        box->removeItem(named);
    int position = charset_map(number, 1);
    // A number no name stands for is shown as it is, and kept.
    if (charset_map(position) != number) {
        box->addItem(QStringLiteral("znaková sada %1").arg(number), int(number));
        position = named;
    }
    selectCombo(row, position);
}

void setData::enableChoices(bool on)
{
    for (int r : {TableRow, InputFieldRow, OutputFieldRow})
        m_combo[r]->setEnabled(on);
}

void setData::setTitle(const QString &text)
{
    {
        const QSignalBlocker block(Text);
        Text->setText(text);
        // Another entry's title: typing replaces it, as when the editor opened.
        Text->selectAll();
    }
    m_titleBefore = text;
    Text_Change(text);
}

void setData::selectCombo(int row, int position)
{
    {
        const QSignalBlocker block(m_combo[row]);
        m_combo[row]->setCurrentIndex(position);
    }
    combo_Click(row, false);
}

void setData::clearChoice(int row)
{
    const QSignalBlocker block(m_combo[row]);
    m_combo[row]->setCurrentIndex(-1);
}

void setData::Text_Change(const QString &text)
{
    setValueCell(TitleRow, text);
    m_list.editTitle(text);
    showList();
}

void setData::combo_Click(int row, bool byUser)
{
    QComboBox *box = m_combo[row];
    const QString s = box->currentText();
    const int i = m_list.selectedLine();
    if (i < 0 || box->currentIndex() < 0)
        return;
    if (row == TableRow && m_list.tableChosen(s)) {
        setValueCell(TableRow, s);
        m_list.kontrolaID(TableRow, s);
        check_data(i, s);
        enableChoices(true);
        return;
    }
    setValueCell(row, s);
    if (row == InputCharsetRow || row == OutputCharsetRow) {
        // What the pane shows of the entry is the entry's already.
        if (byUser) {
            const QVariant own = box->currentData();
            m_list.kontrolaID(row, own.isValid() ? uint8_t(own.toInt()) : charset_map(box->currentIndex()));
        }
        return;
    }
    // The pane selects the stored name as the database spells it; the stored
    // spelling stays unless the user picks, or there was none.
    const DataSource &e = m_list.sources()[i];
    const QString &stored = row == TableRow ? e.Name : row == InputFieldRow ? e.In : e.Out;
    if (byUser || stored.isEmpty())
        m_list.kontrolaID(row, s);
}

void setData::cmdBrowse_Click()
{
    // The entry's folder; for an entry without a database, the folder of the
    // one last chosen, then the home folder (never the program's own).
    static QString lastFolder;
    const DataSource entry = m_list.sources().value(m_list.selectedLine());
    const QString folder = !entry.File.isEmpty() ? QFileInfo(entry.File).absolutePath()
                           : !lastFolder.isEmpty() ? lastFolder
                                                   : QDir::homePath();
    const QString path = ShowOpenDialog(this, QStringLiteral("Databáze MS Access (*.mdb)|*.mdb|"),
                                        QStringLiteral("Vyber zdroj dat"), folder);
    if (path.isEmpty())
        return;
    // A file that is no database the reader can use is not taken: the entry
    // keeps the database it had.
    QString error;
    if (!whileReading([path, &error] { return openDatabase(path, &error); }))
        return critical(error);
    lastFolder = QFileInfo(path).absolutePath();
    m_list.databaseChosen(path);
    fill_data(m_list.selectedLine());
    showList();
    // The keys go on from the row the database was chosen in.
    m_grid[1]->setFocus();
}

void setData::critical(const QString &text)
{
    showBox(this, QMessageBox::Critical, kTitle, text);
}

void setData::check_data(int id)
{
    const DataSource &s = m_list.sources()[id];
    QString error;
    const auto tables = whileReading([file = s.File, &error] { return databaseTables(file, &error); });
    if (!tables)
        return critical(error);
    m_list.databaseOpened();
    showList();
    m_combo[TableRow]->addItems(*tables);
    if (tables->isEmpty())
        return critical(QStringLiteral("K dispozici nejsou žádné tabulky!"));
    const QString table = s.Name;
    const int at = findName(*tables, table);
    if (!table.isEmpty() && at < 0) {
        // Nothing chosen: showing the first table would pass it for the stored one.
        clearChoice(TableRow);
        return critical(QStringLiteral("Tabulka '%1' nebyla nalezena!").arg(table));
    }
    selectCombo(TableRow, table.isEmpty() ? 0 : at);
    if (m_combo[InputFieldRow]->count() == 0) // a change of table has listed the fields already
        listFields(id, m_list.sources()[id].Name);
}

bool setData::listFields(int id, const QString &table)
{
    QString error;
    const auto fields =
        whileReading([file = m_list.sources()[id].File, table, &error] { return tableFields(file, table, &error); });
    if (!fields) {
        critical(error);
        return false;
    }
    for (int r : {InputFieldRow, OutputFieldRow}) {
        m_combo[r]->clear();
        m_combo[r]->addItems(*fields);
    }
    for (int r : {InputFieldRow, OutputFieldRow}) {
        const DataSource &s = m_list.sources()[id];
        const QString stored = r == InputFieldRow ? s.In : s.Out;
        const int at = findName(*fields, stored);
        if (!stored.isEmpty() && at < 0) {
            // This box and those after it show no choice till the user makes one.
            for (int later : {InputFieldRow, OutputFieldRow})
                if (later >= r)
                    clearChoice(later);
            critical(QStringLiteral("Položka '%1' nebyla nalezena!").arg(stored));
            return false;
        }
        if (!fields->isEmpty())
            selectCombo(r, stored.isEmpty() ? 0 : at);
    }
    return true;
}

void setData::check_data(int id, const QString &table)
{
    QString error;
    const bool opened =
        whileReading([file = m_list.sources()[id].File, &error] { return openDatabase(file, &error); });
    if (!opened)
        return critical(error);
    m_list.databaseOpened();
    showList();
    // The new table's fields, the first one for both: the source can be used at once.
    listFields(id, table);
}

void setData::SwapControls(int row, bool show)
{
    if (row < 0)
        row = TitleRow;
    QWidget *editor = row == TitleRow      ? static_cast<QWidget *>(Text)
                      : row == DatabaseRow ? static_cast<QWidget *>(cmdBrowse)
                                 : static_cast<QWidget *>(m_combo[row]);
    if (!show) {
        editor->hide();
        return;
    }
    const Metrics &m = metrics();
    const QRect g1 = m_grid[1]->geometry();
    const double rowH = m_grid[0]->rowHeight(0) * m.TwipsPerPixelY;
    const double top = m_grid[0]->rowViewportPosition(row) * m.TwipsPerPixelY;
    const InPlaceEditor e = inPlaceEditor(row, g1.x() * m.TwipsPerPixelX, g1.width() * m.TwipsPerPixelX, rowH, top,
                                          m.BorderX, m.BorderY);
    const int left = m.toPixelsX(e.left), y = m.toPixelsY(e.top);
    const int width = m.toPixelsX(e.left + e.width) - left;
    const int height = e.height ? m.toPixelsY(e.top + *e.height) - y : editor->sizeHint().height();
    editor->setGeometry(left, y, width, height);
    editor->show();
    editor->raise();
    if (row == TitleRow)
        Text->setSelection(0, int(Text->text().size()));
}

void setData::fill_desc(int row)
{
    if (row < 0)
        row = TitleRow;
    lblHead->setText(m_grid[0]->item(row, 0)->text());
    lblHead->adjustSize();
    lblDesc->setText(QString::fromUtf8(kRows[row].help));
}

void setData::layoutWindow()
{
    const Metrics &m = metrics();
    EditorLayoutInput in;
    in.clientWidth = width() * m.TwipsPerPixelX;
    in.clientHeight = height() * m.TwipsPerPixelY;
    const QRect frame = frameGeometry();
    in.outerWidth = std::max(frame.width(), width()) * m.TwipsPerPixelX;
    in.outerHeight = std::max(frame.height(), height()) * m.TwipsPerPixelY;
    in.toolbarHeight = Toolbar->sizeHint().height() * m.TwipsPerPixelY;
    in.rowH = m_grid[0]->rowHeight(0) * m.TwipsPerPixelY;
    in.BorderX = m.BorderX;
    in.BorderY = m.BorderY;
    const EditorLayout l = editorLayout(in);
    if (l.enlarged) {
        // The client grows with the outer size; the next resize lays it out.
        resize(m.toPixelsX(in.clientWidth + l.outerWidth - in.outerWidth),
               m.toPixelsY(in.clientHeight + l.outerHeight - in.outerHeight));
        return;
    }
    Toolbar->setGeometry(0, 0, width(), Toolbar->sizeHint().height());
    const int statusHeight = m.toPixelsY(editordesign::StatusHeight);
    Status->setGeometry(0, height() - statusHeight, width(), statusHeight);
    List->setGeometry(toPixels(l.List, m));
    pic->setGeometry(toPixels(l.pic, m));
    Desc->setGeometry(toPixels(l.Desc, m));
    Desc->raise();
    m_grid[0]->setGeometry(toPixels(l.grid0, m));
    m_grid[1]->setGeometry(toPixels(l.grid1, m));
    m_grid[0]->setColumnWidth(0, m.toPixelsX(l.columnWidth0));
    m_grid[1]->setColumnWidth(0, m.toPixelsX(l.columnWidth1));
    lblHead->move(m.toPixelsX(editordesign::LabelLeft), m.toPixelsY(editordesign::HeadTop));
    lblHead->adjustSize();
    lblDesc->setGeometry(m.toPixelsX(editordesign::LabelLeft), m.toPixelsY(editordesign::DescTextTop),
                         m.toPixelsX(l.lblDescWidth), Desc->height() - m.toPixelsY(editordesign::DescTextTop));
    SwapControls(m_currentRow, true);
}

void setData::resizeEvent(QResizeEvent *e)
{
    QDialog::resizeEvent(e);
    layoutWindow();
    if (isVisible())
        lastSize() = size();
}

template <typename Read>
auto setData::whileReading(Read read) -> decltype(read())
{
    ++m_reading;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    auto result = std::async(std::launch::async, std::move(read));
    while (result.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    QApplication::restoreOverrideCursor();
    --m_reading;
    return result.get();
}

void setData::load_settings()
{
    if (m_loaded)
        return;
    m_loaded = true;
    m_store.reload();
    m_list.load(m_store); // selects the first entry and fills the pane
    showList();
}

void setData::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    layoutWindow();
    Text->setFocus();
    // Once the window is up: reading the first entry's database may take a
    // moment or end in a message, which then has the editor behind it.
    if (!m_loaded)
        QTimer::singleShot(0, this, &setData::load_settings);
}

void setData::showInformation(const QString &title, const QString &text)
{
    showBox(this, QMessageBox::Information, title, text);
}

bool setData::askYesNo(const QString &title, const QString &text)
{
    return showBox(this, QMessageBox::Question, title, text);
}

CatalogueListView::AfterFailedSave setData::saveFailed(const QString &error)
{
    using namespace editortext;
    const int choice = showChoice(this, QMessageBox::Critical, kTitle, saveFailedText(error),
                                  {SaveRetry, SaveDiscard, SaveStay});
    return choice == 0 ? AfterFailedSave::Retry : choice == 1 ? AfterFailedSave::Discard : AfterFailedSave::Stay;
}

bool setData::closeRequest()
{
    // Closed before the catalogue was loaded: nothing to save, and an empty
    // list must never be written over it.
    if (m_saved || !m_loaded || m_sessionEnded)
        return true;
    // Not in the middle of reading a database (the window manager's close
    // is no user input, and comes through while the window paints).
    if (m_reading > 0)
        return false;
    if (!m_list.close(m_store)) {
        showList();
        return false;
    }
    m_saved = true;
    return true;
}

bool setData::saveForSessionEnd()
{
    if (m_saved || !m_loaded)
        return true;
    // The program's end closes this window: a failed save is told on
    // standard error, never in a box left waiting for an answer.
    m_sessionEnded = true;
    QString error;
    if (!m_list.save(m_store, &error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    m_saved = true;
    return true;
}

void setData::done(int result)
{
    // Escape, Enter and the window's close button alike ask first.
    if (closeRequest())
        QDialog::done(result);
}

void setData::closeEvent(QCloseEvent *e)
{
    if (closeRequest())
        QDialog::closeEvent(e);
    else
        e->ignore();
}

} // namespace tarnvik
