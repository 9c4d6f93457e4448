// The lookup window as a user meets it on a desktop with a window manager:
// where the keyboard focus is at start and after the list closes, that the
// list opens only when asked, and that presses on the controls never drag.
// Keys go through the window, as typed, not to a chosen widget. Its text box
// holds one line: what is pasted into it by the keys or the middle button
// (the X server's selection) ends at its first line break, as does text set
// in it from code.
#include "dropdown/frmCombo.h"
#include "editor/setData.h"
#include "platform/OpenSave.h"
#include "platform/Text.h"
#include "widgets/CellGrid.h"
#include "widgets/Lamp.h"
#include "widgets/OneLineEdit.h"
#include "lookup/frmDict.h"
#include "util/Files.h"
#include "util/TestUtil.h"
#include "util/Strip.h"

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QToolButton>
#include <QMimeData>
#include <QTableView>
#include <QtTest>

using namespace tarnvik;

class TestWindow : public QObject
{
    Q_OBJECT
    testutil::Strip m_s;
    QString m_db;

    QLineEdit *text1() { return m_s.text1(); }
    QComboBox *combo1() { return m_s.combo1(); }
    CellGrid *gridd(int i) { return m_s.gridd(i); }
    frmCombo *list() { return m_s->dropDown(); }
    QPoint comboButton() { return QPoint(combo1()->width() - 6, combo1()->height() / 2); }

    // Typed into whatever has the keyboard focus.
    template <typename Key>
    void key(Key k, Qt::KeyboardModifiers mods = {})
    {
        QWindow *target = QGuiApplication::focusWindow();
        QVERIFY2(target, "no window has the keyboard focus");
        QTest::keyClick(target, k, mods);
        QTest::qWait(20);
    }
    void typeKeys(const QString &text)
    {
        for (QChar c : text)
            key(c.toLatin1());
    }
    // A new strip, these keys typed into it, and the source read.
    void startTyped(const QString &text)
    {
        m_s.startOn(m_db);
        typeKeys(text);
        m_s.settle();
    }
    // The window manager hands the focus over in its own time.
    void listHasTheKeys()
    {
        QTRY_VERIFY(list()->isVisible());
        QTRY_COMPARE(QApplication::activePopupWidget(), list());
        QVERIFY(list()->isAncestorOf(QApplication::focusWidget()));
    }
    // The list shut, and the keys back in the text box.
    void textHasTheKeys()
    {
        QVERIFY(list()->isHidden());
        QTRY_COMPARE(QGuiApplication::focusWindow(), m_s->windowHandle());
        QTRY_COMPARE(QApplication::focusWidget(), text1());
    }
    // The real pointer moved to 'at', and 'then' done there. (No --sync
    // where it may be there already: such a move never ends.)
    static void pointer(QPoint at, const QStringList &then, int settleMs, bool sync = true)
    {
        const QString x = QString::number(at.x()), y = QString::number(at.y());
        testutil::xdo((sync ? QStringList{"mousemove", "--sync", x, y} : QStringList{"mousemove", x, y, "sleep", "0.1"}) + then,
                      settleMs);
    }
    static void clickReally(QPoint at) { pointer(at, {"click", "1"}, 100); }

private slots:
    void initTestCase()
    {
        m_db = m_s.path(u"slova.mdb"_qs);
        testutil::makeDatabase(m_db, {{u"dva"_qs, u"two"_qs}, {u"dům"_qs, u"house"_qs}, {u"den"_qs, u"day"_qs},
                                      {u"dveře"_qs, u"door"_qs}});
    }

