// The result list as the user sees it: scroll bars only for a list that does
// not fit, scrolling by whole rows with both columns together, its colours,
// and its columns lined up with the pair shown in the lookup window.
#include "db/query/Like.h"
#include "dropdown/frmCombo.h"
#include "widgets/CellGrid.h"
#include "widgets/DropButtonBox.h"
#include "lookup/Layout.h"
#include "lookup/MatchBox.h"
#include "lookup/frmDict.h"
#include "platform/Colours.h"
#include "widgets/Paint.h"
#include "util/Strip.h"

#include <QApplication>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTableView>
#include <QtTest>

using namespace tarnvik;

namespace {

// A desktop whose style scrolls item views by the pixel.
class PerPixelStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_ItemView_ScrollMode)
            return QAbstractItemView::ScrollPerPixel;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Rows "w0000".."wNNNN" with outputs of the same text, and those the pattern finds.
Matches matchesOf(int rows, const QString &pattern = QStringLiteral("*"))
{
    LookupIndex::Builder b;
    for (int i = 0; i < rows; ++i) {
        const QString s = QStringLiteral("w%1").arg(i, 4, 10, QChar(u'0'));
        b.addRow(&s, &s);
    }
    QString error;
    return b.build()->find(*LikePattern::compile(pattern, &error));
}

// Whether the first visible row starts at the top of the view.
bool topRowWhole(QTableView *g) { return g->rowViewportPosition(g->rowAt(0)) == 0; }

void wheel(QWidget *viewport, QPoint angle, QPoint pixels = {})
{
    const QPointF pos(viewport->width() / 2.0, 5);
    QWheelEvent e(pos, viewport->mapToGlobal(pos), pixels, angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                  false);
    QApplication::sendEvent(viewport, &e);
}

} // namespace

class TestDropDown : public QObject
{
    Q_OBJECT
    testutil::Strip m_w;

    frmCombo *list() { return m_w->dropDown(); }
    void open(int rows)
    {
        // Closed first, and the focus back in the lookup window, as after a choice.
        list()->hide();
        m_w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_w.window()));
        list()->model().setMatches(matchesOf(rows));
        m_w->expandCombo();
        QVERIFY(QTest::qWaitForWindowActive(list()));
    }

