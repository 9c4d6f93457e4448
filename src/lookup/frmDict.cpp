#include "frmDict.h"

#include "platform/Colours.h"
#include "platform/Product.h"
#include "platform/Resources.h"
#include "platform/Text.h"
#include "widgets/CellGrid.h"
#include "widgets/DropButtonBox.h"
#include "widgets/Lamp.h"
#include "widgets/OneLineEdit.h"
#include "widgets/Paint.h"
#include "Layout.h"
#include "PairView.h"
#include "StripActivation.h"
#include "MatchBox.h"
#include "StripSession.h"
#include "StripKeys.h"
#include "SurfaceDrag.h"
#include "dropdown/frmCombo.h"
#include "editor/setData.h"
#include "platform/Desktop.h"
#include "platform/Dict.h"
#include "platform/DroppedFiles.h"
#include "platform/MessageBox.h"
#include "platform/Metrics.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QUrl>

namespace tarnvik {

namespace {
const QString kAddHint = QStringLiteral("Žádný slovník. Přidáte jej klávesou Enter nebo klepnutím sem.");
// Menus and message boxes keep their own size but take the strip's face, so
// the window never mixes two typefaces (where the face keeps the capitals'
// marks in its lines).
void setFamily(QWidget *w, const QString &face)
{
    QFont f = w->font();
    f.setFamily(face);
    w->setFont(wholeMarks(f));
}

void setFace(QWidget *w, const QString &face)
{
    QFont f = w->font();
    f.setFamily(face);
    f.setPointSizeF(design::FontPoints);
    w->setFont(f);
}
} // namespace

frmDict::frmDict(SettingsStore &store, QWidget *parent)
    : QWidget(parent), m_session(std::make_unique<StripSession>(store))
{
    loadResources();
    setObjectName(QStringLiteral("frmDict"));
    Text1 = new OneLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setFrame(true);
    setBackColor(Text1, kYellow);
    Combo1 = new DropButtonBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    setBackColor(Combo1, kYellow);
    Shape1 = new Lamp(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    // The lamp is painted on the surface: a press there drags the window.
    Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);
    for (int i = 0; i < 2; ++i) {
        gridd[i] = new CellGrid(this);
        gridd[i]->setObjectName(QStringLiteral("gridd%1").arg(i));
        gridd[i]->setFocusPolicy(Qt::TabFocus);
    }
    // Where the pair shows, what a newcomer does first; a click never takes
    // the keys from the text box.
    m_hint = new QLabel(kAddHint, this);
    m_hint->setObjectName(QStringLiteral("hint"));
    m_hint->setIndent(4);
    m_hint->setCursor(Qt::PointingHandCursor);
    m_hint->setAutoFillBackground(true);
    setBackColor(m_hint, kLightRed);
    m_hint->installEventFilter(this);
    m_hint->hide();
    for (QWidget *w : {static_cast<QWidget *>(Text1), static_cast<QWidget *>(Combo1), static_cast<QWidget *>(m_hint)})
        setFace(w, kFace);
    // Its own context menu never shows: the right button opens the window's.
    Text1->setContextMenuPolicy(Qt::NoContextMenu);
    Text1->installEventFilter(this);
    // A dictionary file dropped on the strip is added in the editor.
    setAcceptDrops(true);
    buildMenus();
    m_box = new MatchBox(*this);
    m_activation = new StripActivation(*this);
    m_drag = new SurfaceDrag(this);
    // What the session reports is told here; a box about the store or the
    // source after the window is up, so the start is not held by it.
    connect(m_session.get(), &StripSession::storeUnusable, this,
            [this](const QString &text) { message(QMessageBox::Warning, text); }, Qt::QueuedConnection);
    connect(m_session.get(), &StripSession::sourceProblem, this,
            [this](const QString &why) { message(QMessageBox::Critical, why); }, Qt::QueuedConnection);
    connect(m_session.get(), &StripSession::saveFailed, this,
            [this](const QString &error) { message(QMessageBox::Critical, error); });
    connect(m_session.get(), &StripSession::lookUpDue, this, &frmDict::Text1_Change);
    connect(Text1, &QLineEdit::textChanged, this, &frmDict::Text1_Change);
    // The box and the pair only ask for the list: a click on them never
    // takes the keys from the text box, and Tab onto the box with nothing
    // to open hands them straight back.
    Combo1->setFocusPolicy(Qt::TabFocus);
    connect(Combo1, &DropButtonBox::dropDownRequested, this, &frmDict::checkStatus);
    connect(Combo1, &DropButtonBox::gotFocus, this, [this] {
        checkStatus();
        if (!dropDown()->isVisible())
            Text1->setFocus();
    });
    for (int i = 0; i < 2; ++i) {
        connect(gridd[i], &CellGrid::pressed, this, [this, i](Qt::MouseButton button, QPoint pos) {
            if (button != Qt::LeftButton) {
                popUp(mnuY, gridd[i]->geometry().topLeft() + pos);
            } else {
                m_box->pairClicked();
            }
        });
        connect(gridd[i], &CellGrid::keyPressed, m_box, &MatchBox::keyOnPair);

    }
    // Every orderly end saves: the session's end as well as "Konec" or closing.
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this] { m_session->saveAtEnd(StripSession::Ending::AskedToSave); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { m_session->saveAtEnd(StripSession::Ending::Quit); });
    Form_Load();
}

