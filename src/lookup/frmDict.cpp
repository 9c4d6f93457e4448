#include "frmDict.h"

#include "Controls.h"
#include "Layout.h"
#include "dropdown/frmCombo.h"
#include "platform/Dict.h"
#include "platform/Metrics.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTableView>
#include <QTimer>

// The picture lives in a static library, whose resources load only on request.
static void initResources()
{
    Q_INIT_RESOURCE(tarnvik);
}

namespace tarnvik {

namespace {
const QString kTitle = QStringLiteral("Tarnvik");
const QString kNoSources = QStringLiteral("Chyba při načítání dat");
constexpr unsigned kYellow = 0xC0FFFF, kLightRed = 0x8080FF, kGreen = 0x00FF00;

void setBackColor(QWidget *w, unsigned bgr)
{
    QPalette pal = w->palette();
    for (auto role : {QPalette::Base, QPalette::Button, QPalette::Window})
        pal.setColor(role, fromBgr(bgr));
    w->setPalette(pal);
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
    : QWidget(parent), m_store(store)
{
    initResources();
    m_background.load(QStringLiteral(":/tarnvik/background.png"));
    setObjectName(QStringLiteral("frmDict"));
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setFrame(true);
    setBackColor(Text1, kYellow);
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    setBackColor(Combo1, kYellow);
    Shape1 = new Lamp(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    for (int i = 0; i < 2; ++i) {
        gridd[i] = new CellGrid(this);
        gridd[i]->setObjectName(QStringLiteral("gridd%1").arg(i));
    }
    for (QWidget *w : {static_cast<QWidget *>(Text1), static_cast<QWidget *>(Combo1)})
        setFace(w, QStringLiteral("Tahoma"));
    Text1->setProperty("charset", 238);
    buildMenus();
    connect(Text1, &QLineEdit::textChanged, this, &frmDict::Text1_Change);
    Form_Load();
}

frmDict::~frmDict()
{
    delete m_dropDown;
}

void frmDict::buildMenus()
{
    mnuX = new QMenu(this);
    mnuX->setObjectName(QStringLiteral("mnuX"));
    mnuActLang = mnuX->addMenu(QStringLiteral("Aktivní zdroj dat"));
    mnuActLang->setObjectName(QStringLiteral("mnuActLang"));
    mnuLang.push_back(mnuActLang->addAction(kNoSources));
    mnuLang[0]->setCheckable(true);
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
    // The handler inverts the mark itself; undo the action's own toggle first.
    connect(mnuTopMost, &QAction::triggered, this, [this] {
        mnuTopMost->setChecked(!mnuTopMost->isChecked());
        mnuTopMost_Click();
    });
}

void frmDict::Form_Load()
{
    setWindowTitle(kTitle);
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
    Shape1->setGeometry(toPixels(design::Shape1, m));

    getAllMySettings();

    // From here a failing step is skipped.
    setFace(Text1, m_fontName);
    if (!QFontDatabase::hasFamily(m_fontName)) {
        m_fontName = QStringLiteral("Arial");
        setFace(Text1, m_fontName);
    }
    gridd[0]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    gridd[1]->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    setFace(gridd[0], m_fontName);
    setFace(gridd[1], m_fontName);
    setFace(dropDown()->grid(0), m_fontName);
    setFace(dropDown()->grid(1), m_fontName);
    setGrid();
    if (!m_sources.isEmpty())
        setCharset(m_sources[m_active].CharsetIn, m_sources[m_active].CharsetOut);
    Text1_Change();
}

frmCombo *frmDict::dropDown()
{
    if (!m_dropDown)
        m_dropDown = new frmCombo(design::Combo1.width);
    return m_dropDown;
}

void frmDict::getAllMySettings()
{
    m_store.reload();
    if (!m_store.problem().isEmpty() && !m_toldStoreProblem) {
        m_toldStoreProblem = true;
        const QString text =
            QStringLiteral("Soubor nastavení „%1“ nelze použít: %2.\n\n"
                           "Program začíná s výchozím nastavením. Soubor zůstane, jak je, "
                           "dokud nastavení znovu neuložíte ve Správě datových zdrojů.")
                .arg(QDir::toNativeSeparators(m_store.path()), m_store.problem());
        // After the window is up, so the start-up is not held by the box.
        QTimer::singleShot(0, this, [this, text] { message(QMessageBox::Warning, text); });
    }
    const LookupSettings s = readLookupSettings(m_store, defaultSearchFolders());
    mnuTopMost->setChecked(!s.topMost);
    mnuTopMost_Click();
    m_fontName = s.fontName;
    if (s.sources.isEmpty()) {
        clearSourceMenu();
        m_sources.clear();
        m_active = 0;
        Data1.setDatabaseName(QString());
        return;
    }
    while (mnuLang.size() > 1)
        delete mnuLang.takeLast();
    m_sources = s.sources;
    for (int j = 0; j < m_sources.size(); ++j) {
        if (j == mnuLang.size()) {
            mnuLang.push_back(mnuActLang->addAction(QString()));
            mnuLang[j]->setCheckable(true);
        }
        QAction *entry = mnuLang[j];
        entry->setChecked(false);
        entry->setSeparator(m_sources[j].Title == u"-");
        entry->setText(m_sources[j].Title);
        entry->setEnabled(true);
        entry->setVisible(true);
    }
    m_active = s.active;
    mnuLang[m_active]->setChecked(true);
    Data1.setDatabaseName(m_sources[m_active].File);
}

void frmDict::clearSourceMenu()
{
    while (mnuLang.size() > 1)
        delete mnuLang.takeLast();
    mnuLang[0]->setSeparator(false);
    mnuLang[0]->setText(kNoSources);
    mnuLang[0]->setChecked(false);
    mnuLang[0]->setEnabled(false);
}

bool frmDict::saveAllMySettings()
{
    // A file that could not be read stays for the user to mend or replace
    // knowingly; only an explicit save of the catalogue overwrites it.
    if (!m_store.problem().isEmpty())
        return true;
    writeLookupSettings(m_store, mnuTopMost->isChecked(), m_active);
    QString error;
    if (m_store.sync(&error))
        return true;
    message(QMessageBox::Critical, error);
    return false;
}

void frmDict::setGrid()
{
    const Metrics &m = metrics();
    const FirstMatchLayout l = setGridLayout(design::Combo1, m);
    for (int i = 0; i < 2; ++i)
        gridd[i]->setGeometry(toPixels(l.gridd[i], m));
}

void frmDict::setCharset(uint8_t inCharset, uint8_t outCharset)
{
    Text1->setProperty("charset", inCharset);
    gridd[0]->setProperty("charset", inCharset);
    gridd[1]->setProperty("charset", outCharset);
    dropDown()->grid(0)->setProperty("charset", inCharset);
    dropDown()->grid(1)->setProperty("charset", outCharset);
    // What the charsets change here: how stored text reads, in the look-up.
    Data1.setCharsets(inCharset, outCharset);
}

void frmDict::Text1_Change()
{
    Shape1->setFillColor(fromBgr(0x0000FF));
    noMatch();
}

void frmDict::noMatch()
{
    Combo1->clear();
    gridd[0]->hide();
    gridd[1]->hide();
    dropDown()->hide();
    setBackColor(Combo1, kLightRed);
    Shape1->setFillColor(fromBgr(kGreen));
}

void frmDict::mnuTopMost_Click()
{
    mnuTopMost->setChecked(!mnuTopMost->isChecked());
    SetTopMost(this, mnuTopMost->isChecked());
}

void frmDict::message(QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box(icon, kTitle, text, QMessageBox::Ok, this);
    box.exec();
}

void frmDict::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawPixmap(rect(), m_background);
}

} // namespace tarnvik
