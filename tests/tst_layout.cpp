// Geometry in twips: the first-match grids over Combo1, the drop-down's
// columns, the metrics, and the step to pixels.
#include "dropdown/DropDownLayout.h"
#include "lookup/Layout.h"

#include <QtTest>

#include <cmath>

using namespace tarnvik;

// Two screens side by side, the second taller.
static const QList<QRect> kScreens = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1920, 1200)};

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    // The first-match grids over Combo1, the drop-down's columns under them,
    // and the metrics they are drawn with.
    void gridsAndColumns()
    {
        const Metrics m; // 96 dpi: a thumb 240 twips wide, frames of 45, borders of 15
        const TwipRect combo1{3075, 90, 3000, 360};
        const FirstMatchLayout l = setGridLayout(combo1, m);
        QCOMPARE(l.columnWidth, 1358);
        QCOMPARE(l.gridd[0], (TwipRect{3120, 135, 1357.5, 270}));
        QCOMPARE(l.gridd[1], (TwipRect{4477.5, 135, 1312.5, 270}));
        // The face ends a frame width before the drop-down button, which stays uncovered.
        QCOMPARE(l.gridd[1].left + l.gridd[1].width, combo1.left + combo1.width - 240 - 45);

        // A whole width, and halves rounded up and down to even.
        for (const auto &[combo, col1] : {std::pair(3000.0, 1515), std::pair(3001.0, 1516), std::pair(3003.0, 1516)}) {
            const DropDownColumns c = tarnvik::dropDownColumns(combo, m);
            const QByteArray row = QByteArray::number(combo);
            QVERIFY2(c.columnWidth[1] == col1, row);
            // The list's second column, inside grid 1's left border, starts where
            // the first match's second grid does.
            const TwipRect box{3075, 90, combo, 360};
            QVERIFY2(box.left + c.grid1Left + m.BorderX == setGridLayout(box, m).gridd[1].left, row);
            // Grid 1 ends at the list's right edge, with the list as wide as Combo1.
            const DropDownPlacement p = expandComboPlacement(box, 240, 3, c.columnWidth[1], {0, 0, 19200, 12000}, m);
            QVERIFY2(c.grid1Left + c.grid1Width == p.window.width && qAbs(p.window.width - combo) <= 1, row);
            // Grid 0 reaches under grid 1; its column ends under grid 1's border.
            QVERIFY2(c.grid0Width > c.grid1Left + m.BorderX && qAbs(c.columnWidth[0] - c.grid1Left) <= 0.5, row);
        }

        // The metrics, each from its own pixel size and its own axis.
        const Metrics m144 = computeMetrics(144, 120, {1, 3, 2, 16});
        QCOMPARE(u"twips/px %1 %2, border %3, frame %4 %5, thumb %6"_qs.arg(m144.TwipsPerPixelX).arg(m144.TwipsPerPixelY)
                     .arg(m144.BorderX).arg(m144.FrameX).arg(m144.FrameY).arg(m144.ThumbX),
                 u"twips/px 10 12, border 10, frame 30 24, thumb 160"_qs);
        // At 96 dpi neighbouring grids stay flush in pixels.
        const Metrics m96 = computeMetrics(96, 96, {1, 3, 3, 16});
        const FirstMatchLayout l96 = setGridLayout({3075, 90, 5745, 360}, m96);
        const QRect a = toPixels(l96.gridd[0], m96), b = toPixels(l96.gridd[1], m96);
        QCOMPARE(a.right() + 1, b.left());
        QCOMPARE(toPixels(design::Combo1, m96), QRect(205, 6, 383, 24));
        QCOMPARE(toPixels({0, 0, design::WindowWidth, design::WindowHeight}, m96).size(), QSize(600, 40));
    }

    void dropDownPlacement()
    {
        const Metrics m;
        const int column = 1515; // grid(1)'s column for a Combo1 3000 wide
        // Room below: directly under Combo1, as wide, three rows and a border high.
        DropDownPlacement p = expandComboPlacement({4575, 3090, 3000, 360}, 240, 3, column, {0, 0, 19200, 12000}, m);
        QCOMPARE(p.window, (TwipRect{4575, 3450, 3000, 3 * 240 + 15}));
        // The grids' rows end at the window's bottom edge, their border below it.
        QCOMPARE(p.gridHeight, p.window.height + 15);

        // Wherever Combo1 is and however many rows: whole rows, on the screen,
        // right below Combo1 or ending at its upper edge (never over it, nor
        // the text box on its band), every row shown when they fit on either side.
        for (double screenTop : {0.0, 600.0})
            for (double comboTop = screenTop; comboTop + 360 <= 10000; comboTop += 370)
                for (int rows : {1, 3, 20, 39, 40, 41, 100000}) {
                    const TwipRect combo{1500, comboTop, 3000, 360};
                    p = expandComboPlacement(combo, 240, rows, column, {0, screenTop, 19200, 10000 - screenTop}, m);
                    const double bottom = p.window.top + p.window.height;
                    const QString at = QStringLiteral("combo at %1, %2 rows").arg(comboTop).arg(rows);
                    QVERIFY2(p.window.top >= screenTop && bottom <= 10000, qPrintable(at));
                    QVERIFY2(p.window.top == comboTop + 360 || bottom == comboTop, qPrintable(at));
                    const double shownRows = (p.window.height - 15) / 240;
                    QVERIFY2(shownRows >= 1 && shownRows == std::floor(shownRows), qPrintable(at));
                    const double roomier = std::max(10000 - comboTop - 360, comboTop - screenTop);
                    if (rows * 240 + 15 <= roomier)
                        QVERIFY2(shownRows == rows, qPrintable(at));
                    else
                        QVERIFY2((shownRows + 1) * 240 + 15 > roomier, qPrintable(at));
                }

        // Exactly as much room above as below: under Combo1.
        QCOMPARE(expandComboPlacement({1500, 4820, 3000, 360}, 240, 100, column, {0, 0, 19200, 10000}, m).window.top,
                 5180.0);

        // Inside the screen the strip is on, also where Combo1 passes its
        // edges (the second of two screens, from 19200 to 48000 twips).
        const TwipRect second{19200, 0, 28800, 18000};
        for (double comboLeft : {-1000.0, 19000.0, 19200.0, 30000.0, 45000.0, 47000.0, 50000.0})
            for (double comboTop : {-2000.0, -300.0, 0.0, 9000.0, 17800.0, 19000.0}) {
                const TwipRect combo{comboLeft, comboTop, 3000, 360};
                p = expandComboPlacement(combo, 240, 1000, column, second, m);
                const QString at = QStringLiteral("combo at %1, %2").arg(comboLeft).arg(comboTop);
                QVERIFY2(p.window.left >= second.left && p.window.left + p.window.width <= second.left + second.width,
                         qPrintable(at));
                QVERIFY2(p.window.top >= second.top && p.window.top + p.window.height <= second.top + second.height,
                         qPrintable(at));
                // Where Combo1 lies on the screen, the list starts at its left edge.
                if (comboLeft >= second.left && comboLeft + 3000 <= second.left + second.width)
                    QVERIFY2(p.window.left == comboLeft, qPrintable(at));
            }
        // Wider than the screen: from its left edge.
        QCOMPARE(expandComboPlacement({500, 0, 3000, 360}, 240, 3, column, {0, 0, 2000, 9000}, m).window.left, 0.0);
    }

    // A stored place comes back where it still lies on a screen; partly off,
    // it is moved onto the screen it overlaps most; off every one, the
    // fallback. The window is 600 x 40.
    void onScreens()
    {
        // On the first screen, on the second, across both (mostly the first),
        // partly below the second, left of every screen, where the first
        // screen was taller.
        const QList<QPoint> stored = {{100, 50}, {1500, 700}, {900, 100}, {1400, 1190}, {-700, 100}, {100, 900}};
        const QList<QPoint> placed = {{100, 50}, {1500, 700}, {680, 100}, {1400, 1160}, {5, 5}, {5, 5}};
        QList<QPoint> got;
        for (const QPoint &p : stored)
            got << tarnvik::placeOnScreens(p, QSize(600, 40), kScreens, QPoint(5, 5));
        QCOMPARE(got, placed);
        QCOMPARE(tarnvik::placeOnScreens(std::nullopt, QSize(600, 40), kScreens, QPoint(5, 5)), QPoint(5, 5));

        // After a drag the text box and the pair (x 100..588 and y 6..30)
        // come back onto the screen the strip overlaps most. On the screen;
        // the picture off the left edge; 20 px left at the right edge; 25 px
        // above the top; below the bottom; off the left, over the top; across
        // both, mostly the first; mostly on the second; on no screen.
        const QList<QPoint> dropped = {{300, 200}, {-90, 200}, {3180, 200}, {300, -25}, {300, 790},
                                       {-300, -30}, {900, 100}, {1270, 300}, {300, 1000}};
        const QList<QPoint> kept = {{300, 200}, {-90, 200}, {2612, 200}, {300, -6}, {300, 770},
                                    {-100, -6}, {692, 100}, {1270, 300}, {300, 770}};
        got.clear();
        for (const QPoint &p : dropped)
            got << tarnvik::keepOnScreens(QRect(p, QSize(600, 40)), QRect(100, 6, 488, 24), kScreens);
        QCOMPARE(got, kept);

        // While dragged (in twips) the pressed point follows the pointer.
        const TwipRect w{1000, 1000, 9000, 600};
        const QPointF anchor(300, 200);
        QCOMPARE(dragTo(w, {500, 400}, anchor, 20000, 15000), QPointF(1200, 1200));
        // Stops at the top-left corner, and flush with the right and bottom edges.
        QCOMPARE(dragTo(w, {-5000, -5000}, anchor, 20000, 15000), QPointF(0, 0));
        QCOMPARE(dragTo(w, {50000, 50000}, anchor, 20000, 15000), QPointF(11000, 14400));
        // Wider than the screen: flush right, with a negative left.
        QCOMPARE(dragTo(w, {-5000, 0}, anchor, 6000, 15000).x(), -3000.0);
    }
};

QTEST_APPLESS_MAIN(TestLayout)
#include "tst_layout.moc"