frmDict::~frmDict() = default;

void frmDict::buildMenus()
{
    mnuX = new QMenu(this);
    mnuX->setObjectName(QStringLiteral("mnuX"));
    mnuActLang = new SourceMenu(QStringLiteral("Aktivní zdroj dat"), mnuX);
    mnuActLang->setObjectName(QStringLiteral("mnuActLang"));
    mnuX->addMenu(mnuActLang);
    connect(mnuActLang, &SourceMenu::chosen, this, &frmDict::mnuLang_Click);
    mnuX->addSeparator();
    mnuData = mnuX->addAction(QStringLiteral("Nastavení..."));
    mnuTopMost = mnuX->addAction(QStringLiteral("Vždy navrchu"));
    mnuTopMost->setCheckable(true);
    mnuMinimize = mnuX->addAction(QStringLiteral("Minimalizovat na lištu"));
    mnuX->addSeparator();
    mnuHomePage = mnuX->addAction(QStringLiteral("Domovské stránky produktu"));
    mnuAbout = mnuX->addAction(QStringLiteral("O aplikaci..."));
    mnuX->addSeparator();
    mnuEnd = mnuX->addAction(QStringLiteral("Konec"));
    // Named as the controls are, so that tests find them by name.
    for (auto [action, name] : {std::pair(mnuData, "mnuData"), std::pair(mnuTopMost, "mnuTopMost"),
                                std::pair(mnuMinimize, "mnuMinimize"), std::pair(mnuHomePage, "mnuHomePage"),
                                std::pair(mnuAbout, "mnuAbout"), std::pair(mnuEnd, "mnuEnd")})
        action->setObjectName(QLatin1String(name));
    connect(mnuMinimize, &QAction::triggered, this, &QWidget::showMinimized);
    connect(mnuHomePage, &QAction::triggered, this, &frmDict::mnuHomePage_Click);
    connect(mnuAbout, &QAction::triggered, this, &frmDict::mnuAbout_Click);
    connect(mnuEnd, &QAction::triggered, this, &frmDict::Form_Unload);
    connect(mnuData, &QAction::triggered, this, &frmDict::mnuData_Click);

    mnuY = new QMenu(this);
    mnuY->setObjectName(QStringLiteral("mnuY"));
    const QString copy[] = {QStringLiteral("Kopírovat do schránky"), QStringLiteral("-"),
                            QStringLiteral("Kopírovat výstup"), QStringLiteral("Kopírovat vstup")};
    for (int i = 0; i < 4; ++i) {
        if (i == 1) {
            mnuY->addSeparator();
            continue;
        }
        connect(mnuY->addAction(copy[i]), &QAction::triggered, this, [this, i] { mnuCopy_Click(i); });
    }
    connect(mnuTopMost, &QAction::triggered, this, &frmDict::mnuTopMost_Click);
}

