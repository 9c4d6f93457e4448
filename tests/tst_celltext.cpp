// Values drawn whole: the marks above capitals (Czech, German, Vietnamese
// stacked accents) and Thai marks above and below the line, in the first-match
// cells over Combo1 and in the result list, in the stored face and in the
// Arial that stands in for a missing one. Run also at twice the density, where
// the picture behind the controls must be drawn at that density too.
#include "db/query/Like.h"
#include "dropdown/frmCombo.h"
#include "lookup/frmDict.h"
#include "platform/Desktop.h"
#include "platform/MessageBox.h"
#include "platform/Colours.h"
#include "platform/Text.h"
#include "widgets/CellGrid.h"
#include "widgets/Paint.h"
#include "util/Strip.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QTableView>
#include <QtTest>

using namespace tarnvik;

namespace {

const QStringList kTexts = {u"ZAČÁTEK"_qs, u"Česká republika"_qs, u"Ärger"_qs, u"Ẩm thực"_qs,
                             u"Ồ Ỗ"_qs, u"ที่นี่"_qs, u"ฤดู"_qs};

// The first and last pixel row with ink inside 'r' of 'img' (device pixels);
// {-1, -1} when there is none.
std::pair<int, int> inkRows(const QImage &img, const QRect &r)
{
    int first = -1, last = -1;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            // Dark enough to be type on the light yellow; grid lines (0xC0C0C0) are not.
            if (qGray(img.pixel(x, y)) < 150) {
                if (first < 0)
                    first = y;
                last = y;
                break;
            }
        }
    }
    return {first, last};
}

// How many pixel rows the text inks when nothing stands in its way.
int freeInkHeight(const QString &text, const QFont &font, qreal dpr)
{
    const QFontMetrics fm(font);
    QImage img((QSize(fm.horizontalAdvance(text) + 20, fm.height() * 4) * dpr), QImage::Format_RGB32);
    img.setDevicePixelRatio(dpr);
    img.fill(fromBgr(kYellow));
    QPainter p(&img);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QPointF(10, fm.height() * 2), text);
    p.end();
    const auto [first, last] = inkRows(img, img.rect());
    return first < 0 ? 0 : last - first + 1;
}

Matches matchesOf(const QStringList &texts)
{
    LookupIndex::Builder b;
    for (const QString &s : texts)
        b.addRow(&s, &s);
    QString error;
    return b.build()->find(*LikePattern::compile(QStringLiteral("*"), &error));
}

} // namespace

class TestCellText : public QObject
{
    Q_OBJECT
    testutil::Strip m_w;

    // The text's ink in 'r' of 'shot' is as tall as the text drawn freely,
    // and stays off r's top row, where a cut through the marks would show.
    static QString cutIn(const QImage &shot, const QRect &r, const QString &text, const QFont &font)
    {
        const auto [first, last] = inkRows(shot, r);
        const int height = first < 0 ? 0 : last - first + 1;
        const int whole = freeInkHeight(text, font, shot.devicePixelRatio());
        if (height < whole || first == r.top())
            return QString::asprintf("\"%s\" in %s (%d px high): ink rows %d..%d of %d..%d, %d of %d rows",
                                     qUtf8Printable(text), qUtf8Printable(QFontInfo(font).family()),
                                     QFontInfo(font).pixelSize(), first, last, r.top(), r.bottom(), height, whole);
        return QString();
    }

private slots:
    void initTestCase() { addTahoma(); }

    // Enlarged from a picture of ordinary size, the picture would be either
    // blurred (no edge keeps its full contrast) or blocky (every 2x2 block one colour).
    void sharpPicture()
    {
        const qreal dpr = qApp->devicePixelRatio();
        QCOMPARE(dpr, qEnvironmentVariable("QT_SCALE_FACTOR", u"1"_qs).toDouble());
        m_w.start(QString(), testutil::Strip::Wait::Exposed);
        const QImage shot = m_w->grab().toImage();
        QCOMPARE(shot.size(), m_w->size() * dpr);
        if (dpr != 2)
            return;
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
        QVERIFY2(sharpest > 120, qPrintable(QString::number(sharpest)));
        QVERIFY2(flatBlocks < blocks / 2, qPrintable(QStringLiteral("%1 of %2").arg(flatBlocks).arg(blocks)));
    }

    void drawnWhole_data()
    {
        QTest::addColumn<QString>("face");
        QTest::addColumn<QString>("text");
        for (const QString &face : {QStringLiteral("Tahoma"), QStringLiteral("Arial")})
            for (const QString &text : kTexts)
                QTest::addRow("%s %s", qPrintable(face), qPrintable(text)) << face << text;
    }

