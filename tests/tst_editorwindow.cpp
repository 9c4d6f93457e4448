// The data-source editor's window as the user meets it: where the keys go,
// what the pointer does, the way through the editor from opening to the
// saved file. What the editor decides is tst_cataloguelist's; the lookup
// window's settings command, the whole road: tst_window.
#include "platform/OpenSave.h"
#include "widgets/PathDelegate.h"
#include "util/Editor.h"
#include "util/Files.h"
#include "util/WindowTestUtil.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

using namespace tarnvik;
using testutil::iniEntry;
using Action = CatalogueList::Action;

class TestEditorWindow : public QObject
{
    Q_OBJECT
    testutil::Editor e;

    // Where the keys are (the rows, the title, "…", a row's choice box) and
    // the row described.
    QString keysAt() const
    {
        const QWidget *f = QApplication::focusWidget();
        QString where = f == e->grid(1)          ? u"rows"_qs
                        : f == e->titleEditor()  ? u"title"_qs
                        : f == e->browseButton() ? u"…"_qs
                                                 : u"?"_qs;
        for (int r = TableRow; r < PropertyRows; ++r)
            where = f == e->combo(r) ? u"box %1"_qs.arg(r) : where;
        // The rows' keys with an editor still drawn over its row.
        bool editorShown = e->titleEditor()->isVisible() || e->browseButton()->isVisible();
        for (int r = TableRow; r < PropertyRows; ++r)
            editorShown = editorShown || e->combo(r)->isVisible();
        if (where == u"rows"_qs && editorShown)
            where += u" under an editor"_qs;
        return where + u' ' + e->head();
    }

private slots:
    // Opening: the title editor over row 0, its text selected, row 0
    // described. Typing, a click opening a row's box, picks; the close saves,
    // and the next opening in the run has the size the user gave the window.
    void theWholeRoad()
    {
        const QString one = u"[Tables]\ncount=1\n"_qs
                            + iniEntry(1, u"Slova"_qs, e.database(), u"slovnik"_qs, u"SLOVO"_qs, u"vyznam"_qs);
        QCOMPARE(e.open(one), QStringList());
        QLineEdit *text = e->titleEditor();
        QCOMPARE(keysAt(), u"title Popisek v nabídce"_qs);
        const QRect row0 = e->grid(1)->visualItemRect(e->grid(1)->item(TitleRow, 0));
        QVERIFY(qAbs(text->geometry().center().y() - row0.center().y()) <= 3);
        QCOMPARE(e.type(u"x"_qs), QStringList()); // the selected text replaced
        e.openRow(OutputFieldRow);
        QVERIFY(e->combo(OutputFieldRow)->isVisible() && !text->isVisible());
        QCOMPARE(e->head(), u"Výstupní hodnoty"_qs);
        e.edit(OutputFieldRow, u"slovo"_qs);
        e.edit(TableRow, u"jina"_qs);
        e.edit(OutputCharsetRow, u"cyrilice"_qs);
        e->resize(e->size() + QSize(120, 80));
        const QSize given = e->size();
        QVERIFY(e.close());
        QStringList saved;
        for (const char *key : {"Table1Name", "Table1Out", "Table1CharsetOut", "Table1Title"})
            saved << SettingsStore(e.ini()).getSetting("Tables", key, {});
        QCOMPARE(saved.join(u'|'), u"jina|word|204|x"_qs);
        // The database's problems are told.
        QCOMPARE(e.open(QString(one).replace(u"slovnik"_qs, u"nic"_qs)), QStringList{u"Tabulka 'nic' nebyla nalezena!"_qs});
        QCOMPARE(e->size(), given);

        // Every entry deleted: nothing to type into, only New. New then takes
        // a database from the dialog, and the keys go on from the rows.
        e.open(u"[Tables]\ncount=1\n"_qs + iniEntry(1, u"Můj"_qs, QString(), QString(), QString(), QString()));
        e.answer = QMessageBox::Yes;
        QCOMPARE(e.step([&] { e->button(Action::Delete)->trigger(); }).size(), 1);
        e.answer = QMessageBox::No;
        // (Leaving it saved empty: tst_cataloguelist.)
        e.open({});
        QCOMPARE(e.edit(DatabaseRow, e.database()), QStringList());
        QCOMPARE(QApplication::focusWidget(), e->grid(1));
        QVERIFY(e.close());
    }