void frmDict::Form_Load()
{
    setWindowTitle(kAppTitle);
    SetCaptionBar(this, false);
    InitMetrics();
    const Metrics &m = metrics();
    setFixedSize(m.toPixelsX(design::WindowWidth), m.toPixelsY(design::WindowHeight));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.left() + (avail.width() - width()) / 2, avail.top() + avail.height() / 8);
    }
    Text1->setGeometry(toPixels(design::Text1, m));
    Combo1->setGeometry(toPixels(design::Combo1, m));
    m_hint->setGeometry(Combo1->geometry());
    Shape1->setGeometry(toPixels(design::Shape1, m));

    getAllMySettings();
    m_activation->grabShortcut(m_session->stored().shortcut);
    if (!platformKeepsOnTop()) {
        mnuTopMost->setEnabled(false);
        mnuTopMost->setToolTip(
            QStringLiteral("Toto pracovní prostředí (Wayland) nedovoluje programu držet okno nad ostatními."));
        mnuX->setToolTipsVisible(true);
    }

    // From here a failing step is skipped.
    setFace(Text1, m_fontName);
    if (!QFontDatabase::hasFamily(m_fontName)) {
        m_fontName = kStandInFace;
        setFace(Text1, m_fontName);
    }
    gridd[0]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    gridd[1]->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    setFace(gridd[0], m_fontName);
    setFace(gridd[1], m_fontName);
    setFace(dropDown()->grid(0), m_fontName);
    setFace(dropDown()->grid(1), m_fontName);
    for (QMenu *menu : {mnuX, static_cast<QMenu *>(mnuActLang), mnuY})
        setFamily(menu, m_fontName);
    setBoxFace(m_fontName);
    setGrid();
    m_session->prepareActive();
    Text1_Change();
    // Typing straight after the start goes into the text box.
    Text1->setFocus();
}

void frmDict::mnuLang_Click(int index)
{
    const int was = m_session->active();
    if (!m_session->choose(index))
        return;
    mnuActLang->moveCheck(was, index);
    Text1_Change();
}

frmCombo *frmDict::dropDown()
{
    return m_box->list();
}

void frmDict::checkStatus()
{
    m_box->checkStatus();
}

void frmDict::expandCombo()
{
    m_box->expand();
}

void frmDict::placeDropDown()
{
    m_box->place();
}

void frmDict::getAllMySettings()
{
    m_session->load();
    const LookupSettings &s = m_session->stored();
    // At the start, where the user left it, on a screen that is still there;
    // before anything shows the window, so that it does not jump.
    if (!isVisible() && clientPlacesWindows())
        move(placeOnScreens(s.position, size(), availableScreens(), pos()));
    applyTopMost();
    m_fontName = s.fontName;
    mnuActLang->setSources(m_session->sources(), m_session->active());
}

bool frmDict::saveAllMySettings()
{
    return m_session->save();
}

int frmDict::exitStatus() const
{
    return m_session->exitStatus();
}

const QVector<VisibleSource> &frmDict::sources() const
{
    return m_session->sources();
}

int frmDict::activePosition() const
{
    return m_session->active();
}

const DataControl &frmDict::data1() const
{
    return m_session->data();
}

void frmDict::setGrid()
{
    const Metrics &m = metrics();
    const FirstMatchLayout l = setGridLayout(design::Combo1, m);
    for (int i = 0; i < 2; ++i)
        gridd[i]->setGeometry(toPixels(l.gridd[i], m));
}

void frmDict::Text1_Change()
{
    // Painted at once rather than by letting events run: a nested look-up
    // could otherwise start inside this one.
    Shape1->setFillColor(fromBgr(kRed));
    Shape1->repaint();
    Combo1->clear();
    m_box->show(m_session->lookUp(Text1->text()));
    m_hint->setVisible(m_session->catalogueEmpty());
}