    void drawnWhole()
    {
        QFETCH(QString, face);
        QFETCH(QString, text);
        // Arial is what a stored face that does not exist gives way to.
        const QString stored = face == u"Arial" ? QStringLiteral("Keine Schrift") : face;
        const QString family = QFontInfo(QFont(face)).family();
        if (family != face && !(face == u"Arial" && family == u"Liberation Sans"))
            QSKIP("the face is not installed (fonts-wine for Tahoma, fonts-liberation2 for Arial)");
        if (text.front().script() == QChar::Script_Thai && !QFontDatabase::families(QFontDatabase::Thai).size())
            QSKIP("no face with Thai is installed (fonts-tlwg-loma-ttf)");
        m_w.start(QStringLiteral("[Settings]\nTopMost=False\nFont=%1\n").arg(stored), testutil::Strip::Wait::Exposed);
        QCOMPARE(m_w->fontName(), face);

        for (int i = 0; i < 2; ++i) {
            CellGrid *cell = m_w.gridd(i);
            cell->setCellText(text);
            cell->show();
            const QImage shot = cell->grab().toImage();
            const QString cut = cutIn(shot, shot.rect(), text, cell->font());
            QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("gridd(%1): ").arg(i) + cut));
        }

        // Selected in the text box (as a second start leaves it): the marks
        // stand on the selection, not in the box's own colour.
        QLineEdit *box = m_w.text1();
        box->setText(text);
        box->deselect();
        const QImage plain = box->grab().toImage();
        const qreal dpr = plain.devicePixelRatio();
        const QRect inside = plain.rect().marginsRemoved(QMargins() + int(3 * dpr));
        const int top = inkRows(plain, inside).first;
        QVERIFY(top >= 0);
        box->selectAll();
        const QImage selected = box->grab().toImage();
        const QRgb highlight = box->palette().color(QPalette::Highlight).rgb();
        int onSelection = 0;
        for (int x = inside.left(); x <= inside.right(); ++x)
            onSelection += selected.pixel(x, top) == highlight;
        QVERIFY2(onSelection > 0, qPrintable(QStringLiteral("no selection at the marks' row %1 of %2").arg(top).arg(text)));
        // Only the last letter selected: the others keep their marks.
        box->setCursorPosition(text.size() - 1);
        QRect before = inside;
        before.setRight(int(box->inputMethodQuery(Qt::ImCursorRectangle).toRect().left() * dpr));
        box->setSelection(text.size() - 1, 1);
        QCOMPARE(inkRows(box->grab().toImage(), before).first, inkRows(plain, before).first);
        box->clear();

        // In the list: a row of plain text first, as the current row is highlighted.
        m_w->dropDown()->model().setMatches(matchesOf({QStringLiteral("aaa"), text}));
        m_w->expandCombo();
        QVERIFY(QTest::qWaitForWindowExposed(m_w->dropDown()));
        for (int i = 0; i < 2; ++i) {
            QTableView *g = m_w->dropDown()->grid(i);
            const QImage shot = g->viewport()->grab().toImage();
            const QRect row = g->visualRect(m_w->dropDown()->model().index(1, i));
            const QString cut = cutIn(shot, QRect(row.topLeft() * dpr, row.size() * dpr), text, g->font());
            QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("grid(%1): ").arg(i) + cut));
        }
        m_w->dropDown()->hide();
    }

    // Every line break a value may hold is drawn as a blank on the one line
    // (U+2028 and U+2029 were dropped, running the lines' words together),
    // and the tool tip then shows the lines. (The list's cells draw the same,
    // and keep the value whole: tst_lookupwindow's hugeValue.)
    void everyLineBreakOnOneLine()
    {
        for (const char16_t *brk : {u"\n", u"\r\n", u"\r", u"\u2028", u"\u2029"}) {
            const QString value = u"první"_qs + QString::fromUtf16(brk) + u"druhá"_qs;
            QCOMPARE(shownText(value), u"první druhá"_qs);
            QCOMPARE(toolTipFor(value), value);
        }
    }

    // A message box's text starts at its label's top edge: Czech capitals'
    // marks are drawn whole there too, in the strip's face or Qt's own.
    void boxesDrawnWhole_data()
    {
        QTest::addColumn<QString>("face");
        for (const char *face : {"Tahoma", "Arial", ""})
            QTest::newRow(*face ? face : "Qt's face") << QString::fromLatin1(face);
    }

    void boxesDrawnWhole()
    {
        QFETCH(QString, face);
        const QString family = QFontInfo(QFont(face)).family();
        if (!face.isEmpty() && family != face && !(face == u"Arial" && family == u"Liberation Sans"))
            QSKIP("the face is not installed (fonts-wine for Tahoma, fonts-liberation2 for Arial)");
        setBoxFace(face);
        // Two short lines, neither reaching below the baseline: the second
        // line's marks must stay clear of the first line.
        const QString text = QStringLiteral("Smazat 'Řecko'? ČŠŽĚŮ\nŘÍŠE ŽÁBY");
        QString cut = QStringLiteral("no box shown");
        testutil::polling([&] { showBox(nullptr, QMessageBox::Question, QString(), text); },
                          [&] {
                              auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                              if (!box)
                                  return;
                              QLabel *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
                              const QImage shot = label->grab().toImage();
                              cut = cutIn(shot, shot.rect(), text, label->font());
                              // Rows the two lines share are marks drawn into the line
                              // above; a caron's tip may touch its foot, as in any text
                              // of the common faces, but no more.
                              int inked = 0;
                              for (int y = 0; y < shot.height(); ++y)
                                  inked += inkRows(shot, QRect(0, y, shot.width(), 1)).first >= 0;
                              const qreal dpr = shot.devicePixelRatio();
                              int apart = 0;
                              for (const QString &line : text.split(u'\n'))
                                  apart += freeInkHeight(line, label->font(), dpr);
                              if (cut.isEmpty() && inked < apart - 1)
                                  cut = QStringLiteral("the lines run into each other in %1: %2 rows inked, %3 apart")
                                            .arg(QFontInfo(label->font()).family()).arg(inked).arg(apart);
                              box->reject();
                          }, 50);
        setBoxFace(QString());
        QVERIFY2(cut.isEmpty(), qPrintable(cut));
    }
};

QTEST_MAIN(TestCellText)
#include "tst_celltext.moc"