    void typingGoesToTheTextBox()
    {
        // Straight after the start, without a click (on three desktops with real
        // input: tst_desktops). Down opens the list; a choice by Enter, and typing goes on.
        startTyped(QStringLiteral("d"));
        key(Qt::Key_Down);
        listHasTheKeys();
        key(Qt::Key_Down);
        key(Qt::Key_Return);
        textHasTheKeys();
        QCOMPARE(gridd(0)->cellText(), QStringLiteral("dům"));
        typeKeys(QStringLiteral("e"));
        QCOMPARE(text1()->text(), QStringLiteral("de"));
        QCOMPARE(gridd(0)->cellText(), QStringLiteral("den"));

        // F4 and Alt+Down open it too; a click chooses, and typing goes on.
        key(Qt::Key_F4);
        listHasTheKeys();
        key(Qt::Key_Escape);
        textHasTheKeys();
        key(Qt::Key_Backspace);
        key(Qt::Key_Down, Qt::AltModifier);
        listHasTheKeys();
        QTableView *g = list()->grid(1);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(g->model()->index(3, 1)).center());
        textHasTheKeys();
        QCOMPARE(gridd(1)->cellText(), QStringLiteral("door"));
        key(Qt::Key_Right);
        typeKeys(QStringLiteral("u"));
        QCOMPARE(text1()->text(), QStringLiteral("du"));
    }

    // Shift+Tab from the text box reaches the shown pair, as in the designed
    // window: a key there opens the list, and a letter or Backspace also goes
    // on into the text, as typed in the open list.
    void keysOnThePair()
    {
        startTyped(QStringLiteral("d"));
        const QImage unfocused[] = {gridd(0)->grab().toImage(), gridd(1)->grab().toImage()};
        key(Qt::Key_Tab, Qt::ShiftModifier);
        QTRY_VERIFY(QApplication::focusWidget() == gridd(0) || QApplication::focusWidget() == gridd(1));
        const int focused = QApplication::focusWidget() == gridd(1);
        QVERIFY(gridd(focused)->grab().toImage() != unfocused[focused]); // its focus mark
        typeKeys(QStringLiteral("v"));
        listHasTheKeys();
        QCOMPARE(text1()->text(), QStringLiteral("dv"));
        key(Qt::Key_Backspace);
        QCOMPARE(text1()->text(), QStringLiteral("d"));
        key(Qt::Key_Escape);
        textHasTheKeys();
        // Enter there opens the list and chooses nothing.
        key(Qt::Key_Tab, Qt::ShiftModifier);
        key(Qt::Key_Return);
        listHasTheKeys();
        QCOMPARE(std::pair(text1()->text(), list()->currentRow()), std::pair(QStringLiteral("d"), 0));
        key(Qt::Key_Escape);
        textHasTheKeys();
    }

    // The pointer that left the button while the list held it: once the list
    // has closed, the button no longer looks as if the pointer were on it.
    void buttonUnlitAfterTheList()
    {
        startTyped(QStringLiteral("d"));
        pointer(m_s->mapToGlobal(QPoint(20, 20)), {}, 200);
        const QImage before = combo1()->grab().toImage();
        clickReally(combo1()->mapToGlobal(comboButton()));
        listHasTheKeys();
        pointer(m_s->mapToGlobal(QPoint(20, 20)), {}, 200);
        key(Qt::Key_Escape);
        textHasTheKeys();
        QVERIFY(!combo1()->underMouse());
        QCOMPARE(combo1()->grab().toImage(), before);
    }

    void listOpensOnlyWhenAsked()
    {
        startTyped(QStringLiteral("d"));
        // Opened by the button, which also takes the focus.
        QTest::mouseClick(combo1(), Qt::LeftButton, {}, comboButton());
        QTRY_VERIFY(list()->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(list()));

        // Closed by a click on the window's picture; the focus coming back is
        // no request.
        // A real press: the window manager takes it for the start of a drag.
        const QPoint surface(20, 20);
        clickReally(m_s->mapToGlobal(surface));
        m_s->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_s.window()));
        QTest::qWait(100);
        QVERIFY(list()->isHidden());

        // A menu that closes hands the focus back: still closed.
        QVERIFY(testutil::menuOpenedBy([&] { QTest::mouseClick(&m_s.window(), Qt::RightButton, {}, surface); }, nullptr, 100));
        QVERIFY(list()->isHidden());

        // The same after "Vždy navrchu" and after the About box.
        m_s.topMostAction()->trigger();
        QTest::qWait(200);
        QVERIFY(list()->isHidden());
        QCOMPARE(testutil::answeringBoxes([&] { m_s.aboutAction()->trigger(); }).size(), 1);
        QVERIFY(list()->isHidden());

        // And after minimising and restoring.
        m_s->showMinimized();
        QTest::qWait(200);
        m_s->showNormal();
        m_s->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_s.window()));
        QTest::qWait(100);
        QVERIFY(list()->isHidden());

        // Escape in the list closes it and the text box takes the keys again.
        QTest::mouseClick(combo1(), Qt::LeftButton, {}, comboButton());
        listHasTheKeys();
        key(Qt::Key_Escape);
        textHasTheKeys();
        QTest::qWait(100);
        QVERIFY(list()->isHidden());
        typeKeys(QStringLiteral("v"));
        QCOMPARE(text1()->text(), QStringLiteral("dv"));
    }

    // With the list open, a press on the strip does what it does there: the
    // right button opens the picture's or the pair's menu, the left one on
    // the pair keeps the list. Tab closes it; the keys go on in the text box.
    void pressesOnTheStripWhileTheListIsOpen()
    {
        startTyped(QStringLiteral("d"));
        const QPoint pair = gridd(1)->mapToGlobal(QPoint(10, gridd(1)->height() / 2));
        for (auto [at, menu] : {std::pair(m_s->mapToGlobal(QPoint(20, 20)), m_s->windowMenu()),
                                std::pair(pair, m_s->copyMenu())}) {
            m_s->expandCombo();
            listHasTheKeys();
            QCOMPARE(testutil::menuOpenedBy([&] { pointer(at, {"click", "3"}, 200, false); }, list(), 200), menu);
            textHasTheKeys();
        }
        const QString shown = gridd(0)->cellText();
        m_s->expandCombo();
        listHasTheKeys();
        pointer(pair, {"click", "1"}, 200, false);
        QVERIFY(list()->isVisible());
        QCOMPARE(QApplication::activePopupWidget(), list());
        list()->setCurrentRow(2); // which Tab does not choose
        testutil::xdo({"key", "Tab"});
        QTRY_VERIFY(list()->isHidden());
        QCOMPARE(gridd(0)->cellText(), shown);
        textHasTheKeys();
        typeKeys(QStringLiteral("v"));
        QCOMPARE(text1()->text(), QStringLiteral("dv"));

        // A click anywhere on the strip leaves the keys in the text box: on the
        // red box where nothing matches, and on its arrow.
        typeKeys(QStringLiteral("qq"));
        m_s.settle();
        const QPoint face = combo1()->mapToGlobal(QPoint(combo1()->width() / 2, combo1()->height() / 2));
        const QPoint arrow = combo1()->mapToGlobal(comboButton());
        for (QPoint at : {face, arrow, m_s->mapToGlobal(QPoint(20, 20))}) {
            clickReally(at);
            QVERIFY(list()->isHidden());
            typeKeys(QStringLiteral("x"));
        }
        QCOMPARE(text1()->text(), QStringLiteral("dvqqxxx"));
        // (The arrow that closes the list again: tst_desktops.)
    }

    void aFailingSourceDoesNotTakeTheKeys()
    {
        const QString missing = m_s.path(u"missing.mdb"_qs);
        // Told when the source is bound, not while typing.
        QCOMPARE(testutil::answeringBoxes([&] { m_s.startOn(missing); }).size(), 1);
        m_s->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_s.window()));
        QVERIFY(testutil::answeringBoxes([&] { typeKeys(QStringLiteral("hous")); }).isEmpty());
        QCOMPARE(text1()->text(), QStringLiteral("hous"));
        QVERIFY(m_s.lamp()->toolTip().contains(QStringLiteral("missing.mdb")));
    }

    // A new source added in the editor, from the menu or by a dictionary file
    // dropped on the strip's text box, becomes the active source: the strip
    // looks it up at once, with the keys back in the text box.
    void aSourceAddedInTheEditor()
    {
        const QString other = m_s.path(u"jine.mdb"_qs);
        testutil::makeDatabase(other, {{u"kočka"_qs, u"cat"_qs}, {u"pes"_qs, u"dog"_qs}}, u"Zvirata"_qs);
        m_s.start(u"[Settings]\nTopMost=True\n[Tables]\ncount=2\n"_qs + testutil::iniEntry(1, u"Slova 1"_qs, m_db)
                  + testutil::iniEntry(2, u"Slova 2"_qs, m_db));
        // The dialog stood in for.
        setOpenDialogForTests([&](QWidget *, const QString &, const QString &, const QString &) { return other; });
        bool edited = false;
        testutil::polling([&] { m_s.settingsAction()->trigger(); }, [&] {
            auto *editor = qobject_cast<setData *>(QApplication::activeModalWidget());
            if (!editor || editor->busy())
                return;
            editor->button(CatalogueList::Action::New)->trigger();
            editor->browseButton()->click();
            editor->titleEditor()->selectAll(); // as the title's editor opens
            QTest::keyClicks(editor->titleEditor(), QStringLiteral("Zvirata"));
            edited = editor->catalogue().sources().size() == 3 && editor->catalogue().sources()[2].Name == "Zvirata";
            editor->close();
        }, 0);
        setOpenDialogForTests({});
        QVERIFY(edited);
        QCOMPARE(m_s->activePosition(), 2);
        QVERIFY(m_s.source(2)->isChecked());
        textHasTheKeys();
        typeKeys(QStringLiteral("pe"));
        // A new source: its first field both ways.
        QTRY_COMPARE_WITH_TIMEOUT(gridd(0)->cellText(), QStringLiteral("pes"), testutil::kReadWaitMs);

        // Plain text dropped there stays the text box's.
        text1()->clear();
        QMimeData words;
        words.setText(u"pes"_qs);
        QDragEnterEvent wordsIn(QPoint(5, 5), Qt::CopyAction, &words, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(text1(), &wordsIn);
        QDropEvent wordsDropped(QPointF(5, 5), Qt::CopyAction, &words, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(text1(), &wordsDropped);
        QCOMPARE(text1()->text(), u"pes"_qs);
        text1()->clear();
        const QString tsv = m_s.path(u"zvirata.tsv"_qs);
        testutil::writeBytes(tsv, "slovo\tvyznam\nkočka\tcat\n");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(tsv)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QString made;
        testutil::polling([&] {
            QApplication::sendEvent(text1(), &enter);
            QVERIFY(enter.isAccepted());
            QApplication::sendEvent(text1(), &drop);
            QTRY_VERIFY_WITH_TIMEOUT(!made.isEmpty(), 10000); // the editor comes once the drop is over
        }, [&] {
            auto *editor = qobject_cast<setData *>(QApplication::activeModalWidget());
            if (!editor || editor->busy() || editor->catalogue().sources().size() < 4)
                return;
            made = editor->catalogue().sources()[3].File;
            editor->close();
        }, 0);
        QVERIFY(!made.isEmpty());
        QCOMPARE(text1()->text(), QString());
        QCOMPARE(m_s->activePosition(), 3);
        textHasTheKeys();
        typeKeys(QStringLiteral("ko"));
        QTRY_COMPARE_WITH_TIMEOUT(gridd(0)->cellText(), QStringLiteral("kočka"), testutil::kReadWaitMs);
        m_s.close();
        QFile::remove(made); // its own only: another test may be importing beside it
    }

    void pressesOnControlsDoNotDrag()
    {
        m_s.startOn(m_db);
        m_s->move(100, 100);
        QTRY_COMPARE(m_s->pos(), QPoint(100, 100));
        const QPoint at = m_s->pos();
        // Pressed on Combo1's button and moved by a pixel.
        QTest::mousePress(combo1(), Qt::LeftButton, {}, comboButton());
        QTest::mouseMove(combo1(), comboButton() + QPoint(1, 1));
        QTest::mouseRelease(combo1(), Qt::LeftButton, {}, comboButton() + QPoint(1, 1));
        QTest::qWait(100);
        QCOMPARE(m_s->pos(), at);
        list()->hide();

        // A click on the picture moves nothing, and no place is kept (a drag
        // moves it, and keeps the place: tst_desktops).
        // A tap (press and release at once, as a touchpad's): the pointer
        // moved after it leaves the window where it was.
        const QPoint picture = m_s->mapToGlobal(QPoint(20, 20));
        pointer(picture, {"mousedown", "1", "mouseup", "1"}, 200);
        pointer(picture + QPoint(60, 40), {}, 300);
        QCOMPARE(m_s->pos(), at);
        m_s->saveAllMySettings();
        QCOMPARE(SettingsStore(m_s.store().path()).getSetting(u"Settings"_qs, u"Left"_qs, {}), QString());
    }

    void pasteEndsAtTheFirstLineBreak_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("line");
        // What the same text sent from outside (the selection, the clipboard,
        // the command line) looks up: no blanks around it. (Every kind of line
        // break: tst_celltext.)
        QTest::addColumn<QString>("sent");
        QTest::newRow("\\n") << u"house\n"_qs << u"house"_qs << u"house"_qs;
        QTest::newRow("\\r\\n, more lines") << u"house\r\nhome\r\n"_qs << u"house"_qs << u"house"_qs;
        QTest::newRow("blanks stay") << u"  a house \n"_qs << u"  a house "_qs << u"a house"_qs;
        QTest::newRow("tabs and blanks") << u"\t pondělí \t\r\nx"_qs << u"\t pondělí \t"_qs << u"pondělí"_qs;
        QTest::newRow("no break") << u"dům u cesty"_qs << u"dům u cesty"_qs << u"dům u cesty"_qs;
        QTest::newRow("break first") << u"\nhouse"_qs << QString() << u"house"_qs;
        QTest::newRow("blank lines first") << u" \r\n\t\n pondělí \n"_qs << u" "_qs << u"pondělí"_qs;
    }

    void pasteEndsAtTheFirstLineBreak()
    {
        QFETCH(QString, clip);
        QFETCH(QString, line);
        QFETCH(QString, sent);
        QCOMPARE(sentText(clip), sent);
        OneLineEdit box;
        QSignalSpy changed(&box, &QLineEdit::textChanged);

        // Set from code, or by Ctrl+V into the emptied box: what it held
        // never reaches the look-up.
        box.setText(clip);
        QCOMPARE(box.text(), line);
        box.clear();
        QGuiApplication::clipboard()->setText(clip);
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box.text(), line);
        for (const QList<QVariant> &signal : changed)
            QVERIFY(signal.at(0).toString() == line || signal.at(0).toString().isEmpty());
        // Shift+Insert over a selection in the middle: the line replaces the
        // selection, the text after it stays.
        box.setText(u"abXYcd"_qs);
        box.setSelection(2, 2);
        QTest::keyClick(&box, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(box.text(), u"ab"_qs + line + u"cd"_qs);
        QCOMPARE(box.cursorPosition(), 2 + line.size());
        // A paste is an edit like typing: undone by Ctrl+Z.
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(box.text(), u"abXYcd"_qs);

        // The middle button pastes the selection where it clicks.
        if (!QGuiApplication::clipboard()->supportsSelection())
            QSKIP("this platform has no selection to paste");
        QGuiApplication::clipboard()->setText(clip, QClipboard::Selection);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(QClipboard::Selection), clip);
        box.setText(u"ab"_qs);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        // Right of the text, so at its end.
        QTest::mouseClick(&box, Qt::MiddleButton, {}, QPoint(box.width() - 4, box.height() / 2));
        QCOMPARE(box.text(), u"ab"_qs + line);
        // And so do Ctrl+Shift+Insert.
        box.setText(u"ab"_qs);
        box.setCursorPosition(1);
        QTest::keyClick(&box, Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(box.text(), u"a"_qs + line + u"b"_qs);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