QString frmDict::lookupProblem() const
{
    return m_box->problem();
}

void frmDict::addFirstDictionary()
{
    openEditor([](setData &editor) { editor.browseOnOpen(); });
}

void frmDict::dragEnterEvent(QDragEnterEvent *e)
{
    takeDictionaries(e);
}

void frmDict::dropEvent(QDropEvent *e)
{
    const QStringList files = takeDictionaries(e);
    if (files.isEmpty())
        return;
    // Once the file manager's drag has ended: the editor is modal.
    QTimer::singleShot(0, this, [this, files] { openEditor([files](setData &editor) { editor.addOnOpen(files); }); });
}

void frmDict::openEditor(const std::function<void(setData &)> &prepare)
{
    // A request queued before the editor came up (a second tap, a drop).
    if (m_editorOpen)
        return;
    const QScopedValueRollback open(m_editorOpen, true);
    dropDown()->hide();
    m_session->saveForEditor();
    const bool onTop = m_session->topMost();
    if (onTop)
        SetTopMost(this, false);
    {
        setData editor(m_session->store(), m_editorMemory, this);
        keepCaptionWhole(&editor);
        if (prepare)
            prepare(editor);
        m_session->setEditorSave([&editor] { return editor.saveForSessionEnd(); });
        editor.exec();
        m_session->setEditorSave({});
    }
    if (m_session->ended())
        return; // the session ended while the editor was open
    if (onTop)
        SetTopMost(this, true);
    getAllMySettings();
    m_session->prepareActive();
    Text1_Change();
    backToText();
}

void frmDict::backToText()
{
    activateWindow();
    // The window manager may hand the focus back while a modal window still
    // blocks this one; Qt then never makes it the active one.
    if (QGuiApplication::focusWindow() == windowHandle() && QApplication::activeWindow() != this)
        QApplication::setActiveWindow(this);
    Text1->setFocus();
}

void frmDict::bringToFront(const ActivationHint &hint)
{
    m_activation->bringToFront(hint);
}

void frmDict::lookUpFromOutside(const ActivationHint &hint)
{
    m_activation->lookUpFromOutside(hint);
}

void frmDict::showWholePair()
{
    if (!gridd[0]->isVisible())
        return;
    auto *view = new PairView(gridd[0]->cellText(), gridd[1]->cellText(), m_fontName, this);
    // Closed, it hands the keys back to the text box.
    connect(view, &QDialog::finished, this, &frmDict::backToText);
    view->show();
}

void frmDict::mnuCopy_Click(int index)
{
    const QString in = gridd[0]->cellText(), out = gridd[1]->cellText();
    const QString text = index == 0 ? in + QStringLiteral(" = ") + out : index == 2 ? out : in;
    QGuiApplication::clipboard()->setText(text);
}

void frmDict::mnuAbout_Click()
{
    showBox(this, QMessageBox::Information, QStringLiteral("O aplikaci"),
            QStringLiteral("Tarnvik v1.0\n\nCopyright © 2026 tým Tarnvik"));
}

void frmDict::mnuHomePage_Click()
{
    const QUrl page = homePage(QStringLiteral(TARNVIK_HOME_PAGE), QCoreApplication::applicationDirPath());
    if (!QDesktopServices::openUrl(page))
        message(QMessageBox::Information,
                QStringLiteral("Domovské stránky produktu se nepodařilo otevřít: pro „%1“ není v systému nastaven "
                               "žádný program.")
                    .arg(page.isLocalFile() ? QDir::toNativeSeparators(page.toLocalFile()) : page.toString()));
}

void frmDict::Form_Unload()
{
    m_session->saveAtEnd(StripSession::Ending::Quit);
    if (frmCombo *list = m_box->loaded())
        list->hide();
    QCoreApplication::quit();
}

void frmDict::endSession()
{
    m_session->saveAtEnd(StripSession::Ending::SessionEnd);
    Form_Unload();
}

