// The look-up as the user meets it in the real window: typing, the first
// match over Combo1 (and one found without diacritics), the drop-down and
// choosing from it, the menus, the failures and recovery, and the exit.
#include "dropdown/frmCombo.h"
#include "platform/Text.h"
#include "widgets/CellGrid.h"
#include "widgets/Lamp.h"
#include "widgets/OneLineEdit.h"
#include "lookup/frmDict.h"
#include "lookup/PairView.h"
#include "util/Files.h"
#include "util/TestUtil.h"
#include "util/Strip.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QTableView>
#include <QtTest>

using namespace tarnvik;

using testutil::answeringBoxes;
using testutil::menuOpenedBy;
using testutil::Strip;

namespace {

// The colour the strip shows in the middle of Combo1's face, left of its button.
QColor faceColour(QWidget *strip, QWidget *combo)
{
    const QImage shot = strip->grab().toImage();
    const QPoint at = combo->mapTo(strip, QPoint(combo->width() / 4, combo->height() / 2));
    return shot.pixelColor(at * shot.devicePixelRatio());
}

} // namespace

class TestLookupWindow : public QObject
{
    Q_OBJECT
    testutil::Strip m_s;
    QString m_db;

    ResultModel &results() { return m_s->dropDown()->model(); }
    // The pair shown over Combo1, as "in = out".
    QString pair() const { return m_s.gridd(0)->cellText() + u" = "_qs + m_s.gridd(1)->cellText(); }
    // Row 'row' chosen in the opened list by Enter (Ctrl+Enter: read whole).
    void chooseRow(int row, Qt::KeyboardModifiers mods = {})
    {
        m_s->expandCombo();
        m_s->dropDown()->setCurrentRow(row);
        QTest::keyClick(m_s->dropDown()->grid(0), Qt::Key_Return, mods);
    }
    void startOn(const QString &file, Strip::Wait wait = Strip::Wait::Active, const QString &font = u"Tahoma"_qs)
    {
        m_s.start(testutil::oneSource(file, u"TopMost=False\nFont=%1\n"_qs.arg(font)), wait);
    }

private slots:
    void initTestCase()
    {
        m_db = m_s.path(QStringLiteral("slova.mdb"));
        QVERIFY(testutil::makeSampleDictionary(m_db));
    }

