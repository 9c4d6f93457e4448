// The window at twice the pixel density, as on a high-resolution screen with
// Qt's scaling: the picture behind the controls is drawn at that density,
// not enlarged from a picture of ordinary size.
#include "lookup/frmDict.h"
#include "util/Strip.h"

#include <QApplication>
#include <QtTest>

using namespace tarnvik;

class TestHiDpi : public QObject
{
    Q_OBJECT

public:
    // Before the application exists, which reads it.
    static void initMain() { qputenv("QT_SCALE_FACTOR", "2"); }

private slots:
    void sharpPicture()
    {
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        testutil::Strip strip;
        strip.start(QString(), testutil::Strip::Wait::Exposed);
        frmDict &w = strip.window();
        const QImage shot = w.grab().toImage();
        QCOMPARE(shot.size(), w.size() * 2);

        // The name "Tarnvik" at the left of the picture, left of the text box.
        const QRect title(QPoint(36 * 2, 10 * 2), QPoint(90 * 2, 30 * 2));
        int sharpest = 0, flatBlocks = 0, blocks = 0;
        for (int y = title.top(); y < title.bottom(); y += 2) {
            for (int x = title.left(); x < title.right(); x += 2) {
                const QRgb a = shot.pixel(x, y), b = shot.pixel(x + 1, y), c = shot.pixel(x, y + 1),
                           d = shot.pixel(x + 1, y + 1);
                sharpest = std::max({sharpest, std::abs(qGray(a) - qGray(b)), std::abs(qGray(a) - qGray(c))});
                flatBlocks += a == b && a == c && a == d;
                ++blocks;
            }
        }
        // An enlarged picture is either blurred (no edge keeps its full
        // contrast) or blocky (every 2x2 block one colour).
        QVERIFY2(sharpest > 120, qPrintable(QString::number(sharpest)));
        QVERIFY2(flatBlocks < blocks / 2, qPrintable(QStringLiteral("%1 of %2").arg(flatBlocks).arg(blocks)));
    }
};

QTEST_MAIN(TestHiDpi)

#include "tst_hidpi.moc"