private slots:
    void initTestCase()
    {
        QApplication::setStyle(new PerPixelStyle(QStyleFactory::create(QStringLiteral("fusion"))));
        m_w.start(QStringLiteral("[Settings]\nTopMost=False\n"));
    }

    // Closed, the list keeps its matches for the strip but shows its views
    // none; opened again it is on the row it was closed on, unless the
    // matches changed meanwhile.
    void reopened()
    {
        open(20);
        list()->setCurrentRow(7);
        list()->hide();
        QCOMPARE(std::pair(list()->rowCount(), list()->grid(0)->model()->rowCount()), std::pair(20, 0));
        m_w->expandCombo();
        QCOMPARE(list()->grid(1)->model()->rowCount(), 20);
        QCOMPARE(std::pair(list()->currentRow(), list()->grid(1)->currentIndex().row()), std::pair(7, 7));
        // A row clicked where the pointer rests (no move, as after the wheel)
        // is the one chosen, and the one the list opens on again.
        QTableView *g = list()->grid(1);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(g->model()->index(3, 1)).center());
        QTRY_VERIFY(list()->isHidden());
        m_w->expandCombo();
        QCOMPARE(list()->currentRow(), 3);
        open(20); // the same rows, found again
        QCOMPARE(list()->currentRow(), 0);
    }

    // A scroll bar only for rows that do not fit.
    void scrolling()
    {
        for (int rows : {1, 4, 20}) {
            open(rows);
            for (int i = 0; i < 2; ++i)
                QVERIFY2(!list()->grid(i)->verticalScrollBar()->isVisible(), qPrintable(QString::number(rows)));
            // Every row shows whole in the window.
            QTableView *g = list()->grid(1);
            const QRect last = g->visualRect(g->model()->index(rows - 1, 1));
            QVERIFY(g->viewport()->mapTo(list(), last.bottomLeft()).y() < list()->height());
        }
        open(2000);
        QScrollBar *bar = list()->grid(1)->verticalScrollBar();
        QVERIFY(bar->isVisible() && !list()->grid(0)->verticalScrollBar()->isVisible());
        // At the list's right edge, all of it inside the window, and on top.
        QVERIFY(list()->rect().contains(QRect(bar->mapTo(list(), QPoint(0, 0)), bar->size())));
        QCOMPARE(bar->mapTo(list(), QPoint(bar->width(), 0)).x(), list()->width() - 1);
        QCOMPARE(list()->childAt(bar->mapTo(list(), bar->rect().center())), bar);

        // Scrolled by whole rows, both columns together.
        QTableView *g0 = list()->grid(0), *g1 = list()->grid(1);
        int before = 0;
        // Moved on by 'step', both columns together, each on a whole row.
        auto together = [&](auto step) {
            before = g0->rowAt(0);
            step();
            QVERIFY(g0->rowAt(0) > before);
            QCOMPARE(g1->rowAt(0), g0->rowAt(0));
            QVERIFY(topRowWhole(g0) && topRowWhole(g1));
        };
        // A notch of a wheel over either column, and a touchpad's small steps.
        for (QTableView *g : {g0, g1}) {
            together([&] { wheel(g->viewport(), {0, -120}); });
            together([&] {
                for (int i = 0; i < 30; ++i)
                    wheel(g->viewport(), {0, -6}, {0, -3});
            });
        }
        // The keyboard, and the scroll bar's arrow.
        together([&] {
            QTest::keyClick(g0, Qt::Key_PageDown);
            QTest::keyClick(g0, Qt::Key_PageDown);
        });
        together([&] { g1->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd); });
        QCOMPARE(g0->rowAt(0), before + 1);
    }

    // Its colours, the text's place in each column, and the columns' edges.
    void drawn()
    {
        open(4);
        list()->setCurrentRow(1);
        QTableView *g0 = list()->grid(0), *g1 = list()->grid(1);
        QCOMPARE(QApplication::focusWidget(), g0); // grid 1 is not the focused one
        const QImage shot = list()->grab().toImage();
        auto at = [&](QTableView *g, QPoint p) { return QColor(shot.pixel(g->viewport()->mapTo(list(), p))); };
        const int h = g0->rowHeight(0);
        const int x0 = 3, x1 = g1->columnViewportPosition(1) + g1->columnWidth(1) - 4; // right of any text
        const QColor highlight = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
        // The style shades the focused column a little.
        auto near = [](QColor a, QColor b) {
            return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) < 24;
        };
        for (const auto &[g, x] : {std::pair(g0, x0), std::pair(g1, x1)}) {
            QCOMPARE(at(g, {x, h - 1}), QColor(0xC0, 0xC0, 0xC0)); // the line under row 0
            QCOMPARE(at(g, {x, 2}), QColor(0xFF, 0xFF, 0xC0));
            QVERIFY(near(at(g, {x, h + 2}), highlight));
        }

        // The same text sits lower in the right column: aligned to the bottom.
        auto lowestInk = [&](QTableView *g, int column) {
            const QRect cell = g->visualRect(list()->model().index(0, column));
            int lowest = -1;
            for (int y = cell.top(); y < cell.bottom(); ++y)
                for (int x = cell.left(); x < cell.left() + 30; ++x)
                    if (qGray(shot.pixel(g->viewport()->mapTo(list(), QPoint(x, y)))) < 128)
                        lowest = y - cell.top();
            return lowest;
        };
        QVERIFY(lowestInk(g0, 0) > 0 && lowestInk(g1, 1) > lowestInk(g0, 0));

        // The columns line up with the pair shown over Combo1; the left one
        // ends where the right one begins: its ellipsis shows.
        QCOMPARE(g1->viewport()->mapToGlobal(QPoint(g1->columnViewportPosition(1), 0)).x(),
                 m_w.gridd(1)->mapToGlobal(QPoint(0, 0)).x());
        const int end0 = g0->viewport()->mapTo(list(), QPoint(g0->columnViewportPosition(0) + g0->columnWidth(0), 0)).x();
        QCOMPARE(end0 - 1, g1->x()); // its grid line lies under grid 1's border

        // Below the last row, when the window is higher than the rows.
        list()->place(expandComboPlacement(design::Combo1, list()->rowHeightTwips(), 8, list()->grid1ColumnTwips(),
                                           {0, 0, 1e6, 1e6}, metrics()));
        const QImage tallShot = list()->grab().toImage();
        const QColor workspace = g0->palette().color(QPalette::Dark);
        QVERIFY(workspace != QColor(0xFF, 0xFF, 0xC0) && workspace != QColor(0xC0, 0xC0, 0xC0));
        for (QTableView *g : {g0, g1})
            QCOMPARE(QColor(tallShot.pixel(g->viewport()->mapTo(list(), QPoint(x0 + 40, 6 * h)))).rgb(), workspace.rgb());
    }

    // The box keeps the frames it drew: after any run of colours and sizes it
    // looks as a box drawing its look for the first time does.
    void boxDrawnAsNew()
    {
        DropButtonBox box;
        box.addItem(QStringLiteral("slovo"));
        for (const auto &[bgr, width] : {std::pair(kYellow, 200), std::pair(kLightRed, 200),
                                         std::pair(kLightBlue, 160), std::pair(kYellow, 160)}) {
            box.resize(width, 22);
            setBackColor(&box, bgr);
            (void)box.grab();
        }
        for (const auto &[bgr, width] : {std::pair(kLightRed, 200), std::pair(kYellow, 160)}) {
            box.resize(width, 22);
            setBackColor(&box, bgr);
            DropButtonBox fresh;
            fresh.addItem(QStringLiteral("slovo"));
            fresh.resize(width, 22);
            setBackColor(&fresh, bgr);
            QCOMPARE(box.grab().toImage(), fresh.grab().toImage());
        }
    }

    // The rows end where the matches end, though the index holds more. A row
    // found only with diacritics ignored is light blue, one found as typed not.
    void rowsEndWithTheMatches()
    {
        ResultModel model;
        model.setMatches(Matches({19}, matchesOf(20, QStringLiteral("w000*"))));
        QCOMPARE(std::pair(model.rowCount(), model.text(10, 1)), std::pair(11, u"w0009"_qs));
        QVERIFY(model.text(11, 0).isNull() && model.text(11, 1).isNull() && model.text(-1, 0).isNull());
        QCOMPARE(model.data(model.index(0, 1), Qt::BackgroundRole), QVariant(fromBgr(kLightBlue)));
        QVERIFY(!model.data(model.index(1, 1), Qt::BackgroundRole).isValid());
    }
};

QTEST_MAIN(TestDropDown)
#include "tst_dropdown.moc"
