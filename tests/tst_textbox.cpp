// The lookup window's text box holds one line: what is pasted into it by the
// keys or the middle button ends at its first line break, as does text set
// in it from code. Runs on an X server, which has the middle button's
// selection.
#include "widgets/Controls.h"

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QtTest>

using namespace tarnvik;

class TestTextBox : public QObject
{
    Q_OBJECT

private slots:
    void pasteEndsAtTheFirstLineBreak_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("line");
        QTest::newRow("\\n") << u"house\n"_qs << u"house"_qs;
        QTest::newRow("\\r\\n, more lines") << u"house\r\nhome\r\n"_qs << u"house"_qs;
        QTest::newRow("\\r") << u"house\rhome"_qs << u"house"_qs;
        QTest::newRow("U+2028") << u"house\u2028home"_qs << u"house"_qs;
        QTest::newRow("U+2029") << u"house\u2029home"_qs << u"house"_qs;
        QTest::newRow("blanks stay") << u"  a house \n"_qs << u"  a house "_qs;
        QTest::newRow("no break") << u"dům u cesty"_qs << u"dům u cesty"_qs;
        QTest::newRow("break first") << u"\nhouse"_qs << QString();
    }

    void pasteEndsAtTheFirstLineBreak()
    {
        QFETCH(QString, clip);
        QFETCH(QString, line);
        OneLineEdit box;
        QSignalSpy changed(&box, &QLineEdit::textChanged);

        // Ctrl+V into the empty box; what it held never reaches the look-up.
        QGuiApplication::clipboard()->setText(clip);
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box.text(), line);
        for (const QList<QVariant> &signal : changed)
            QCOMPARE(signal.at(0).toString(), line);
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

    void setFromCodeEndsAtTheFirstLineBreak()
    {
        OneLineEdit box;
        QSignalSpy changed(&box, &QLineEdit::textChanged);
        box.setText(u" house\r\nhome"_qs);
        QCOMPARE(box.text(), u" house"_qs);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toString(), u" house"_qs);
        // Typing goes on as ever, blanks and all.
        QTest::keyClicks(&box, u" x "_qs);
        QCOMPARE(box.text(), u" house x "_qs);
    }
};

QTEST_MAIN(TestTextBox)
#include "tst_textbox.moc"