    void typing()
    {
        startOn(m_db);
        QAbstractItemModelTester tester(&results(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        m_s.type(QStringLiteral("d"));
        QCOMPARE(pair(), u"den = day"_qs);
        QVERIFY(m_s.gridd(0)->isVisible() && m_s.gridd(1)->isVisible());
        // Flat, in the designed colours: light yellow for a match, light red for none.
        QCOMPARE(faceColour(m_s.operator->(), m_s.combo1()), QColor(0xFF, 0xFF, 0xC0));
        m_s.type(QStringLiteral("dx"));
        QCOMPARE(faceColour(m_s.operator->(), m_s.combo1()), QColor(0xFF, 0x80, 0x80));

        // Found only with the diacritics ignored: the box and the pair over
        // it say so, in their colour and tool tip; a match as typed clears it.
        m_s.type(QStringLiteral("dum"));
        QCOMPARE(m_s.gridd(0)->cellText(), QStringLiteral("dům"));
        QVERIFY(!m_s.matching());
        for (QWidget *w : std::initializer_list<QWidget *>{m_s.combo1(), m_s.gridd(0), m_s.gridd(1)}) {
            QCOMPARE(w->palette().color(QPalette::Window), QColor(0xB0, 0xE0, 0xFF));
            QVERIFY(w->toolTip().contains(QStringLiteral("diakritiku")));
        }
        // The same row chosen from the list says it once, however often.
        const QString tip = m_s.combo1()->toolTip();
        chooseRow(0);
        chooseRow(0);
        QCOMPARE(m_s.combo1()->toolTip(), tip);
        m_s.type(QStringLiteral("dů"));
        QVERIFY(m_s.matching());
        QVERIFY(m_s.combo1()->toolTip().isEmpty() && m_s.gridd(0)->toolTip().isEmpty());

        // What is pasted ends at its first line break (tst_window).
        QVERIFY(qobject_cast<OneLineEdit *>(m_s.text1()));
        QVERIFY(answeringBoxes([&] { m_s.type(QStringLiteral("d[")); }).isEmpty()); // a pattern is no binding failure
        QVERIFY(!m_s->lookupProblem().isEmpty());
        QCOMPARE(m_s.combo1()->toolTip(), m_s->lookupProblem());
    }

    void neverWaitsForARead()
    {
        // A source whose read is held until released. (A read dropped for
        // another source is not waited for: tst_datacontrol.)
        const QString held = m_s.path(QStringLiteral("held.mdb"));
        answeringBoxes([&] { // the file is not there yet
            m_s.startOn(held, Strip::Wait::None);
            m_s->show();
        });
        ReadLimits limits;
        limits.helper = testutil::heldHelper(QDir(m_s.path(u"."_qs)));
        limits.timeoutMs = 30000; // a wait for a held read would end only here
        m_s->session().data().setReadLimits(limits);
        QVERIFY(QFile::copy(m_db, held));

        // Typing goes on while the source is read; the lamp and the tool tip say so.
        QStringList told = answeringBoxes([&] {
            m_s.text1()->setText(QStringLiteral("d"));
            QCOMPARE(m_s.lamp()->fillColor(), QColor(0xFF, 0, 0));
            m_s.text1()->setText(QStringLiteral("dv"));
            QVERIFY(!m_s.matching());
            // No match is not known yet either: the box is in its plain colours.
            QCOMPARE(m_s.combo1()->palette().color(QPalette::Base),
                     QApplication::palette(m_s.combo1()).color(QPalette::Base));
        });
        QVERIFY(told.isEmpty());
        testutil::release(held);
        // Looked up once read, for the text as it then stands.
        QTRY_COMPARE(m_s.gridd(0)->cellText(), QStringLiteral("dva"));
        QCOMPARE(m_s.lamp()->fillColor(), QColor(0, 0xFF, 0));
    }

    void dropDown()
    {
        startOn(m_db);
        frmCombo *list = m_s->dropDown();
        m_s.type(QStringLiteral("dx"));
        m_s->checkStatus(); // no rows: stays shut but sets the guard
        QVERIFY(list->isHidden());
        m_s.type(QStringLiteral("d"));
        m_s->checkStatus(); // only clears the guard
        QVERIFY(list->isHidden());
        m_s->checkStatus(); // the button and the focus of one click: opens once
        QVERIFY(list->isVisible());
        m_s->checkStatus();
        QVERIFY(list->isVisible());

        // (The columns select together, and where the list stands: tst_dropdown.)
        chooseRow(2);
        QCOMPARE(pair(), u"dva = two"_qs);
        QVERIFY(list->isHidden());
        m_s->checkStatus(); // the focus coming back does not reopen it
        QVERIFY(list->isHidden());

        // Any button on a row of either column chooses that row.
        m_s->expandCombo();
        QVERIFY(list->isVisible());
        QTest::mouseClick(list->grid(1)->viewport(), Qt::RightButton, {},
                          list->grid(1)->visualRect(results().index(1, 1)).center());
        QCOMPARE(m_s.gridd(0)->cellText(), QStringLiteral("dům"));
        QVERIFY(list->isHidden());

        // The copy menu copies the pair shown (the pair and the output: hugeValue).
        m_s->copyMenu()->actions().at(3)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("dům"));

        // (Tab closes it without a choice: tst_window; a look-up with no
        // match closes it: tst_desktops.)
    }

    void mouseMenus()
    {
        startOn(m_db);
        m_s.type(QStringLiteral("d"));
        const QPoint surface(20, 20); // the picture, left of Text1
        QVERIFY(!m_s->childAt(surface));
        m_s->expandCombo();
        // Any press on the surface closes the list; the left button on the
        // pair opens it, a popup of its own; Combo1 opens no menu.
        QWidget *strip = &m_s.window(), *text = m_s.text1(), *menu = m_s->windowMenu();
        const std::tuple<QWidget *, Qt::MouseButton, QWidget *> presses[] = {
            {strip, Qt::MiddleButton, menu}, {strip, Qt::RightButton, menu},         {strip, Qt::LeftButton, nullptr},
            {text, Qt::RightButton, menu},   {text, Qt::MiddleButton, nullptr},      {m_s.gridd(1), Qt::RightButton, m_s->copyMenu()},
            {m_s.gridd(0), Qt::LeftButton, m_s->dropDown()}, {m_s.combo1(), Qt::RightButton, nullptr}};
        for (int i = 0; i < int(std::size(presses)); ++i) {
            const auto [on, button, opens] = presses[i];
            QWidget *opened = menuOpenedBy([&] { QTest::mouseClick(on, button, {}, on == strip ? surface : QPoint(5, 5)); });
            QVERIFY2(opened == opens && (opens == m_s->dropDown() || m_s->dropDown()->isHidden()), qPrintable(QString::number(i)));
        }
    }

    // The mark follows the choice and the text is looked up again in the
    // chosen source (which source is bound, and how: tst_stripsession); what
    // is saved at the end: tst_stripsession, the whole road: tst_session.
    void sourceMenuAndExit()
    {
        m_s.start(u"[Settings]\nTopMost=False\n[Tables]\ncount=2\n"_qs + testutil::iniEntry(1, u"Slova"_qs, m_db)
                  + testutil::iniEntry(2, u"Obráceně"_qs, m_db, u"Slova"_qs, u"vyznam"_qs, u"slovo"_qs));
        m_s.type(QStringLiteral("d")); // "day" in the first (typing)
        m_s.source(1)->trigger();
        QVERIFY(!m_s.source(0)->isChecked() && m_s.source(1)->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(m_s.gridd(1)->cellText(), QStringLiteral("den"), testutil::kReadWaitMs);
        m_s.source(1)->trigger(); // the checked entry again: still the only mark
        QVERIFY(!m_s.source(0)->isChecked() && m_s.source(1)->isChecked());

        // "Vždy navrchu" changes the band (in place: tst_desktops).
        for (bool on : {true, false}) {
            m_s.topMostAction()->trigger();
            QCOMPARE(std::tuple(m_s.topMostAction()->isChecked(), m_s->windowFlags().testFlag(Qt::WindowStaysOnTopHint),
                                m_s->isVisible()), std::tuple(on, on, true));
        }

        // "Konec" and closing the window by other means save.
        for (bool quit : {true, false}) {
            startOn(m_db);
            m_s.topMostAction()->trigger();
            if (quit)
                m_s.quitAction()->trigger();
            else
                QVERIFY(m_s->close());
            QCOMPARE(SettingsStore(m_s.ini()).getSetting("Settings", "TopMost", {}), QStringLiteral("True"));
        }
    }

    // A memo of a million characters as the output: the strip and the list
    // draw only its start (all of it took a second a paint), tool tips are
    // cut short, and every copy and choice carries the whole value.
    void hugeValue()
    {
        QString value;
        while (value.size() < 1000000)
            value += QStringLiteral("\nDalší řádek dlouhého hesla, ");
        value.truncate(1000000);
        const QString db = m_s.path(QStringLiteral("velke.mdb"));
        QString error;
        QVERIFY2(testutil::writeTable(db, u"Slova"_qs, {{u"slovo"_qs}, {u"vyznam"_qs, JetWriter::FieldType::Memo}},
                                      {{u"velky"_qs, value}, {u"velryba"_qs, u"whale"_qs}}, &error),
                 qPrintable(error));
        startOn(db);
        m_s.type(QStringLiteral("vel"));
        QCOMPARE(m_s.gridd(1)->cellText(), value);
        auto drawn = [&](const QString &shown) {
            QVERIFY2(shown.size() <= 1000 && !shown.isEmpty(), qPrintable(QString::number(shown.size())));
            QCOMPARE(shown, oneLine(value.first(shown.size()))); // line breaks drawn as blanks
        };
        drawn(m_s.gridd(1)->text());
        const QString tip = m_s.gridd(1)->toolTip();
        QVERIFY(tip.size() <= 2001 && tip.endsWith(u'…') && value.startsWith(tip.chopped(1)));

        m_s->expandCombo();
        QCOMPARE(results().text(0, 1), value);
        drawn(results().data(results().index(0, 1), Qt::DisplayRole).toString());
        QCOMPARE(results().data(results().index(0, 1), Qt::ToolTipRole).toString(), tip);

        // The copy menu's entry i, and what it copied.
        auto copied = [&](int i) {
            m_s->copyMenu()->actions().at(i)->trigger();
            return QGuiApplication::clipboard()->text();
        };
        QCOMPARE(copied(2), value);
        QCOMPARE(copied(0), QStringLiteral("velky = ") + value);

        // Chosen from the list after another row: whole again.
        chooseRow(1);
        QCOMPARE(m_s.gridd(1)->cellText(), QStringLiteral("whale"));
        QVERIFY(m_s.gridd(1)->toolTip().isEmpty());
        chooseRow(0);
        QCOMPARE(m_s.gridd(1)->cellText(), value);

        // Read whole in a window of its own: Ctrl+Enter on a row of the list,
        // or in the text box for the shown pair; Escape closes it.
        QString whole;
        auto readWhole = [&](const std::function<void()> &keys) {
            keys();
            QTRY_VERIFY(m_s->findChild<PairView *>() && m_s->findChild<PairView *>()->isVisible());
            whole = m_s->findChild<PairView *>()->text();
            QTest::keyClick(m_s->findChild<PairView *>(), Qt::Key_Escape);
            QTRY_VERIFY(!m_s->findChild<PairView *>());
        };
        readWhole([&] { chooseRow(1, Qt::ControlModifier); });
        QCOMPARE(whole, QStringLiteral("velryba\n\nwhale"));
        m_s.type(QStringLiteral("velk"));
        readWhole([&] { QTest::keyClick(m_s.text1(), Qt::Key_Return, Qt::ControlModifier); });
        QCOMPARE(whole, QStringLiteral("velky\n\n") + value);

        // Never cut between the halves of a character beyond the BMP (the
        // reader brings none yet: set on a cell directly).
        CellGrid cell;
        const QString astral = QString(999, u'a') + QStringLiteral("😀") + QString(998, u'b') + QStringLiteral("😀")
                               + QString(5000, u'c');
        cell.setCellText(astral);
        QCOMPARE(cell.cellText(), astral);
        QCOMPARE(cell.text(), QString(999, u'a'));
        QCOMPARE(cell.toolTip(), astral.first(1999) + u'…');
    }

    // The menus, the list and the window's message boxes show the strip's
    // face (at their own size), also when the stored face is not installed.
    void oneTypeface()
    {
        for (const QString &face : {QStringLiteral("DejaVu Serif"), QStringLiteral("Není takové písmo")}) {
            startOn(m_db, Strip::Wait::Active, face);
            const QString strip = QFontInfo(m_s.text1()->font()).family();
            if (face == QStringLiteral("DejaVu Serif"))
                QCOMPARE(strip, face);
            for (QWidget *w : {static_cast<QWidget *>(m_s->windowMenu()), static_cast<QWidget *>(m_s->sourceMenu()),
                               static_cast<QWidget *>(m_s->copyMenu()), static_cast<QWidget *>(m_s->dropDown()->grid(1))})
                QCOMPARE(QFontInfo(w->font()).family(), strip);
            QCOMPARE(m_s->windowMenu()->font().pointSizeF(), QApplication::font(m_s->windowMenu()).pointSizeF());

            QString boxFace;
            testutil::polling([&] { m_s.aboutAction()->trigger(); },
                              [&] {
                                  if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                                      boxFace = QFontInfo(box->font()).family();
                                      box->accept();
                                  }
                              }, 50);
            QCOMPARE(boxFace, strip);
        }
    }
};

QTEST_MAIN(TestLookupWindow)
#include "tst_lookupwindow.moc"
