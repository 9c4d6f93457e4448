// Geometry in twips: the first-match grids over Combo1, the drop-down's
// columns, the metrics, and the step to pixels.
#include "lookup/Layout.h"

#include <QtTest>

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
        QCOMPARE(l.gridd[1].left - l.gridd[0].left, 1357.5);
        QCOMPARE(l.gridd[1].width, 1312.5);
        QCOMPARE(l.gridd[1].top, 135.0);
        // The face ends a frame width before the drop-down button, which stays uncovered.
        QCOMPARE(l.gridd[1].left + l.gridd[1].width, combo.left + combo.width - 240 - 45);
    }

    void dropDownColumns_data()
    {
        QTest::addColumn<double>("combo");
        QTest::addColumn<int>("col0");
        QTest::addColumn<int>("col1");
        QTest::addColumn<double>("grid1Left");
        QTest::newRow("whole") << 3000.0 << 1755 << 1515 << 1500.0;
        QTest::newRow("half up to even") << 3001.0 << 1756 << 1516 << 1500.5;
        QTest::newRow("half down to even") << 3003.0 << 1756 << 1516 << 1501.5;
    }

    void dropDownColumns()
    {
        QFETCH(double, combo);
        const DropDownColumns c = tarnvik::dropDownColumns(combo, metricsWith(240, 45, 15));
        QTEST(c.columnWidth[0], "col0");
        QTEST(c.columnWidth[1], "col1");
        QTEST(c.grid1Left, "grid1Left");
        // One list as wide as Combo1, the right grid covering the left one's scroll bar.
        QCOMPARE(c.grid1Left + c.grid1Width, combo + 15);
        QCOMPARE(c.grid0Width, c.grid1Width + 240);
    }

    void metricsFromDpi()
    {
        const Metrics m96 = computeMetrics(96, 96, {1, 3, 3, 16});
        QCOMPARE(m96.TwipsPerPixelX, 15.0f);
        QCOMPARE(m96.BorderX, 15);
        QCOMPARE(m96.FrameY, 45);
        QCOMPARE(m96.ThumbX, 240);
        const Metrics m144 = computeMetrics(144, 120, {1, 3, 2, 16});
        QCOMPARE(m144.TwipsPerPixelX, 10.0f);
        QCOMPARE(m144.TwipsPerPixelY, 12.0f);
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
};

QTEST_APPLESS_MAIN(TestLayout)
#include "tst_layout.moc"
