// The data-source editor as the user meets it: the pane's start, the title
// typed, a database chosen (dialog stood in for), a table changed, the
// verification's messages, the toolbar, closing, and the settings command of
// the lookup window around it.
#include "editor/setData.h"
#include "lookup/frmDict.h"
#include "platform/OpenSave.h"
#include "platform/MessageBox.h"
#include "widgets/PathDelegate.h"
#include "util/Files.h"
#include "util/TestUtil.h"
#include "util/Strip.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QFileInfo>
#include <QMouseEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using namespace tarnvik;
using testutil::answeringBoxes;
using testutil::iniEntry;
using Action = CatalogueList::Action;
EditorMemory memory;

// Runs 'act' on the modal editor once it is up and idle.
void onEditor(const std::function<void(setData *)> &act)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto *editor = qobject_cast<setData *>(QApplication::activeModalWidget());
        if (!editor || editor->busy())
            return;
        timer->stop();
        timer->deleteLater();
        act(editor);
    });
    timer->start();
}

// Answers each box that comes up with 'button'; returns their texts, and
// notes in 'byDefault' whether each had that button as its default.
QStringList answeringWith(QMessageBox::StandardButton button, const std::function<void()> &action,
                          bool *byDefault = nullptr)
{
    QStringList texts;
    testutil::polling(action, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts << box->text();
            QAbstractButton *b = box->button(button);
            if (byDefault)
                *byDefault = b && box->defaultButton() == b;
            if (b)
                b->click();
            else
                box->accept();
        }
    }, 100);
    return texts;
}

// Clicks line 'row' of the editor's list; returns the boxes that came up.
QStringList clickLine(setData &w, int row)
{
    return answeringBoxes([&] {
        QTest::mouseClick(w.list()->viewport(), Qt::LeftButton, {},
                          w.list()->visualItemRect(w.list()->item(row)).center());
    });
}

// The editor on a catalogue of these lines, shown and loaded.
struct OpenEditor
{
    SettingsStore store;
    setData w;
    OpenEditor(const QString &ini, const QString &catalogue) : store((testutil::writeIni(ini, catalogue), ini)), w(store, memory)
    {
        w.show();
        if (!QTest::qWaitForWindowActive(&w))
            qWarning("the editor did not become active");
        w.load_settings();
    }
};

class TestEditorWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_two, m_msOnly, m_notDb;

    QString ini() const { return m_dir.filePath(QStringLiteral("TVK/TVK.ini")); }

    // Slova (Slovnik: slovo, vyznam) and Jiná (jina: word, meaning), both in m_two.
    QString twoSources(int active) const
    {
        return QStringLiteral("[Settings]\nTopMost=True\n[Tables]\ncount=2\nActiveTable=%1\n").arg(active)
               + iniEntry(1, u"Slova"_qs, m_two, u"Slovnik"_qs, u"slovo"_qs, u"vyznam"_qs)
               + iniEntry(2, u"Jiná"_qs, m_two, u"jina"_qs, u"word"_qs, u"meaning"_qs);
    }

    static QStringList items(QComboBox *box)
    {
        QStringList out;
        for (int i = 0; i < box->count(); ++i)
            out << box->itemText(i);
        return out;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // Two tables, the second one spelled with a capital; and a table
        // whose name the engine's own would have.
        m_two = m_dir.filePath(QStringLiteral("dve.mdb"));
        const QString slova = m_dir.filePath(QStringLiteral("Slovnik.tsv"));
        const QString jina = m_dir.filePath(QStringLiteral("jina.tsv"));
        const QString ms = m_dir.filePath(QStringLiteral("MSProducts.tsv"));
        testutil::writeTsv(slova, {"slovo", "vyznam"}, {{QStringLiteral("dům"), QStringLiteral("house")}});
        testutil::writeTsv(jina, {"word", "meaning", "note"}, {{QStringLiteral("dog"), QStringLiteral("pes"), {}}});
        testutil::writeTsv(ms, {"a"}, {{QStringLiteral("x")}});
        auto r = testutil::runMkdb({m_two, ms, slova, jina});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        m_msOnly = m_dir.filePath(QStringLiteral("ms.mdb"));
        r = testutil::runMkdb({m_msOnly, ms});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        m_notDb = m_dir.filePath(QStringLiteral("not.mdb"));
        testutil::writeBytes(m_notDb, QByteArray(8192, 'x'));
    }

    void paneAndEdits()
    {
        OpenEditor e(ini(), u"[Tables]\ncount=1\n"_qs + iniEntry(1, u"Slova"_qs, m_two, u"slovnik"_qs, u"SLOVO"_qs, u"vyznam"_qs));
        setData &w = e.w;

        // At the start: the title editor over row 0, its text selected, row 0 described.
        QLineEdit *text = w.titleEditor();
        QVERIFY(text->isVisible());
        QCOMPARE(text->selectedText(), QStringLiteral("Slova"));
        QCOMPARE(w.head(), QStringLiteral("Popisek v nabídce"));
        QVERIFY(qAbs(text->geometry().center().y() - w.grid(1)->visualItemRect(w.grid(1)->item(TitleRow, 0)).center().y()) <= 3);

        // Stored names found in any letter case and kept as stored (the same
        // table and fields); tables beginning with "MS" not offered.
        QCOMPARE(items(w.combo(TableRow)), (QStringList{"Slovnik", "jina"}));
        QCOMPARE(w.combo(TableRow)->currentText(), QStringLiteral("Slovnik"));
        QCOMPARE(w.combo(InputFieldRow)->currentText(), QStringLiteral("slovo"));
        QCOMPARE(w.valueCell(InputCharsetRow), QStringLiteral("středoevropské"));

        // Typing the title: the list line follows at every key.
        QTest::keyClicks(text, QStringLiteral("x"));
        QCOMPARE(w.list()->item(0)->text(), text->text());

        // The output field row: a click opens its box; a pick is stored.
        QTableWidget *values = w.grid(1);
        const QPoint outputField = values->visualItemRect(values->item(OutputFieldRow, 0)).center();
        QTest::mouseClick(values->viewport(), Qt::LeftButton, {}, outputField);
        QVERIFY(w.combo(OutputFieldRow)->isVisible());
        QVERIFY(!text->isVisible());
        QCOMPARE(w.head(), QStringLiteral("Výstupní hodnoty"));
        w.combo(OutputFieldRow)->setCurrentIndex(0);
        emit w.combo(OutputFieldRow)->activated(0);
        QCOMPARE(w.catalogue().sources()[0].Out, QStringLiteral("slovo"));
        QCOMPARE(w.valueCell(OutputFieldRow), QStringLiteral("slovo"));

        // Another table: its fields listed, the first one for both.
        w.combo(TableRow)->setCurrentIndex(1);
        emit w.combo(TableRow)->activated(1);
        QCOMPARE(items(w.combo(InputFieldRow)), (QStringList{"word", "meaning", "note"}));
        QCOMPARE(w.catalogue().sources()[0].In, QStringLiteral("word"));
        QCOMPARE(w.catalogue().sources()[0].Out, QStringLiteral("word"));

        // A charset by name stores its number.
        w.combo(OutputCharsetRow)->setCurrentIndex(1);
        emit w.combo(OutputCharsetRow)->activated(1);
        QCOMPARE(w.valueCell(OutputCharsetRow), QStringLiteral("cyrilice"));

        // Closing saves the working copy.
        QVERIFY(w.close());
        SettingsStore after(ini());
        QCOMPARE(after.getSetting("Tables", "Table1Name", {}), QStringLiteral("jina"));
        QCOMPARE(after.getSetting("Tables", "Table1CharsetOut", {}), QStringLiteral("204"));
        QCOMPARE(after.getSetting("Tables", "Table1Title", {}), QStringLiteral("x")); // the selected text replaced
    }

    // Names not found are told and kept, their boxes showing no choice; a
    // file that is gone is said, one that is no database is not taken; the
    // dialog starts in the entry's folder; the window keeps its size.
    void namesAndFilesAsTheyAre()
    {
        testutil::writeIni(ini(), u"[Tables]\ncount=3\nActiveTable=1\n"_qs
                                      + iniEntry(1, u"A"_qs, m_two, u"nic"_qs, u"slovo"_qs, u"vyznam"_qs)
                                      + iniEntry(2, u"B"_qs, m_two, u"Slovnik"_qs, u"chybi"_qs, u"vyznam"_qs)
                                      + iniEntry(3, u"C"_qs, m_dir.filePath(u"pryc.mdb"_qs), u"Slovnik"_qs, u"slovo"_qs,
                                              u"vyznam"_qs));
        SettingsStore store(ini());
        auto w = std::make_unique<setData>(store, memory);
        w->show();
        QStringList told = answeringBoxes([&] { QTRY_COMPARE(w->list()->count(), 3); }); // read once the window is up
        QCOMPARE(told, QStringList{"Tabulka 'nic' nebyla nalezena!"});
        QCOMPARE(w->combo(TableRow)->currentIndex(), -1);
        QCOMPARE(w->valueCell(TableRow), QStringLiteral("nic"));
        // Picking the first table is a change of table.
        w->combo(TableRow)->setCurrentIndex(0);
        emit w->combo(TableRow)->activated(0);
        QCOMPARE(w->catalogue().sources()[0].Name, QStringLiteral("Slovnik"));
        QCOMPARE(w->catalogue().sources()[0].In, QStringLiteral("slovo"));

        QCOMPARE(clickLine(*w, 1), QStringList{"Položka 'chybi' nebyla nalezena!"});
        QCOMPARE(w->combo(InputFieldRow)->currentIndex(), -1);
        QCOMPARE(w->combo(OutputFieldRow)->currentIndex(), -1);

        QString dir, next = m_notDb;
        setOpenDialogForTests([&](QWidget *, const QString &filter, const QString &title, const QString &initial) {
            dir = initial;
            return filter.contains(QStringLiteral("*.mdb")) && title == QStringLiteral("Vyber zdroj dat") ? next : QString();
        });
        told = answeringBoxes([&] { w->browseButton()->click(); });
        QCOMPARE(dir, QFileInfo(m_two).absolutePath());
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].contains(QStringLiteral("not.mdb")));
        QCOMPARE(w->catalogue().sources()[1].File, m_two);
        QCOMPARE(w->grid(1)->item(DatabaseRow, 0)->toolTip(), QDir::toNativeSeparators(m_two));
        next = m_msOnly; // opens, but offers no table
        told = answeringBoxes([&] { w->browseButton()->click(); });
        setOpenDialogForTests({});
        QCOMPARE(told, QStringList{"K dispozici nejsou žádné tabulky!"});

        // A file that is gone: said in row 1, the names the entry holds shown,
        // boxes disabled, no message.
        QVERIFY(clickLine(*w, 2).isEmpty());
        QCOMPARE(w->valueCell(DatabaseRow), m_dir.filePath(u"pryc.mdb"_qs) + u" (soubor nenalezen)"_qs);
        QCOMPARE(w->valueCell(TableRow), QStringLiteral("Slovnik"));
        QCOMPARE(w->valueCell(InputFieldRow), QStringLiteral("slovo"));
        QVERIFY(!w->combo(TableRow)->isEnabled());

        w->resize(w->size() + QSize(120, 80));
        const QSize given = w->size();
        QVERIFY(w->close());
        SettingsStore after(ini());
        QCOMPARE(after.getSetting("Tables", "ActiveTable", {}), QStringLiteral("3"));
        w.reset();
        setData again(store, memory);
        QCOMPARE(again.size(), given);
    }

    // Opening the editor and closing it leaves the file byte for byte, over
    // catalogues whose values the pane cannot show as stored.
    void viewAndCloseKeepsEveryValue_data()
    {
        QTest::addColumn<QString>("entries");
        QTest::addColumn<int>("boxes"); // messages the verification gives
        const QString two = m_two;
        QTest::newRow("names in another letter case")
            << iniEntry(1, u"Slova"_qs, two, u"SLOVNIK"_qs, u"SLOVO"_qs, u"Vyznam"_qs) << 0;
        QTest::newRow("charsets no name stands for")
            << iniEntry(1, u"Slova"_qs, two, u"Slovnik"_qs) + u"Table1CharsetIn=1\nTable1CharsetOut=100\n"_qs << 0;
        QTest::newRow("spellings of defaults, and none")
            << iniEntry(1, u"Slova"_qs, two, u"Slovnik"_qs) + u"Table1Visible=TRUE\nTable1CharsetIn= 204\n"_qs << 0;
        QTest::newRow("a missing file") << iniEntry(1, u"Pryč"_qs, m_dir.filePath(u"pryc.mdb"_qs)) << 0;
        QTest::newRow("a missing table") << iniEntry(1, u"Slova"_qs, two, u"nic"_qs) << 1;
        QTest::newRow("a missing input field") << iniEntry(1, u"Slova"_qs, two, u"Slovnik"_qs, u"chybi"_qs) << 1;
        QTest::newRow("a missing output field")
            << iniEntry(1, u"Slova"_qs, two, u"Slovnik"_qs, u"slovo"_qs, u"chybi"_qs) << 1;
        QTest::newRow("a second entry without a database")
            << iniEntry(1, u"Slova"_qs, two, u"Slovnik"_qs) + iniEntry(2, u"Rozdělaný"_qs, QString(), QString(), QString(), QString()) << 0;
    }

    void viewAndCloseKeepsEveryValue()
    {
        QFETCH(QString, entries);
        QFETCH(int, boxes);
        const int count = int(entries.count(u"Title="_qs));
        testutil::writeIni(ini(), u"[Tables]\ncount=%1\nActiveTable=1\n"_qs.arg(count) + entries);
        const QByteArray before = testutil::readBytes(ini());
        SettingsStore store(ini());
        auto w = std::make_unique<setData>(store, memory);
        w->show();
        const QStringList told = answeringBoxes([&] { QTRY_COMPARE(w->list()->count(), count); });
        QCOMPARE(told.size(), boxes);
        // Every entry with a database looked at (one without holds the user),
        // the first again last.
        for (int i = count - 1; i >= 0; --i) {
            if (w->catalogue().sources()[i].File.isEmpty())
                continue;
            clickLine(*w, i);
        }
        QVERIFY(w->close());
        QCOMPARE(testutil::readBytes(ini()), before);
    }

    // Every entry deleted: nothing left to type into, only New, and the
    // user may leave (the list's own rules: tst_cataloguelist).
    void emptiedByDelete()
    {
        OpenEditor e(ini(), u"[Tables]\ncount=1\n"_qs + iniEntry(1, u"Můj"_qs, QString(), QString(), QString(), QString()));
        setData &w = e.w;
        answeringWith(QMessageBox::Yes, [&] { w.button(Action::Delete)->trigger(); });
        QCOMPARE(w.list()->count(), 0);
        QVERIFY(w.button(Action::New)->isEnabled() && !w.button(Action::Delete)->isEnabled());
        QVERIFY(!w.titleEditor()->isEnabled());
        QVERIFY(answeringBoxes([&] { QVERIFY(w.close()); }).isEmpty());
        QCOMPARE(SettingsStore(ini()).getSetting("Tables", "count", {}), QStringLiteral("0"));
    }

    // However the highlight is moved, the pane, the toolbar and Delete follow
    // it; a move the list refuses puts it back.
    void highlightAndEntryStayTogether()
    {
        QString entries;
        const QStringList titles = {u"Anglicko-český"_qs, u"Bulharský"_qs, u"Cestovní"_qs, u"Dánský"_qs};
        for (int i = 0; i < titles.size(); ++i)
            entries += iniEntry(i + 1, titles[i], m_two, u"Slovnik"_qs);
        OpenEditor e(ini(), u"[Tables]\ncount=4\nActiveTable=1\n"_qs + entries);
        setData &w = e.w;
        QListWidget *list = w.list();
        list->setFocus();
        auto shown = [&] { return w.valueCell(TitleRow); };
        QTest::keyClick(list, Qt::Key_PageDown);
        QCOMPARE(w.catalogue().selectedLine(), list->currentRow());
        QCOMPARE(shown(), titles[list->currentRow()]);
        QTest::keyClicks(list, u"C"_qs); // type-ahead
        QCOMPARE(list->currentRow(), 2);
        QCOMPARE(shown(), titles[2]);
        // Pressed on the first line, dragged to the second.
        const QPoint first = list->visualItemRect(list->item(0)).center(),
                     second = list->visualItemRect(list->item(1)).center();
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, first);
        QMouseEvent drag(QEvent::MouseMove, second, list->viewport()->mapToGlobal(second), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(list->viewport(), &drag);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(w.catalogue().selectedLine(), list->currentRow());
        QCOMPARE(shown(), titles[list->currentRow()]);
        // Delete, from the keyboard, asks about the highlighted entry, "Ne" first.
        bool noByDefault = false;
        QCOMPARE(answeringWith(QMessageBox::No, [&] { QTest::keyClick(list, Qt::Key_Delete); }, &noByDefault),
                 QStringList{editortext::deleteQuestion(titles[list->currentRow()])});
        QVERIFY(noByDefault);
        // On an entry without a database the highlight comes back.
        w.activateWindow(); // the box gave the activation back only under a window manager
        QTRY_COMPARE(QApplication::activeWindow(), &w);
        QTest::keyClick(list, Qt::Key_Insert);
        QCOMPARE(list->currentRow(), 4);
        const QStringList told = answeringBoxes([&] {
            // New's own step back was the silent first refusal.
            QTest::keyClick(list, Qt::Key_PageUp);
        });
        QCOMPARE(told, QStringList{editortext::MoveRefused});
        QCOMPARE(list->currentRow(), 4);
        QCOMPARE(shown(), editortext::NewTitle);
        // The same with the box shown and answered: the highlight still comes back.
        QCOMPARE(answeringWith(QMessageBox::Ok, [&] { QTest::keyClick(list, Qt::Key_Up); }),
                 QStringList{editortext::MoveRefused});
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem *>{list->item(4)});
        QCOMPARE(list->currentRow(), 4);
        // Closing on it asks whether to drop it: No stays, Yes closes.
        QCOMPARE(answeringWith(QMessageBox::No, [&] { QVERIFY(!w.close()); }),
                 QStringList{editortext::CloseRefused + u"\n\n"_qs + editortext::dropQuestion(editortext::NewTitle)});
        QVERIFY(answeringWith(QMessageBox::Yes, [&] { QVERIFY(w.close()); }).size() == 1);
    }

    // The editor that is shown takes the keys; Escape gives the title back;
    // every row is reached and opened from the keyboard.
    void keysGoToTheOpenEditor()
    {
        OpenEditor e(ini(), u"[Tables]\ncount=1\n"_qs + iniEntry(1, u"Slova"_qs, m_two, u"Slovnik"_qs));
        setData &w = e.w;
        const QByteArray before = testutil::readBytes(ini());
        QTableWidget *values = w.grid(1);
        auto click = [&](int row) {
            const QPoint at = values->visualItemRect(values->item(row, 0)).center();
            QTest::mousePress(values->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseRelease(values->viewport(), Qt::LeftButton, {}, at);
        };
        click(TableRow);
        QVERIFY(w.combo(TableRow)->isVisible() && w.combo(TableRow)->hasFocus());
        click(TitleRow);
        QTest::keyClicks(QApplication::focusWidget(), u"Q R"_qs);
        QCOMPARE(w.catalogue().sources()[0].Title, QStringLiteral("Q R"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(w.list()->item(0)->text(), QStringLiteral("Slova"));
        QVERIFY(w.isVisible());

        // Tab from the list reaches the rows; arrows walk them, F2 and Enter
        // open. Only the part with the keys shows its highlight in full.
        auto shade = [](QAbstractItemView *view) {
            const QRect r = view->visualRect(view->currentIndex());
            return view->viewport()->grab(r).toImage().pixelColor(r.width() - 3, r.height() / 2);
        };
        w.list()->setFocus();
        const QColor listWithKeys = shade(w.list()), paneWithout = shade(values);
        QTest::keyClick(w.list(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), values);
        auto apart = [](const QColor &a, const QColor &b) { return std::abs(a.lightness() - b.lightness()) > 40; };
        QVERIFY(apart(shade(w.list()), listWithKeys) && apart(shade(values), paneWithout));
        QTest::keyClick(values, Qt::Key_Down);
        QCOMPARE(w.head(), QStringLiteral("Zdrojová databáze"));
        QTest::keyClick(values, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), w.browseButton());
        QTest::keyClick(w.browseButton(), Qt::Key_Escape);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(values, Qt::Key_Down);
        QCOMPARE(w.head(), QStringLiteral("Vstupní kódování"));
        QTest::keyClick(values, Qt::Key_F2);
        QCOMPARE(QApplication::focusWidget(), w.combo(InputCharsetRow));
        // Enter in a closed choice box gives the arrows back to the rows: they
        // walk on and change no choice unseen.
        const QString charset = w.combo(InputCharsetRow)->currentText();
        QTest::keyClick(w.combo(InputCharsetRow), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), values);
        QTest::keyClick(values, Qt::Key_Down);
        QCOMPARE(w.combo(InputCharsetRow)->currentText(), charset);
        QCOMPARE(w.head(), QStringLiteral("Výstupní hodnoty"));
        // An arrow on "…" walks on too.
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(values, Qt::Key_Up);
        QTest::keyClick(values, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), w.browseButton());
        QTest::keyClick(w.browseButton(), Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), values);
        QCOMPARE(w.head(), QStringLiteral("Název tabulky"));
        QVERIFY(w.close());
        QCOMPARE(testutil::readBytes(ini()), before);
    }

    // Keys and the wheel over a closed choice box change no value: the
    // arrows walk the rows, typing opens the list, and only a pick stores.
    void strayInputChangesNothing()
    {
        OpenEditor e(ini(), twoSources(1));
        setData &w = e.w;
        const QByteArray before = testutil::readBytes(ini());
        const QVector<DataSource> sources = w.catalogue().sources();
        QTableWidget *values = w.grid(1);
        for (int row = TableRow; row <= OutputCharsetRow; ++row) {
            const QPoint at = values->visualItemRect(values->item(row, 0)).center();
            QTest::mousePress(values->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseRelease(values->viewport(), Qt::LeftButton, {}, at);
            QComboBox *box = w.combo(row);
            QVERIFY(box->hasFocus());
            for (int wheel : {-120, 120, -120}) {
                const QPoint c = box->rect().center();
                QWheelEvent roll(c, box->mapToGlobal(c), {}, {0, wheel}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
                QApplication::sendEvent(box, &roll);
            }
            for (Qt::Key k : {Qt::Key_End, Qt::Key_Home, Qt::Key_Right, Qt::Key_Left})
                QTest::keyClick(box, k);
            QCOMPARE(w.catalogue().sources(), sources);
            box->setFocus();
            QTest::keyClicks(box, u"j"_qs);
            QTRY_VERIFY(box->view()->isVisible());
            box->hidePopup();
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Down);
            QCOMPARE(w.catalogue().sources(), sources);
            QCOMPARE(QApplication::focusWidget(), values);
            QCOMPARE(values->currentRow(), std::min(row + 1, int(OutputCharsetRow)));
        }
        QTest::keyClick(values, Qt::Key_Escape); // no edit open: closes, as Alt+F4
        QVERIFY(!w.isVisible());
        QCOMPARE(testutil::readBytes(ini()), before);
    }

    // A path too long for its cell loses folders, never the file's name.
    void pathKeepsItsName()
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
    }

    // The session ends while the editor is open: its catalogue is saved as
    // it stands, an entry begun but without a database included, and the
    // window's copy from before the editor overwrites none of it. A save
    // that fails then leaves no box waiting for an answer.
    void sessionEndsInTheEditor_data()
    {
        QTest::addColumn<bool>("saveFails");
        QTest::newRow("saved") << false;
        QTest::newRow("save fails") << true;
    }
    void sessionEndsInTheEditor()
    {
        QFETCH(bool, saveFails);
        testutil::writeIni(ini(), twoSources(2));
        SettingsStore store(ini());
        frmDict w(store);
        w.show();
        onEditor([&](setData *editor) {
            editor->button(Action::MoveUp)->trigger(); // the active source moves up
            editor->button(Action::New)->trigger(); // a new entry, only its title given
            QTest::keyClicks(editor->titleEditor(), QStringLiteral("Rozdelany"));
            if (saveFails) { // a folder where the file was: no file replaces it
                QFile::remove(ini());
                QDir().mkdir(ini());
            }
            w.endSession();
        });
        // In the program's own event loop, as the end comes from there.
        QTimer::singleShot(0, &w, [&w] { testutil::settingsAction(w)->trigger(); });
        QTimer waiting; // a box left waiting
        waiting.setSingleShot(true);
        connect(&waiting, &QTimer::timeout, [] { QCoreApplication::exit(2); });
        waiting.start(10000);
        QStringList boxes;
        answerBoxesForTests([&](QMessageBox::Icon, const QString &, const QString &text) {
            boxes << text;
            return false;
        });
        const int status = QApplication::exec();
        answerBoxesForTests({});
        QCOMPARE(boxes, QStringList());
        QCOMPARE(status, 0);
        QCOMPARE(w.exitStatus(), saveFails ? 1 : 0);
        if (saveFails) {
            QVERIFY(QFileInfo(ini()).isDir());
            QVERIFY(QDir(ini()).removeRecursively());
            return;
        }
        SettingsStore after(ini());
        QCOMPARE(after.getSetting("Tables", "count", {}), QStringLiteral("3"));
        QCOMPARE(after.getSetting("Tables", "Table1Title", {}), QStringLiteral("Jiná"));
        QCOMPARE(after.getSetting("Tables", "Table3Title", {}), QStringLiteral("Rozdelany"));
        QCOMPARE(after.getSetting("Tables", "ActiveTable", {}), QStringLiteral("3"));
        QCOMPARE(after.getSetting("Settings", "TopMost", {}), QStringLiteral("True"));
    }

    // The lookup window opens the editor on its active source, always on top
    // only around it, and follows what the editor saved. Two running copies
    // on one file (separate runtime folders): B exits while A's editor is
    // open; each window saves only what it changed, so neither undoes the other.
    void settingsCommandBesideAnotherCopy()
    {
        testutil::writeIni(ini(), twoSources(1));
        SettingsStore storeA(ini()), storeB(ini()), storeC(ini());
        frmDict a(storeA), b(storeB), c(storeC);
        a.show();
        testutil::sourceAction(a, 1)->trigger(); // A's own change, not saved yet
        testutil::topMostAction(b)->trigger();   // B: always on top, off
        int selectedInEditor = -1;
        onEditor([&](setData *editor) {
            selectedInEditor = editor->list()->currentRow();
            // The active source moved up, so "ActiveTable" becomes 1.
            editor->button(Action::MoveUp)->trigger();
            QVERIFY(b.saveAllMySettings()); // B exits meanwhile
            editor->close();
        });
        testutil::settingsAction(a)->trigger();
        QCOMPARE(selectedInEditor, 1);
        // A follows the file in what it did not change itself.
        QVERIFY(!testutil::topMostAction(a)->isChecked());
        QCOMPARE(a.activePosition(), 0);
        QCOMPARE(testutil::sourceAction(a, 0)->text(), QStringLiteral("Jiná"));
        QVERIFY(testutil::sourceAction(a, 0)->isChecked());
        testutil::text1(a)->setText(QStringLiteral("do"));
        QTRY_VERIFY(!a.data1().preparing());
        QCOMPARE(a.lookupProblem(), QString());
        QVERIFY(a.saveAllMySettings());
        QVERIFY(c.saveAllMySettings()); // C exits last, having changed nothing

        SettingsStore after(ini());
        QCOMPARE(after.getSetting("Settings", "TopMost", {}), QStringLiteral("False"));
        QCOMPARE(after.getSetting("Tables", "Table1Title", {}), QStringLiteral("Jiná"));
        QCOMPARE(after.getSetting("Tables", "ActiveTable", {}), QStringLiteral("1"));
    }
};

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
