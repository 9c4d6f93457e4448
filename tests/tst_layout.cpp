// Geometry in twips: the first-match grids over Combo1, the drop-down's
// columns, the metrics, and the step to pixels.
#include "dropdown/DropDownLayout.h"
#include "lookup/Layout.h"

#include <QtTest>

#include <cmath>

using namespace tarnvik;

class TestLayout : public QObject
{
    Q_OBJECT

    static Metrics metricsWith(int thumb, int frame, int border)
    {
        Metrics m;
        m.ThumbX = thumb;
        m.FrameX = m.FrameY = frame;
        m.BorderX = m.BorderY = border;
        return m;
    }

private slots:
    void firstMatchGrids()
    {
        const TwipRect combo{3075, 90, 3000, 360};
        const FirstMatchLayout l = setGridLayout(combo, metricsWith(240, 45, 15));
        QCOMPARE(l.columnWidth, 1358);
        QCOMPARE(l.gridd[0], (TwipRect{3120, 135, 1357.5, 270}));
        QCOMPARE(l.gridd[1], (TwipRect{4477.5, 135, 1312.5, 270}));
        // The face ends a frame width before the drop-down button, which stays uncovered.
        QCOMPARE(l.gridd[1].left + l.gridd[1].width, combo.left + combo.width - 240 - 45);
    }

    void dropDownColumns_data()
    {
        QTest::addColumn<double>("combo");
        QTest::addColumn<int>("col1");
        QTest::newRow("whole") << 3000.0 << 1515;
        QTest::newRow("half up to even") << 3001.0 << 1516;
        QTest::newRow("half down to even") << 3003.0 << 1516;
    }

    void dropDownColumns()
    {
        QFETCH(double, combo);
        const Metrics m = metricsWith(240, 45, 15);
        const DropDownColumns c = tarnvik::dropDownColumns(combo, m);
        QTEST(c.columnWidth[1], "col1");
        // The list's second column, inside grid 1's left border, starts where
        // the first match's second grid does.
        const TwipRect box{3075, 90, combo, 360};
        QCOMPARE(box.left + c.grid1Left + m.BorderX, setGridLayout(box, m).gridd[1].left);
        // Grid 1 ends at the list's right edge, with the list as wide as Combo1.
        const DropDownPlacement p = expandComboPlacement(box, 240, 3, c.columnWidth[1], {0, 0, 19200, 12000}, m);
        QCOMPARE(c.grid1Left + c.grid1Width, p.window.width);
        QVERIFY(qAbs(p.window.width - combo) <= 1);
        // Grid 0 reaches under grid 1; its column ends under grid 1's border.
        QVERIFY(c.grid0Width > c.grid1Left + m.BorderX);
        QVERIFY(qAbs(c.columnWidth[0] - c.grid1Left) <= 0.5);
    }

    void metricsFromDpi()
    {
        // Each from its own pixel size and its own axis (96 dpi: pixelsKeepNeighboursFlush).
        const Metrics m144 = computeMetrics(144, 120, {1, 3, 2, 16});
        QCOMPARE(m144.TwipsPerPixelX, 10.0f);
        QCOMPARE(m144.TwipsPerPixelY, 12.0f);
        QCOMPARE(m144.BorderX, 10);
        QCOMPARE(m144.FrameX, 30);
        QCOMPARE(m144.FrameY, 24);
        QCOMPARE(m144.ThumbX, 160);
    }

    void pixelsKeepNeighboursFlush()
    {
        const Metrics m = computeMetrics(96, 96, {1, 3, 3, 16});
        const FirstMatchLayout l = setGridLayout({3075, 90, 5745, 360}, m);
        const QRect a = toPixels(l.gridd[0], m), b = toPixels(l.gridd[1], m);
        QCOMPARE(a.right() + 1, b.left());
        QCOMPARE(toPixels(design::Combo1, m), QRect(205, 6, 383, 24));
        QCOMPARE(toPixels({0, 0, design::WindowWidth, design::WindowHeight}, m).size(), QSize(600, 40));
    }

    void dropDownPlacement()
    {
        const Metrics m = metricsWith(240, 45, 15);
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
    void placeOnScreens_data()
    {
        QTest::addColumn<QPoint>("stored");
        QTest::addColumn<QPoint>("placed");
        QTest::newRow("on the first screen") << QPoint(100, 50) << QPoint(100, 50);
        QTest::newRow("on the second screen") << QPoint(1500, 700) << QPoint(1500, 700);
        QTest::newRow("across both, mostly the first") << QPoint(900, 100) << QPoint(680, 100);
        QTest::newRow("partly below the second") << QPoint(1400, 1190) << QPoint(1400, 1160);
        QTest::newRow("left of every screen") << QPoint(-700, 100) << QPoint(5, 5);
        QTest::newRow("where the first screen was taller") << QPoint(100, 900) << QPoint(5, 5);
    }
    void placeOnScreens()
    {
        QFETCH(QPoint, stored);
        const QList<QRect> screens = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1920, 1200)};
        QTEST(tarnvik::placeOnScreens(stored, QSize(600, 40), screens, QPoint(5, 5)), "placed");
        QCOMPARE(tarnvik::placeOnScreens(std::nullopt, QSize(600, 40), screens, QPoint(5, 5)), QPoint(5, 5));
    }

    // After a drag the text box and the pair (x 100..588 and y 6..30 of the
    // 600 x 40 strip) come back onto the screen the strip overlaps most.
    void keepOnScreens_data()
    {
        QTest::addColumn<QPoint>("dropped");
        QTest::addColumn<QPoint>("kept");
        QTest::newRow("on the screen") << QPoint(300, 200) << QPoint(300, 200);
        QTest::newRow("the picture off the left edge") << QPoint(-90, 200) << QPoint(-90, 200);
        QTest::newRow("20 px left at the right edge") << QPoint(3180, 200) << QPoint(2612, 200);
        QTest::newRow("25 px above the top") << QPoint(300, -25) << QPoint(300, -6);
        QTest::newRow("below the bottom") << QPoint(300, 790) << QPoint(300, 770);
        QTest::newRow("off the left, over the top") << QPoint(-300, -30) << QPoint(-100, -6);
        QTest::newRow("across both, mostly the first") << QPoint(900, 100) << QPoint(692, 100);
        QTest::newRow("mostly on the second") << QPoint(1270, 300) << QPoint(1270, 300);
        QTest::newRow("on no screen") << QPoint(300, 1000) << QPoint(300, 770);
    }
    void keepOnScreens()
    {
        QFETCH(QPoint, dropped);
        const QList<QRect> screens = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1920, 1200)};
        QTEST(tarnvik::keepOnScreens(QRect(dropped, QSize(600, 40)), QRect(100, 6, 488, 24), screens), "kept");
    }

    void dragStaysOnScreen()
    {
        const TwipRect w{1000, 1000, 9000, 600};
        const QPointF anchor(300, 200);
        // The pressed point follows the pointer.
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