void frmDict::closeEvent(QCloseEvent *e)
{
    e->accept();
    Form_Unload();
}

void frmDict::popUp(QMenu *menu, QPoint windowPos)
{
    menu->exec(mapToGlobal(windowPos));
}

void frmDict::mousePressEvent(QMouseEvent *e)
{
    // Presses a control let through are not presses on the surface.
    if (childAt(e->position().toPoint())) {
        e->ignore();
        return;
    }
    dropDown()->hide();
    Text1->setFocus();
    if (e->buttons() != Qt::LeftButton) {
        m_drag->stop();
        popUp(mnuX, e->position().toPoint());
        return;
    }
    m_drag->press(e);
}

void frmDict::moveEvent(QMoveEvent *e)
{
    QWidget::moveEvent(e);
    // Kept once the user has dragged the window: a place the program or the
    // window manager chose is chosen again next time.
    if (m_drag->moved() && clientPlacesWindows())
        m_session->setPlace(pos());
}

void frmDict::mouseReleaseEvent(QMouseEvent *)
{
    m_drag->release();
}

void frmDict::mouseMoveEvent(QMouseEvent *e)
{
    m_drag->move(e);
}

bool frmDict::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_hint && event->type() == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        if (press->button() == Qt::LeftButton)
            QTimer::singleShot(0, this, &frmDict::addFirstDictionary);
        else
            popUp(mnuX, m_hint->geometry().topLeft() + press->position().toPoint());
        return true;
    }
    if (watched == Text1) {
        // A dictionary file dropped on the text is the strip's, not text.
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop) {
            auto *drop = static_cast<QDropEvent *>(event);
            if (event->type() == QEvent::Drop)
                dropEvent(drop);
            else
                takeDictionaries(drop);
            if (drop->isAccepted())
                return true;
        }
        if (event->type() == QEvent::FocusIn && m_box->loaded()) {
            m_box->loaded()->hide();
        } else if (event->type() == QEvent::MouseButtonPress
                   && static_cast<QMouseEvent *>(event)->button() == Qt::RightButton) {
            popUp(mnuX, Text1->geometry().topLeft() + static_cast<QMouseEvent *>(event)->position().toPoint());
            Text1->setFocus();
            return true;
        } else if (event->type() == QEvent::KeyPress) {
            m_session->keyTyped();
            const auto *k = static_cast<QKeyEvent *>(event);
            switch (stripKey(k->key(), k->modifiers(), m_hint->isVisible())) {
            case StripKey::Own:
                break;
            case StripKey::OpenList:
                if (dropDown()->rowCount() > 0)
                    expandCombo();
                return true;
            case StripKey::WholePair:
                showWholePair();
                return true;
            case StripKey::AddDictionary:
                addFirstDictionary();
                return true;
            case StripKey::PairMenu:
                if (gridd[0]->isVisible())
                    popUp(mnuY, gridd[0]->geometry().bottomLeft());
                return true;
            case StripKey::WindowMenu:
                popUp(mnuX, Text1->geometry().bottomLeft());
                Text1->setFocus();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmDict::mnuTopMost_Click()
{
    m_session->setTopMost(!m_session->topMost());
    applyTopMost();
}

void frmDict::applyTopMost()
{
    mnuTopMost->setChecked(m_session->topMost());
    SetTopMost(this, m_session->topMost());
    // Changed in place: the window keeps the keys it had.
}

void frmDict::message(QMessageBox::Icon icon, const QString &text)
{
    showBox(this, icon, kAppTitle, text);
}

void frmDict::showEvent(QShowEvent *e)
{
    QWidget::showEvent(e);
    // A window manager need not focus a new window that was not clicked (and
    // no window is clicked at the start): the strip asks to be active, so the
    // first keys typed reach the text box.
    if (!m_shownOnce) {
        m_shownOnce = true;
        activateWindow();
    }
}

void frmDict::paintEvent(QPaintEvent *)
{
    paintPicture(this, QStringLiteral(":/tarnvik/background.svg"), m_background);
}

} // namespace tarnvik
