#include "setData.h"

#include "db/write/DictionaryImport.h"
#include "editor/CatalogueListWidget.h"
#include "editor/EditorLayout.h"
#include "editor/ImportProgress.h"
#include "editor/PaneKeys.h"
#include "editor/PropertyGrid.h"
#include "editor/Verify.h"
#include "platform/Metrics.h"
#include "platform/MessageBox.h"
#include "platform/OpenSave.h"
#include "platform/Product.h"
#include "platform/Resources.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <future>

namespace tarnvik {

namespace {

QFont editorFont(bool bold = false)
{
    QFont f(kFace);
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

setData::setData(SettingsStore &store, EditorMemory &memory, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_editor(store, memory, *this)
{
    loadResources();
    setObjectName(QStringLiteral("setData"));
    setWindowTitle(QStringLiteral("Správa datových zdrojů"));
    setSizeGripEnabled(false);
    // Window load, in order.
    InitMetrics();
    buildControls();
    for (int r = 0; r < PropertyRows; ++r)
        m_grid[0]->setItem(r, 0, new QTableWidgetItem(QString::fromUtf8(propertyRowText[r].caption)));
    fill_desc(TitleRow);
    const Metrics &m = metrics();
    const QSize designed(m.toPixelsX(editordesign::ClientWidth), m.toPixelsY(editordesign::ClientHeight));
    resize(memory.size.isValid() ? memory.size : designed);
}

void setData::buildControls()
{
    Toolbar = new QToolBar(this);
    Toolbar->setObjectName(QStringLiteral("Toolbar"));
    Toolbar->setIconSize(QSize(16, 16));
    using Action = CatalogueList::Action;
    const struct
    {
        Action action;
        const char *icon;
        QString tip;
        const char *keyName;
        QList<QKeySequence> keys;
    } buttons[] = {
        {Action::New, "document-new", editortext::ToolTipNew, "Insert", {Qt::Key_Insert, QKeySequence::New}},
        {Action::Delete, "edit-delete", editortext::ToolTipDelete, "Delete", {QKeySequence::Delete}},
        {Action::MoveDown, "go-down", editortext::ToolTipMoveDown, "Alt+↓", {Qt::ALT | Qt::Key_Down}},
        {Action::MoveUp, "go-up", editortext::ToolTipMoveUp, "Alt+↑", {Qt::ALT | Qt::Key_Up}}};
    for (const auto &b : buttons) {
        if (b.action == Action::MoveDown)
            Toolbar->addSeparator();
        QAction *a = Toolbar->addAction(themed(b.icon), b.tip);
        a->setToolTip(QStringLiteral("%1 (%2)").arg(b.tip, QString::fromUtf8(b.keyName)));
        a->setShortcuts(b.keys);
        // Delete and the moves act on the list: in the title editor Delete
        // deletes a letter, in a choice box Alt+Down opens it.
        a->setShortcutContext(b.action == Action::New ? Qt::WindowShortcut : Qt::WidgetShortcut);
        connect(a, &QAction::triggered, this, [this, action = b.action] {
            m_editor.list().press(action);
            refresh();
        });
        m_buttons[size_t(b.action)] = a;
    }

    List = new CatalogueListWidget(m_editor.list(), this);
    List->setObjectName(QStringLiteral("List"));
    List->setFont(editorFont());
    for (Action a : {Action::Delete, Action::MoveDown, Action::MoveUp})
        List->addAction(button(a));
    connect(List, &CatalogueListWidget::acted, this, &setData::refresh);
    // After the drop: the file manager's drag has ended before any box.
    connect(List, &CatalogueListWidget::dictionariesDropped, this, &setData::addDictionaries, Qt::QueuedConnection);

    pic = new QWidget(this);
    pic->setObjectName(QStringLiteral("pic"));
    for (int i = 0; i < 2; ++i) {
        auto *g = new PropertyGrid(i == 1, editorFont(), pic);
        g->setObjectName(QStringLiteral("grid%1").arg(i));
        m_grid[i] = g;
        connect(g, &QTableWidget::cellPressed, this, [this, i](int row) {
            // A row's name and its value are one row.
            m_grid[1 - i]->setCurrentCell(row, 0);
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
    m_grid[1]->raise();

    Text = new QLineEdit(pic);
    Text->setObjectName(QStringLiteral("Text"));
    Text->setFont(editorFont());
    Text->setFrame(false);
    connect(Text, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_editor.typeTitle(text);
        refresh();
    });
    Text->installEventFilter(this);
    cmdBrowse = new QToolButton(pic);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    cmdBrowse->setText(QStringLiteral("…"));
    cmdBrowse->setFont(editorFont(true));
    cmdBrowse->installEventFilter(this);
    connect(cmdBrowse, &QToolButton::clicked, this, &setData::cmdBrowse_Click);
    for (int r = TableRow; r < PropertyRows; ++r) {
        auto *box = new QComboBox(pic);
        box->setObjectName(QStringLiteral("combo%1").arg(r));
        box->setFont(editorFont());
        box->setEditable(false);
        // activated: the user's pick, also of the item already shown.
        connect(box, &QComboBox::activated, this, [this, r](int position) {
            m_editor.choose(r, position);
            refresh();
        });
        box->installEventFilter(this);
        box->view()->installEventFilter(this);
        m_combo[r] = box;
    }
    Text->hide();
    cmdBrowse->hide();
    for (int r = TableRow; r < PropertyRows; ++r)
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
    // The keys gone to the list of sources: the row's editor goes with them.
    if (inList && m_editorShown)
        SwapControls(m_currentRow, false);
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

void setData::refresh()
{
    List->showLines();
    for (auto a : CatalogueList::Actions)
        button(a)->setEnabled(catalogue().isEnabled(a));
    showPane();
}

void setData::showPane()
{
    const Pane &pane = m_editor.pane();
    if (pane.generation != m_shownPane) {
        // Another entry's title: typing replaces it, as when the editor opened.
        m_shownPane = pane.generation;
        const QSignalBlocker block(Text);
        Text->setText(pane.rows[TitleRow].value);
        Text->selectAll();
    }
    for (int r = 0; r < PropertyRows; ++r)
        setValueCell(r, pane.rows[r].value);
    Text->setEnabled(pane.rows[TitleRow].enabled);
    cmdBrowse->setEnabled(pane.rows[DatabaseRow].enabled);
    for (int r = TableRow; r < PropertyRows; ++r) {
        QComboBox *box = m_combo[r];
        const QSignalBlocker block(box);
        QStringList shown;
        for (int i = 0; i < box->count(); ++i)
            shown << box->itemText(i);
        if (shown != pane.rows[r].items) {
            box->clear();
            box->addItems(pane.rows[r].items);
        }
        box->setCurrentIndex(pane.rows[r].current);
        box->setEnabled(pane.rows[r].enabled);
    }
    QTableWidgetItem *cell = m_grid[1]->item(DatabaseRow, 0);
    cell->setForeground(pane.fileMissing ? QBrush(QColor(0xB0, 0, 0)) : palette().text());
    cell->setToolTip(pane.fileTip);
}

bool setData::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Hide
        && std::any_of(std::begin(m_combo), std::end(m_combo), [&](QComboBox *c) { return c && c->view() == watched; }))
        m_listClosed.start();
    auto *box = qobject_cast<QComboBox *>(watched);
    const bool choiceBox = box && std::find(std::begin(m_combo), std::end(m_combo), box) != std::end(m_combo);
    const PanePart part = choiceBox ? (box->view()->isVisible() ? PanePart::OpenChoice : PanePart::ClosedChoice)
        : watched == m_grid[1]      ? PanePart::Rows
        : watched == Text           ? PanePart::Title
        : watched == cmdBrowse      ? PanePart::Browse
                                    : PanePart::Other;
    // A wheel rolled over a closed choice box changes nothing: a value
    // changes only by a pick in the open list.
    if (part == PanePart::ClosedChoice && event->type() == QEvent::Wheel)
        return true;
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    // On weston the Escape or Enter that closes a choice's list reaches the box too, at once: it was the list's.
    const bool closesList = key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (choiceBox && closesList && m_listClosed.isValid() && m_listClosed.elapsed() < 250)
        return true;
    const PaneKey what = paneKey(part, key->key(), key->modifiers(), key->text());
    switch (what) {
    case PaneKey::Own:
        return QDialog::eventFilter(watched, event);
    case PaneKey::Nothing:
        break;
    case PaneKey::ToRows:
        backToRows();
        QApplication::sendEvent(m_grid[1], event);
        break;
    case PaneKey::OpenChoice:
        box->showPopup();
        QApplication::sendEvent(box->view(), event);
        break;
    case PaneKey::OpenEditor:
        openEditor(m_grid[1]->currentRow());
        break;
    case PaneKey::Browse:
        cmdBrowse->click();
        break;
    case PaneKey::Abandon: // the title back to what it was when its editor opened
        if (watched == Text && m_editor.restoreTitle())
            refresh();
        backToRows();
        break;
    case PaneKey::KeepTitle:
        m_editor.keepTitle();
        [[fallthrough]];
    case PaneKey::BackToRows:
        backToRows();
        break;
    case PaneKey::FirstRow:
    case PaneKey::LastRow:
        m_grid[1]->setCurrentCell(what == PaneKey::FirstRow ? 0 : m_grid[1]->rowCount() - 1, 0);
        break;
    }
    return true;
}

void setData::backToRows()
{
    // The editor goes with the keys: a box left drawn over its row would
    // look as if it still had them.
    m_grid[1]->setFocus();
    // On the row that was edited, shown selected.
    m_grid[1]->setCurrentCell(m_currentRow < 0 ? int(TitleRow) : m_currentRow, 0);
    SwapControls(m_currentRow, false);
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
        m_editor.keepTitle();
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
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        e->accept();
    else
        QDialog::keyPressEvent(e);
}

void setData::cmdBrowse_Click()
{
    const bool taken = m_editor.browse();
    refresh();
    // The keys go on from the row the database was chosen in.
    if (taken)
        backToRows();
}

QString setData::chooseDatabase(const QString &folder)
{
    return ShowOpenDialog(this, editortext::OpenFilter, editortext::OpenTitle, folder);
}

EditorView::Earlier setData::askAboutEarlier(const QString &file, const QString &database)
{
    using namespace editortext;
    refresh();
    const int choice = showChoice(this, QMessageBox::Question, ImportedBefore, importedBeforeText(file, database),
                                  ImportedBeforeChoices);
    return choice == 0 ? Earlier::Use : choice == 1 ? Earlier::ImportAgain : Earlier::Cancel;
}

std::optional<DataSource> setData::earlierImport(const QString &file)
{
    return DictionaryImport().earlier(file);
}

std::optional<DataSource> setData::importDictionary(const QString &file)
{
    refresh();
    DictionaryImport import;
    std::optional<DataSource> made = importWithProgress(this, file, import);
    if (!made && !import.cancelled())
        critical(QStringLiteral("Soubor „%1“ nelze převést na databázi.\n\n%2").arg(file, import.errorString()));
    return made;
}

std::optional<QStringList> setData::readTables(const QString &file, QString *error)
{
    return whileReading([file, error] { return databaseTables(file, error); });
}

std::optional<QStringList> setData::readFields(const QString &file, const QString &table, QString *error)
{
    return whileReading([file, table, error] { return tableFields(file, table, error); });
}

void setData::critical(const QString &text)
{
    refresh();
    showBox(this, QMessageBox::Critical, kAppTitle, text);
}

void setData::SwapControls(int row, bool show)
{
    if (row < 0)
        row = TitleRow;
    QWidget *editor = editorFor(row);
    m_editorShown = show;
    if (!show) {
        editor->hide();
        return;
    }
    const Metrics &m = metrics();
    const QRect g1 = m_grid[1]->geometry();
    const double rowH = m.toTwipsY(m_grid[0]->rowHeight(0));
    const double top = m.toTwipsY(m_grid[0]->rowViewportPosition(row));
    const InPlaceEditor e = inPlaceEditor(row, m.toTwipsX(g1.x()), m.toTwipsX(g1.width()), rowH, top,
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
    lblDesc->setText(QString::fromUtf8(propertyRowText[row].help));
}

void setData::layoutWindow()
{
    const Metrics &m = metrics();
    EditorLayoutInput in;
    in.clientWidth = m.toTwipsX(width());
    in.clientHeight = m.toTwipsY(height());
    const QRect frame = frameGeometry();
    in.outerWidth = m.toTwipsX(std::max(frame.width(), width()));
    in.outerHeight = m.toTwipsY(std::max(frame.height(), height()));
    in.toolbarHeight = m.toTwipsY(Toolbar->sizeHint().height());
    in.rowH = m.toTwipsY(m_grid[0]->rowHeight(0));
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
    if (m_editorShown)
        SwapControls(m_currentRow, true);
}

void setData::resizeEvent(QResizeEvent *e)
{
    QDialog::resizeEvent(e);
    layoutWindow();
    if (isVisible())
        m_editor.memory().size = size();
}

template <typename Read>
auto setData::whileReading(Read read) -> decltype(read())
{
    QApplication::setOverrideCursor(Qt::BusyCursor);
    auto result = std::async(std::launch::async, std::move(read));
    while (result.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    QApplication::restoreOverrideCursor();
    return result.get();
}

void setData::load_settings()
{
    m_editor.load();
    refresh();
    if (m_onOpen)
        std::exchange(m_onOpen, {})();
}

void setData::browseOnOpen()
{
    m_onOpen = [this] {
        if (m_editor.list().untouchedFirstEntry())
            cmdBrowse_Click();
    };
}

void setData::addOnOpen(const QStringList &files)
{
    m_onOpen = [this, files] { addDictionaries(files); };
}

void setData::addDictionaries(const QStringList &files)
{
    bool taken = false;
    for (const QString &file : files) {
        taken = m_editor.addDictionary(file) || taken;
        refresh();
    }
    if (taken)
        backToRows();
}

void setData::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    layoutWindow();
    Text->setFocus();
    // Once the window is up: reading the first entry's database may take a
    // moment or end in a message, which then has the editor behind it.
    if (!m_editor.loaded())
        QTimer::singleShot(0, this, &setData::load_settings);
}

void setData::showInformation(const QString &title, const QString &text)
{
    refresh();
    showBox(this, QMessageBox::Information, title, text);
}

bool setData::askYesNo(const QString &title, const QString &text)
{
    refresh();
    return showBox(this, QMessageBox::Question, title, text);
}

EditorView::AfterFailedSave setData::saveFailed(const QString &error)
{
    using namespace editortext;
    const int choice = showChoice(this, QMessageBox::Critical, kAppTitle, saveFailedText(error),
                                  {SaveRetry, SaveDiscard, SaveStay});
    return choice == 0 ? AfterFailedSave::Retry : choice == 1 ? AfterFailedSave::Discard : AfterFailedSave::Stay;
}

bool setData::closeRequest()
{
    if (m_editor.closeRequest())
        return true;
    refresh();
    return false;
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