    // However the highlight is moved, the pane and the toolbar follow it (the
    // fixture compares them after each step), and Delete; a move the list
    // refuses puts it back. The editor that is shown takes the keys; Escape
    // gives the title back; every row is reached and opened from the
    // keyboard. Keys and the wheel over a closed choice box change no value:
    // the arrows walk the rows, typing opens the list, and only a pick stores.
    void keysAndPointer()
    {
        QString entries;
        const QStringList titles = {u"Anglicko-český"_qs, u"Bulharský"_qs, u"Cestovní"_qs, u"Dánský"_qs};
        for (int i = 0; i < titles.size(); ++i)
            entries += iniEntry(i + 1, titles[i], e.database(), u"Slovnik"_qs);
        e.open(u"[Tables]\ncount=4\nActiveTable=1\n"_qs + entries);
        QListWidget *list = e->list();
        // A click on a line's box clears it and selects the line; Space ticks it again.
        QStyleOptionViewItem opt;
        opt.initFrom(list);
        opt.rect = list->visualItemRect(list->item(1));
        opt.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QPoint tick = list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, list).center();
        e.step([&] { QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, tick); });
        QVERIFY(list->currentRow() == 1 && !e->catalogue().sources()[1].Visible);
        e.key(Qt::Key_Space, list);
        QVERIFY(e->catalogue().sources()[1].Visible);
        e.key(Qt::Key_PageDown, list);
        e.type(u"C"_qs, list); // type-ahead
        QCOMPARE(list->currentRow(), 2);
        // Pressed on the first line, dragged to the second.
        const QPoint first = list->visualItemRect(list->item(0)).center(),
                     second = list->visualItemRect(list->item(1)).center();
        e.step([&] {
            QTest::mousePress(list->viewport(), Qt::LeftButton, {}, first);
            QMouseEvent drag(QEvent::MouseMove, second, list->viewport()->mapToGlobal(second), Qt::NoButton,
                             Qt::LeftButton, {});
            QApplication::sendEvent(list->viewport(), &drag);
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, second);
        });
        // Delete, from the keyboard, asks about the highlighted entry, "Ne" first.
        QCOMPARE(e.key(Qt::Key_Delete, list), QStringList{editortext::deleteQuestion(titles[list->currentRow()])});
        QVERIFY(e.byDefault);
        // On an entry without a database the highlight comes back.
        e->activateWindow(); // the box gave the activation back only under a window manager
        QTRY_VERIFY(e->isActiveWindow());
        e.key(Qt::Key_Insert, list);
        QCOMPARE(list->currentRow(), 4);
        // New's own step back was the silent first refusal; the next one is told.
        // (Which refusal is told, and what closing on it asks: tst_cataloguelist.)
        QCOMPARE(e.key(Qt::Key_PageUp, list), QStringList{editortext::MoveRefused});
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem *>{list->item(4)});
        // Closing on it asks; No stays.
        QCOMPARE(e.step([&] { QVERIFY(!e->close()); }).size(), 1);

        e.open(e.twoSources(1));
        const QByteArray before = testutil::readBytes(e.ini());
        QTableWidget *values = e->grid(1);
        e.openRow(TableRow);
        QVERIFY(e->combo(TableRow)->isVisible() && e->combo(TableRow)->hasFocus());
        e.openRow(TitleRow);
        e.type(u"Q R"_qs);
        QCOMPARE(e->catalogue().sources()[0].Title, u"Q R"_qs);
        e.key(Qt::Key_Escape);
        QCOMPARE(e->list()->item(0)->text(), u"Slova"_qs);
        QVERIFY(e->isVisible());

        // Tab from the list reaches the rows; arrows walk them, F2 and Enter
        // open. Only the part with the keys shows its highlight in full.
        auto shade = [](QAbstractItemView *view) {
            const QRect r = view->visualRect(view->currentIndex());
            return view->viewport()->grab(r).toImage().pixelColor(r.width() - 3, r.height() / 2);
        };
        e->list()->setFocus();
        const QColor listWithKeys = shade(e->list()), paneWithout = shade(values);
        e.key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), values);
        auto apart = [](const QColor &a, const QColor &b) { return std::abs(a.lightness() - b.lightness()) > 40; };
        QVERIFY(apart(shade(e->list()), listWithKeys) && apart(shade(values), paneWithout));
        // Enter in a closed choice box, or an arrow on "…", gives the arrows
        // back to the rows: they walk on and change no choice unseen (the
        // file compared at the end).
        const std::pair<Qt::Key, QString> walk[] = {
            {Qt::Key_Down, u"rows Zdrojová databáze"_qs},    {Qt::Key_Return, u"… Zdrojová databáze"_qs},
            {Qt::Key_Escape, u"rows Zdrojová databáze"_qs},  {Qt::Key_Down, u"rows Název tabulky"_qs},
            {Qt::Key_Down, u"rows Vstupní hodnoty"_qs},      {Qt::Key_Down, u"rows Vstupní kódování"_qs},
            {Qt::Key_F2, u"box 4 Vstupní kódování"_qs},      {Qt::Key_Return, u"rows Vstupní kódování"_qs},
            {Qt::Key_Down, u"rows Výstupní hodnoty"_qs},     {Qt::Key_Up, u"rows Vstupní kódování"_qs},
            {Qt::Key_Up, u"rows Vstupní hodnoty"_qs},        {Qt::Key_Up, u"rows Název tabulky"_qs},
            {Qt::Key_Up, u"rows Zdrojová databáze"_qs},      {Qt::Key_Return, u"… Zdrojová databáze"_qs},
            {Qt::Key_Down, u"rows Název tabulky"_qs}};
        for (const auto &[k, then] : walk) {
            e.key(k);
            QCOMPARE(keysAt(), then);
        }
        // Nor does a new size bring the editor back.
        e->resize(e->size() + QSize(16, 0));
        QCOMPARE(keysAt(), walk[std::size(walk) - 1].second);
        // Nor is an editor left drawn once the keys are in the list of sources.
        e.openRow(TableRow);
        e->list()->setFocus();
        QTRY_VERIFY(!e->combo(TableRow)->isVisible());
        // A row opened by its name: the keys come back to that row.
        const QTableWidget *names = e->grid(0);
        QTest::mouseClick(names->viewport(), Qt::LeftButton, {}, names->visualItemRect(names->item(InputFieldRow, 0)).center());
        QCOMPARE(keysAt(), u"box %1 "_qs.arg(int(InputFieldRow)) + QString::fromUtf8(propertyRowText[InputFieldRow].caption));
        e.key(Qt::Key_Escape);
        QCOMPARE(keysAt(), u"rows "_qs + QString::fromUtf8(propertyRowText[InputFieldRow].caption));
        QCOMPARE(std::pair(values->currentRow(), values->selectedItems().size()), std::pair(int(InputFieldRow), qsizetype(1)));
        // Home and End reach the first and the last row.
        auto rowsAt = [](int row) { return u"rows "_qs + QString::fromUtf8(propertyRowText[row].caption); };
        e.key(Qt::Key_End);
        QCOMPARE(keysAt(), rowsAt(OutputCharsetRow));
        e.key(Qt::Key_Home);
        QCOMPARE(keysAt(), rowsAt(TitleRow));
        const QVector<DataSource> sources = e->catalogue().sources();
        for (int row = TableRow; row <= OutputCharsetRow; ++row) {
            e.openRow(row);
            QComboBox *box = e->combo(row);
            QVERIFY(box->hasFocus());
            for (int wheel : {-120, 120, -120}) {
                const QPoint c = box->rect().center();
                QWheelEvent roll(c, box->mapToGlobal(c), {}, {0, wheel}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
                QApplication::sendEvent(box, &roll);
            }
            for (Qt::Key k : {Qt::Key_End, Qt::Key_Home, Qt::Key_Right, Qt::Key_Left})
                e.key(k);
            QCOMPARE(e->catalogue().sources(), sources);
            e.openRow(row);
            e.type(u"j"_qs);
            QTRY_VERIFY(box->view()->isVisible());
            box->hidePopup();
            box->setFocus();
            e.key(Qt::Key_Down);
            QCOMPARE(e->catalogue().sources(), sources);
            const int next = std::min(row + 1, int(OutputCharsetRow));
            QCOMPARE(keysAt(), u"rows "_qs + QString::fromUtf8(propertyRowText[next].caption));
        }
        e.key(Qt::Key_Escape); // no edit open: closes, as Alt+F4
        QVERIFY(!e->isVisible());
        QCOMPARE(testutil::readBytes(e.ini()), before);
    }

    // A path too long for its cell loses folders, never the file's name.
    // A dictionary file dropped on the list becomes a new entry, imported
    // into the data folder (the test mode's).
    void droppedDictionary()
    {
        const QFontMetrics fm(QApplication::font());
        const QString name = u"anglicko-český.mdb (soubor nenalezen)"_qs;
        const QString text = u"/home/uživatel/slovníky/staré/ještě starší/"_qs + name;
        QCOMPARE(elidedPath(text, fm, 4000), text);
        for (int width = fm.horizontalAdvance(u"…/"_qs + name); width < fm.horizontalAdvance(text); width += 7) {
            const QString shown = elidedPath(text, fm, width);
            QVERIFY2(shown.endsWith(u'/' + name) && fm.horizontalAdvance(shown) <= width, qPrintable(shown));
        }
        QVERIFY(elidedPath(text, fm, fm.horizontalAdvance(u"anglicko-č"_qs)).startsWith(u"angl"_qs));

        QCOMPARE(e.open(e.twoSources(1)), QStringList());
        const QString csv = e.path(u"ptaci.csv"_qs);
        testutil::writeBytes(csv, "ptak,bird\nsýkora,tit\n");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(csv)});
        QWidget *list = e->list()->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list, &drop);
        QTRY_COMPARE(e->catalogue().sources().size(), 3);
        const DataSource made = e->catalogue().sources()[2];
        QCOMPARE(made.Title + u' ' + made.Name + u' ' + made.In + u' ' + made.Out, u"ptaci ptaci ptak bird"_qs);
        QCOMPARE(e->list()->currentRow(), 2);
        QCOMPARE(e.mismatch(), QString());

        // A click on another entry and Insert while a long import runs: the
        // import is still the selected entry's, the others untouched.
        QByteArray rows = "slovo\tvyznam\n";
        for (int i = 0; i < 200000; ++i)
            rows += "slovo" + QByteArray::number(i) + "\tvyznam\n";
        const QString tsv = e.path(u"dlouhy.tsv"_qs);
        testutil::writeBytes(tsv, rows);
        setOpenDialogForTests([&](QWidget *, const QString &, const QString &, const QString &) { return tsv; });
        const QVector<DataSource> before = e->catalogue().sources();
        bool pressed = false;
        QTimer::singleShot(0, [&] {
            QListWidget *l = e->list();
            QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(0)).center());
            QTest::keyClick(l, Qt::Key_Insert);
            pressed = true;
        });
        e->browseButton()->click();
        setOpenDialogForTests({});
        QVERIFY(pressed);
        const QVector<DataSource> after = e->catalogue().sources();
        // Only its own: another test may be importing into the same folder.
        QFile::remove(made.File);
        QFile::remove(after.value(2).File);
        QCOMPARE(after.size(), 3);
        QCOMPARE(after[0], before[0]);
        QCOMPARE(after[2].Name, u"dlouhy"_qs);
        QVERIFY(e.close());
    }
};

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
