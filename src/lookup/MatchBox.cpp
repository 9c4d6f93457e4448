#include "MatchBox.h"

#include "Layout.h"
#include "Lookup.h"
#include "dropdown/frmCombo.h"
#include "frmDict.h"
#include "platform/Dict.h"
#include "platform/Metrics.h"
#include "platform/Colours.h"
#include "widgets/CellGrid.h"
#include "widgets/DropButtonBox.h"
#include "widgets/Lamp.h"
#include "widgets/Paint.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QTableView>
#include <QTimer>

namespace tarnvik {

namespace {
const QString kDiacriticsIgnored = QStringLiteral(
    "Nalezeno bez ohledu na diakritiku a velikost písmen: přesně tak, jak je text napsaný, ve zdroji není.");
} // namespace

void setBackColor(QWidget *w, unsigned bgr)
{
    QPalette pal = w->palette();
    for (auto role : {QPalette::Base, QPalette::Button, QPalette::Window})
        pal.setColor(role, fromBgr(bgr));
    w->setPalette(pal);
}

MatchBox::MatchBox(frmDict &strip) : QObject(&strip), m_strip(strip) {}

void MatchBox::pairClicked()
{
    m_pairClicked.start();
    expand();
}

frmCombo *MatchBox::list()
{
    if (!m_list) {
        m_list = new frmCombo(design::Combo1.width, m_strip.Combo1);
        connect(m_list, &frmCombo::chosen, this, &MatchBox::choose);
        // Typing goes on while the list is open; the look-up refills it.
        connect(m_list, &frmCombo::keyForText, this, [this](QEvent *e) {
            QApplication::sendEvent(m_strip.Text1, e);
            // A look-up with no match closed the list: the keys stay here.
            if (!m_list->isVisible())
                m_strip.Text1->setFocus();
        });
        connect(m_list, &frmCombo::wholeRowRequested, this, [this](int row) {
            choose(row);
            m_strip.showWholePair();
        });
        // A press on the strip while the list is open does what it does
        // there; menus open once the list has closed.
        m_list->setOutsidePress([this](QPoint global, Qt::MouseButton button) {
            using Outside = frmCombo::Outside;
            const QPoint at = m_strip.mapFromGlobal(global);
            if (!m_strip.isVisible() || !m_strip.rect().contains(at))
                return Outside::Replay;
            QWidget *under = m_strip.childAt(at);
            for (int i = 0; i < 2; ++i) {
                if (under != m_strip.gridd[i])
                    continue;
                if (button != Qt::LeftButton) {
                    QTimer::singleShot(0, this, [this, at] { m_strip.popUp(m_strip.mnuY, at); });
                    return Outside::Handled;
                }
                // The first click on the pair opened the list; a second one
                // soon after means the pair itself. Else the list stays.
                if (m_pairClicked.isValid() && m_pairClicked.elapsed() < QApplication::doubleClickInterval()) {
                    m_pairClicked.invalidate();
                    QTimer::singleShot(0, &m_strip, &frmDict::showWholePair);
                    return Outside::Handled;
                }
                m_pairClicked.start();
                return Outside::KeepOpen;
            }
            // The left button there closes the list and the keys go back to
            // the text box (hidden), wherever a platform puts the press.
            if (under == m_strip.Text1 && button != Qt::RightButton)
                return Outside::Replay;
            if (under == m_strip.Text1 || (!under && button != Qt::LeftButton)) {
                QTimer::singleShot(0, this, [this, at] { m_strip.popUp(m_strip.mnuX, at); });
                return Outside::Handled;
            }
            // Combo1's arrow closes the list, as a combo box's does; the
            // picture too.
            return Outside::Handled;
        });
        connect(m_list, &frmCombo::menuRequested, this, [this](int row) {
            choose(row);
            m_strip.popUp(m_strip.mnuY, m_strip.gridd[0]->geometry().bottomLeft());
        });
        // However it closed (a press elsewhere too), the focus coming back to
        // Combo1 does not open it again, and the keys go on into the text box
        // (only its window's focus is set: activation stays where it went).
        connect(m_list, &frmCombo::hidden, this, [this] {
            setReopenGuard();
            m_strip.Combo1->listClosed();
            if (m_strip.focusWidget() != m_strip.Text1)
                m_strip.Text1->setFocus();
        });
        // The focus that left for another program is not taken back.
        connect(m_list, &frmCombo::focusLost, this, [this](bool toOtherProgram) { close(!toOtherProgram); });
        connect(m_list, &frmCombo::dismissed, this, [this] { close(true); });
    }
    return m_list;
}

void MatchBox::setReopenGuard()
{
    // The guard joins the events of one user action (a click that focuses
    // Combo1 and presses its button). It lapses once that action has been
    // handled: a later click must open the list, and focus handed back by a
    // closing window is no request in the first place (see DropButtonBox).
    m_reopenGuard = true;
    QTimer::singleShot(0, this, [this] { m_reopenGuard = false; });
}

void MatchBox::checkStatus()
{
    if (m_reopenGuard) {
        m_reopenGuard = false;
        return;
    }
    if (list()->rowCount() != 0)
        expand();
    setReopenGuard();
}

void MatchBox::keyOnPair(QKeyEvent *e)
{
    expand();
    const bool types = e->key() == Qt::Key_Backspace || (!e->text().isEmpty() && e->text().front().isPrint());
    if (types && list()->isVisible())
        QApplication::sendEvent(list()->grid(0), e);
}

void MatchBox::expand()
{
    frmCombo *l = list();
    place();
    l->show();
    l->grid(0)->setFocus();
}

void MatchBox::place()
{
    const Metrics &m = metrics();
    frmCombo *l = list();
    // In the window's own coordinates mapped out, as a combo box places its
    // list: right also where the platform never tells where the window is.
    const QPoint at = m_strip.Combo1->mapToGlobal(QPoint(0, 0));
    const QScreen *on = QGuiApplication::screenAt(m_strip.Combo1->mapToGlobal(m_strip.Combo1->rect().center()));
    if (!on)
        on = m_strip.screen();
    const QRect avail = on ? on->availableGeometry() : QRect(0, 0, 1 << 20, 1 << 20);
    const TwipRect combo = toTwips(QRect(at, m_strip.Combo1->size()), m);
    TwipRect screenTwips = toTwips(avail, m);
    // Where the program is never told where its window is, the compositor
    // keeps the list on the screen; a left edge of ours would misplace it.
    if (!clientPlacesWindows()) {
        screenTwips.left = -1e9;
        screenTwips.width = 2e9;
    }
    l->place(expandComboPlacement(combo, l->rowHeightTwips(), l->rowCount(), l->grid1ColumnTwips(),
                                     screenTwips, m));
}

void MatchBox::choose(int row)
{
    const ResultModel &model = list()->model();
    showPair(model.text(row, 0), model.text(row, 1), model.diacriticsIgnored(row));
    close(true);
}

void MatchBox::close(bool typeOn)
{
    list()->hide(); // which sets the reopen guard
    if (typeOn)
        m_strip.backToText();
}

void MatchBox::show(const LookupResult &r)
{
    switch (r.kind) {
    case LookupResult::Found:
        showProblem(QString());
        showPair(r.firstIn, r.firstOut, r.diacriticsIgnored);
        m_strip.gridd[0]->show();
        m_strip.gridd[1]->show();
        list()->model().setMatches(r.matches);
        if (list()->isVisible())
            place();
        m_strip.Shape1->setFillColor(fromBgr(kGreen));
        return;
    case LookupResult::Waiting:
        return waiting(r.problem);
    default:
        // While typing only the colours and the tool tip tell a problem: a
        // box would take the keys typed after it (see StripSession::sourceProblem).
        noMatch();
        showProblem(r.problem);
        return;
    }
}

void MatchBox::waiting(const QString &why)
{
    // Typing goes on; the look-up runs again for the text as it then stands
    // once the source is ready (lookUpDue). The lamp stays red till
    // then, and the box shows neither yellow nor red: whether anything
    // matches is not known yet.
    noMatch();
    m_strip.Combo1->setPalette(QPalette());
    showProblem(why);
    m_strip.Shape1->setFillColor(fromBgr(kRed));
}

void MatchBox::showProblem(const QString &why)
{
    m_problem = why;
    m_strip.Combo1->setToolTip(why);
    m_strip.Shape1->setToolTip(why);
}

void MatchBox::noMatch()
{
    showProblem(QString());
    m_strip.Combo1->clear();
    m_strip.gridd[0]->hide();
    m_strip.gridd[1]->hide();
    list()->hide();
    list()->model().clear();
    setBackColor(m_strip.Combo1, kLightRed);
    m_strip.Shape1->setFillColor(fromBgr(kGreen));
}

void MatchBox::showPair(const QString &in, const QString &out, bool diacriticsIgnored)
{
    m_strip.gridd[1]->setCellText(out);
    m_strip.gridd[0]->setCellText(in);
    // Combo1's tip is said anew for each pair, not added to the last one's.
    m_strip.Combo1->setToolTip(m_problem);
    // The pair covers Combo1: it shows the colour and the tool tip too.
    for (QWidget *w : std::initializer_list<QWidget *>{m_strip.Combo1, m_strip.gridd[0], m_strip.gridd[1]}) {
        setBackColor(w, diacriticsIgnored ? kLightBlue : kYellow);
        if (diacriticsIgnored)
            w->setToolTip(w->toolTip().isEmpty() ? kDiacriticsIgnored
                                                 : kDiacriticsIgnored + u"\n\n"_qs + w->toolTip());
    }
}

} // namespace tarnvik
