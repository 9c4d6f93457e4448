// The editor's catalogue list and toolbar without a window, and its layout:
// which entry the user stands on after each action, when the user is held on
// an entry without a database, what a close writes, and where the pane goes.
#include "catalogue/Catalogue.h"
#include "catalogue/SettingsStore.h"
#include "editor/CatalogueList.h"
#include "editor/EditorLayout.h"
#include "util/Files.h"
#include "util/TestUtil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarnvik;
using testutil::titles;

namespace {

// Answers as the editor window will: its pane filling sets the title editor,
// whose change handler writes the title back into the selected entry.
struct FakeWindow : CatalogueListView
{
    CatalogueList *list = nullptr;
    QList<int> filled;
    QStringList messages; // "title|text"
    QStringList questions;
    bool answer = true;
    bool filledSelected = true; // every fill was for the selected line

    void fill_data(int index) override
    {
        filled << index;
        if (list && index >= 0) {
            filledSelected = filledSelected && list->selectedLine() == index;
            list->editTitle(list->sources()[index].Title);
        }
    }
    void showInformation(const QString &title, const QString &text) override
    {
        messages << title + u'|' + text;
    }
    bool askYesNo(const QString &title, const QString &text) override
    {
        questions << title + u'|' + text;
        return answer;
    }
    void clear()
    {
        filled.clear();
        messages.clear();
        questions.clear();
    }
};

DataSource entry(const QString &title, bool visible = true, bool withFile = true)
{
    DataSource s;
    s.Title = title;
    if (withFile)
        s.File = QStringLiteral("/data/") + title + QStringLiteral(".mdb");
    s.Name = QStringLiteral("T") + title;
    s.In = QStringLiteral("in");
    s.Out = QStringLiteral("out");
    s.CharsetIn = 204;
    s.CharsetOut = 0;
    s.Visible = visible;
    return s;
}

QString captions(const CatalogueList &list)
{
    QStringList t;
    for (const auto &l : list.lines())
        t << l.caption + (l.checked ? QStringLiteral("+") : QStringLiteral("-"));
    return t.join(u',');
}

QString buttons(const CatalogueList &list)
{
    // New, Delete, Move down, Move up: 1 enabled, 0 disabled.
    QString b;
    for (auto a : {CatalogueList::New, CatalogueList::Delete, CatalogueList::MoveDown, CatalogueList::MoveUp})
        b += list.isEnabled(a) ? u'1' : u'0';
    return b;
}

const QString moveRefusal = editortext::RefusalTitle + u'|' + editortext::MoveRefused;

struct Editor
{
    FakeWindow window;
    CatalogueList list{window};
    Editor(QVector<DataSource> sources, int selected)
    {
        window.list = &list;
        list.start(std::move(sources), selected);
    }
};

} // namespace

class TestCatalogueList : public QObject
{
    Q_OBJECT

private slots:
    void startState()
    {
        {
            Editor e({entry("A"), entry("B"), entry("C")}, 1);
            QCOMPARE(e.list.selectedLine(), 1);
            QCOMPARE(e.list.currentIndex(), 1);
            QCOMPARE(e.window.filled, QList<int>{1});
            QCOMPARE(buttons(e.list), QStringLiteral("1111"));
            QCOMPARE(captions(e.list), QStringLiteral("A+,B+,C+"));
        }
        {
            // The active entry has no database: New is off from the start.
            Editor e({entry("A"), entry("B", true, false)}, 1);
            QCOMPARE(buttons(e.list), QStringLiteral("0101"));
            QCOMPARE(e.list.refusedMoves(), 0);
            QVERIFY(e.window.messages.isEmpty());
        }
        {
            // One entry: nothing to delete or move it past.
            Editor e({entry("A")}, 0);
            QCOMPARE(buttons(e.list), QStringLiteral("1000"));
        }
        {
            // An empty title still has its line; hidden entries are listed unticked.
            Editor e({entry(QString()), entry("B", false)}, 0);
            QCOMPARE(captions(e.list), QStringLiteral("+,B-"));
        }
    }

    void emptyCatalogue()
    {
        Editor e({}, -1);
        QCOMPARE(e.list.sources().size(), 1);
        const DataSource &s = e.list.sources()[0];
        QCOMPARE(s.Title, QStringLiteral("(Vstup -> Výstup)"));
        QVERIFY(s.File.isEmpty() && s.Name.isEmpty() && s.In.isEmpty() && s.Out.isEmpty());
        QCOMPARE(int(s.CharsetIn), 238);
        QCOMPARE(int(s.CharsetOut), 238);
        QVERIFY(s.Visible);
        QCOMPARE(e.list.selectedLine(), 0);
        QCOMPARE(e.list.currentIndex(), 0);
        QCOMPARE(e.window.filled, QList<int>{0});
        // An entry never given a database can go, the last one too.
        QCOMPARE(buttons(e.list), QStringLiteral("0100"));
        e.list.new_item();
        QCOMPARE(e.list.sources().size(), 1);

        // Closing on the entry the editor made, untouched: it goes without a
        // word, and nothing is written (the store held nothing).
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("TVK.ini"));
        SettingsStore store(ini);
        FakeWindow w;
        CatalogueList fromStore(w);
        w.list = &fromStore;
        fromStore.load(store);
        QCOMPARE(titles(fromStore.sources()), QStringLiteral("(Vstup -> Výstup)"));
        QCOMPARE(fromStore.selectedLine(), 0);
        QVERIFY(fromStore.closeRequested());
        QVERIFY(w.questions.isEmpty() && w.messages.isEmpty());
        QVERIFY(fromStore.sources().isEmpty());
        QString error;
        QVERIFY(fromStore.save(store, &error));
        QVERIFY(!QFile::exists(ini));

        // Once the user wrote in it, closing asks whether to drop it; No stays.
        e.list.editTitle(QStringLiteral("Můj slovník"));
        e.window.answer = false;
        QVERIFY(!e.list.closeRequested());
        QCOMPARE(e.window.questions, QStringList{editortext::RefusalTitle + u'|' + editortext::CloseRefused + u"\n\n"_qs
                                                 + editortext::dropQuestion(QStringLiteral("Můj slovník"))});
        QCOMPARE(e.list.sources().size(), 1);
        // Deleting it empties the catalogue: only New is left.
        e.window.answer = true;
        e.list.toolbarClicked(CatalogueList::Delete);
        QVERIFY(e.list.sources().isEmpty());
        QCOMPARE(e.list.selectedLine(), -1);
        QCOMPARE(e.window.filled.last(), -1);
        QCOMPARE(buttons(e.list), QStringLiteral("1000"));
        QVERIFY(e.list.closeRequested());
        e.list.new_item();
        QCOMPARE(e.list.sources().size(), 1);
        QCOMPARE(e.list.selectedLine(), 0);

        // Once it has a database it is kept like any other.
        e.list.databaseChosen(QStringLiteral("/data/x.mdb"));
        e.list.databaseOpened();
        QCOMPARE(buttons(e.list), QStringLiteral("1000"));
        e.window.clear();
        QVERIFY(e.list.closeRequested());
        QVERIFY(e.window.questions.isEmpty());
        QCOMPARE(e.list.sources().size(), 1);
    }

    void newOnOneCompleteEntry()
    {
        Editor e({entry("A")}, 0);
        e.window.clear();
        e.list.toolbarClicked(CatalogueList::New);
        QCOMPARE(titles(e.list.sources()), QStringLiteral("A,(Vstup -> Výstup)"));
        QCOMPARE(captions(e.list), QStringLiteral("A+,(Vstup -> Výstup)+"));
        QCOMPARE(e.list.selectedLine(), 1);
        QCOMPARE(e.list.currentIndex(), 1);
        QCOMPARE(e.window.filled.last(), 1);
        QVERIFY(e.window.filledSelected);
        QCOMPARE(buttons(e.list), QStringLiteral("0101"));
        QVERIFY(e.window.messages.isEmpty());
        QCOMPARE(e.list.refusedMoves(), 1);
        // The pane's title echo went to the new entry, not to the one it came from.
        QCOMPARE(e.list.sources()[0].Title, QStringLiteral("A"));

        // The first click back is already the second refusal.
        e.list.lineClicked(0);
        QCOMPARE(e.window.messages, QStringList{moveRefusal});
        QCOMPARE(e.list.selectedLine(), 1);
        QCOMPARE(e.list.currentIndex(), 1);
        QCOMPARE(e.list.refusedMoves(), 2);

        // A second New is not possible until the entry has a database.
        e.list.toolbarClicked(CatalogueList::New);
        QCOMPARE(e.list.sources().size(), 2);

        e.list.databaseChosen(QStringLiteral("/data/new.mdb"));
        e.list.databaseOpened();
        QCOMPARE(e.list.refusedMoves(), 0);
        QVERIFY(e.list.isEnabled(CatalogueList::New));
        e.window.clear();
        e.list.lineClicked(0);
        QCOMPARE(e.list.currentIndex(), 0);
        QCOMPARE(e.window.filled, QList<int>{0});
        QVERIFY(e.window.messages.isEmpty());
        QCOMPARE(buttons(e.list), QStringLiteral("1110"));
        QCOMPARE(e.list.sources()[1].File, QStringLiteral("/data/new.mdb"));
    }

    void deleteOfThree_data()
    {
        QTest::addColumn<int>("at");
        QTest::addColumn<QString>("left");
        QTest::addColumn<int>("selected");
        QTest::newRow("first") << 0 << QStringLiteral("B,C") << 0;
        QTest::newRow("middle") << 1 << QStringLiteral("A,C") << 1;
        QTest::newRow("last") << 2 << QStringLiteral("A,B") << 1;
    }

    void deleteOfThree()
    {
        QFETCH(int, at);
        QFETCH(int, selected);
        Editor e({entry("A"), entry("B"), entry("C")}, at);
        e.window.clear();
        e.list.toolbarClicked(CatalogueList::Delete);
        QCOMPARE(e.window.questions, QStringList{QStringLiteral("Odstranění položky|Opravdu chcete smazat položku '")
                                                 + QString(QChar(u'A' + at)) + QStringLiteral("'?")});
        QTEST(titles(e.list.sources()), "left");
        QCOMPARE(captions(e.list).count(u'+'), 2);
        QCOMPARE(e.list.selectedLine(), selected);
        QCOMPARE(e.list.currentIndex(), selected);
        QCOMPARE(e.window.filled.last(), selected);
        QVERIFY(e.window.filledSelected);
        QVERIFY(e.window.messages.isEmpty());
        // Two left: both move buttons follow the position, Delete stays.
        QCOMPARE(buttons(e.list), selected == 0 ? QStringLiteral("1110") : QStringLiteral("1101"));
    }

    // What becomes current after a delete elsewhere than among three plain entries.
    void deleteOtherwise()
    {
        {
            // With every entry hidden the rebuilt list names no current entry;
            // the one at the deleted position is it.
            Editor e({entry("A", false), entry("B", false), entry("C", false)}, 2);
            e.list.delete_item();
            QCOMPARE(e.list.currentIndex(), 1);
            e.list.lineClicked(0);
            QCOMPARE(e.list.currentIndex(), 0);
            QCOMPARE(e.list.sources()[0].Title, QStringLiteral("A"));
            QCOMPARE(e.list.sources()[1].Title, QStringLiteral("B"));
        }
        {
            // An entry without a database elsewhere in the list does not
            // capture the selection after a delete.
            Editor e({entry("A"), entry("B"), entry("C", true, false)}, 0);
            e.list.delete_item();
            QCOMPARE(titles(e.list.sources()), QStringLiteral("B,C"));
            QCOMPARE(e.list.selectedLine(), 0);
            QCOMPARE(e.list.currentIndex(), 0);
            QCOMPARE(e.list.refusedMoves(), 0);
            QVERIFY(e.list.isEnabled(CatalogueList::New));
            QCOMPARE(e.list.sources()[0].Title, QStringLiteral("B"));
        }
        {
            // Deleting the entry without a database is the way out of it.
            Editor e({entry("A"), entry("B")}, 0);
            e.list.new_item();
            e.list.lineClicked(0);
            QCOMPARE(e.list.refusedMoves(), 2);
            e.list.delete_item();
            QCOMPARE(titles(e.list.sources()), QStringLiteral("A,B"));
            QCOMPARE(e.list.selectedLine(), 1);
            QCOMPARE(e.list.refusedMoves(), 0);
            QCOMPARE(buttons(e.list), QStringLiteral("1101"));
            e.window.clear();
            e.list.lineClicked(0);
            QCOMPARE(e.list.currentIndex(), 0);
            QVERIFY(e.window.messages.isEmpty());
        }
    }

    void deleteAnsweredNo()
    {
        Editor e({entry("A"), entry("B"), entry("C")}, 2);
        e.window.answer = false;
        e.window.clear();
        e.list.toolbarClicked(CatalogueList::Delete);
        QCOMPARE(e.window.questions.size(), 1);
        QCOMPARE(titles(e.list.sources()), QStringLiteral("A,B,C"));
        QCOMPARE(e.list.selectedLine(), 2);
        QCOMPARE(e.list.currentIndex(), 2);
        QCOMPARE(e.window.filled, QList<int>{2});
        QCOMPARE(buttons(e.list), QStringLiteral("1101"));
    }

    void deleteUntilOneIsLeft()
    {
        Editor e({entry("A"), entry("B"), entry("C")}, 1);
        e.list.toolbarClicked(CatalogueList::Delete);
        QCOMPARE(buttons(e.list), QStringLiteral("1101"));
        e.list.toolbarClicked(CatalogueList::Delete);
        QCOMPARE(titles(e.list.sources()), QStringLiteral("A"));
        QCOMPARE(e.list.selectedLine(), 0);
        QCOMPARE(buttons(e.list), QStringLiteral("1000"));

        e.window.clear();
        e.list.toolbarClicked(CatalogueList::Delete);
        e.list.delete_item();
        e.list.move_item_down();
        e.list.move_item_up();
        QVERIFY(e.window.questions.isEmpty());
        QCOMPARE(titles(e.list.sources()), QStringLiteral("A"));
        QCOMPARE(e.list.selectedLine(), 0);

        // New brings Delete back.
        e.list.new_item();
        QVERIFY(e.list.isEnabled(CatalogueList::Delete));
    }

    void moveDownThenUp()
    {
        Editor e({entry("A"), entry("B", false), entry("C")}, 0);
        e.list.toolbarClicked(CatalogueList::MoveDown);
        QCOMPARE(titles(e.list.sources()), QStringLiteral("B,A,C"));
        QCOMPARE(captions(e.list), QStringLiteral("B-,A+,C+"));
        QCOMPARE(e.list.selectedLine(), 1);
        QCOMPARE(e.list.currentIndex(), 1);
        QCOMPARE(buttons(e.list), QStringLiteral("1111"));

        e.list.toolbarClicked(CatalogueList::MoveDown);
        QCOMPARE(titles(e.list.sources()), QStringLiteral("B,C,A"));
        QCOMPARE(e.list.selectedLine(), 2);
        QCOMPARE(buttons(e.list), QStringLiteral("1101"));
        // At the end the button is off and the action does nothing.
        e.list.move_item_down();
        QCOMPARE(titles(e.list.sources()), QStringLiteral("B,C,A"));

        e.list.toolbarClicked(CatalogueList::MoveUp);
        e.list.toolbarClicked(CatalogueList::MoveUp);
        QCOMPARE(titles(e.list.sources()), QStringLiteral("A,B,C"));
        QCOMPARE(captions(e.list), QStringLiteral("A+,B-,C+"));
        QCOMPARE(e.list.selectedLine(), 0);
        QCOMPARE(e.list.currentIndex(), 0);
        QCOMPARE(buttons(e.list), QStringLiteral("1110"));
        e.list.move_item_up();
        QCOMPARE(titles(e.list.sources()), QStringLiteral("A,B,C"));

        // Every field travels with its entry.
        e.list.move_item_down();
        const DataSource &moved = e.list.sources()[1];
        QCOMPARE(moved.Title, QStringLiteral("A"));
        QCOMPARE(moved.File, QStringLiteral("/data/A.mdb"));
        QCOMPARE(moved.Name, QStringLiteral("TA"));
        QCOMPARE(int(moved.CharsetIn), 204);
        QVERIFY(!e.list.sources()[0].Visible);

        // A new entry without a database can be moved, and stays where the user is held.
        e.list.new_item();
        e.list.toolbarClicked(CatalogueList::MoveUp);
        QCOMPARE(titles(e.list.sources()), QStringLiteral("B,A,(Vstup -> Výstup),C"));
        QCOMPARE(e.list.selectedLine(), 2);
        QCOMPARE(e.list.currentIndex(), 2);
        QVERIFY(!e.list.isEnabled(CatalogueList::New));
        e.list.lineClicked(0);
        QCOMPARE(e.list.selectedLine(), 2);

        // Other indices of the toolbar are the separator and nothing.
        for (int i : {0, 3, 6, -1})
            e.list.toolbarClicked(i);
        QCOMPARE(e.list.sources().size(), 4);
    }

    void refusals()
    {
        Editor e({entry("A"), entry("B", true, false), entry("C")}, 1);
        e.window.clear();

        e.list.lineClicked(0);
        QVERIFY(e.window.messages.isEmpty());
        QCOMPARE(e.list.selectedLine(), 1);
        QCOMPARE(e.list.refusedMoves(), 1);
        QCOMPARE(e.window.filled, QList<int>{1});
        QVERIFY(e.window.filledSelected);

        e.list.lineClicked(2);
        QCOMPARE(e.window.messages, QStringList{moveRefusal});
        QVERIFY(e.window.messages[0].contains(u'\n'));
        QCOMPARE(e.list.selectedLine(), 1);

        // The box on another line takes effect although the move is refused.
        e.list.lineToggled(2, false);
        QCOMPARE(e.window.messages.size(), 2);
        QVERIFY(!e.list.sources()[2].Visible);
        QVERIFY(!e.list.lines()[2].checked);
        QCOMPARE(e.list.selectedLine(), 1);
        QCOMPARE(e.list.currentIndex(), 1);
        QCOMPARE(buttons(e.list), QStringLiteral("0111"));

        // Staying on the entry is no refusal; its own box works as usual.
        e.list.lineClicked(1);
        e.list.lineToggled(1, false);
        QCOMPARE(e.window.messages.size(), 2);
        QCOMPARE(e.list.refusedMoves(), 3);
        QVERIFY(!e.list.sources()[1].Visible);

        // Once the entry is finished and left, the count starts again: the
        // next entry's first refusal is silent too.
        Editor g({entry("A"), entry("B", true, false), entry("C", true, false)}, 1);
        g.window.clear();
        g.list.lineClicked(0);
        g.list.lineClicked(0);
        QCOMPARE(g.window.messages.size(), 1);
        g.list.databaseChosen(QStringLiteral("/data/B.mdb"));
        g.list.lineClicked(2);
        QCOMPARE(g.list.selectedLine(), 2);
        g.list.lineClicked(0);
        QCOMPARE(g.list.selectedLine(), 2);
        QCOMPARE(g.window.messages.size(), 1);

        // A complete entry may be left; its box change goes with the move.
        Editor f({entry("A"), entry("B"), entry("C")}, 0);
        f.window.clear();
        f.list.lineToggled(2, false);
        QCOMPARE(f.list.currentIndex(), 2);
        QCOMPARE(f.window.filled, QList<int>{2});
        QVERIFY(!f.list.sources()[2].Visible);
        QCOMPARE(buttons(f.list), QStringLiteral("1101"));
    }

    void paneEdits()
    {
        Editor e({entry("A"), entry("B")}, 1);
        e.list.editTitle(QStringLiteral("Bx"));
        QCOMPARE(e.list.sources()[1].Title, QStringLiteral("Bx"));
        QCOMPARE(e.list.lines()[1].caption, QStringLiteral("Bx"));
        QCOMPARE(e.list.sources()[0].Title, QStringLiteral("A"));

        QVERIFY(e.list.kontrolaID(InputFieldRow, QStringLiteral("slovo")));
        QVERIFY(e.list.kontrolaID(OutputFieldRow, QStringLiteral("word")));
        QVERIFY(e.list.kontrolaID(InputCharsetRow, uint8_t(0)));
        QVERIFY(e.list.kontrolaID(OutputCharsetRow, uint8_t(204)));
        QVERIFY(!e.list.kontrolaID(TitleRow, QStringLiteral("x")));
        QVERIFY(!e.list.kontrolaID(DatabaseRow, QStringLiteral("x")));
        QVERIFY(!e.list.kontrolaID(InputCharsetRow, QStringLiteral("x")));
        QVERIFY(!e.list.kontrolaID(InputFieldRow, uint8_t(1)));
        const DataSource &b = e.list.sources()[1];
        QCOMPARE(b.In, QStringLiteral("slovo"));
        QCOMPARE(b.Out, QStringLiteral("word"));
        QCOMPARE(int(b.CharsetIn), 0);
        QCOMPARE(int(b.CharsetOut), 204);
        QCOMPARE(b.File, QStringLiteral("/data/B.mdb"));

        // The same table, in any spelling, keeps the fields; another table does not.
        QVERIFY(!e.list.tableChosen(QStringLiteral("TB")));
        QVERIFY(!e.list.tableChosen(QStringLiteral("tb")));
        QCOMPARE(b.In, QStringLiteral("slovo"));
        QVERIFY(e.list.tableChosen(QStringLiteral("jina")));
        QVERIFY(e.list.kontrolaID(TableRow, QStringLiteral("jina")));
        QVERIFY(b.In.isEmpty() && b.Out.isEmpty());
        QCOMPARE(b.Name, QStringLiteral("jina"));

        e.list.databaseChosen(QStringLiteral("/data/other.mdb"));
        QCOMPARE(b.File, QStringLiteral("/data/other.mdb"));
        QVERIFY(b.Name.isEmpty());
        QCOMPARE(e.list.sources()[0].File, QStringLiteral("/data/A.mdb"));
    }

    void closeOnAnEntryWithoutDatabase()
    {
        Editor e({entry("A"), entry("B", true, false), entry("C")}, 1);
        e.window.clear();
        e.window.answer = false;
        // Asked every time; No keeps the editor open and the entry as it is.
        QVERIFY(!e.list.closeRequested());
        QVERIFY(!e.list.closeRequested());
        const QString asked = editortext::RefusalTitle + u'|' + editortext::CloseRefused + u"\n\n"_qs
            + editortext::dropQuestion(QStringLiteral("B"));
        QCOMPARE(e.window.questions, (QStringList{asked, asked}));
        QCOMPARE(titles(e.list.sources()), QStringLiteral("A,B,C"));

        // A path that names no file still counts: the user may close.
        e.list.databaseChosen(QStringLiteral("/nowhere/missing.mdb"));
        QVERIFY(e.list.closeRequested());
        QCOMPARE(e.window.questions.size(), 2);

        // Yes drops it; the entry after it is the one saved as active.
        Editor f({entry("A"), entry("B", true, false), entry("C")}, 1);
        QVERIFY(f.list.closeRequested());
        QCOMPARE(titles(f.list.sources()), QStringLiteral("A,C"));
        QCOMPARE(f.list.selectedLine(), 1);
    }

    void closeSaves()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("TVK/TVK.ini"));
        {
            SettingsStore store(ini);
            save_tables(store, {entry("A"), entry("B", false), entry("C"), entry("D")}, 2);
            QString error;
            QVERIFY2(store.sync(&error), qPrintable(error));
        }
        FakeWindow w;
        CatalogueList list(w);
        w.list = &list;
        list.load(SettingsStore(ini));
        auto save = [&] {
            SettingsStore store(ini);
            QString error;
            QVERIFY2(list.save(store, &error), qPrintable(error));
        };
        // "ActiveTable" 2 counts visible entries only: entry C.
        QCOMPARE(list.selectedLine(), 2);
        list.toolbarClicked(CatalogueList::Delete); // C
        list.editTitle(QStringLiteral("Dčko"));     // D, now at 2
        list.kontrolaID(OutputCharsetRow, uint8_t(161));
        list.lineToggled(0, false);
        list.lineClicked(2);
        QVERIFY(list.closeRequested());
        save();

        SettingsStore back(ini);
        QVector<DataSource> read;
        int selected = -1;
        load_tables(back, read, selected);
        QCOMPARE(titles(read), QStringLiteral("A,B,Dčko"));
        QCOMPARE(read.size(), list.sources().size());
        for (int i = 0; i < read.size(); ++i) {
            const DataSource &a = read[i], &b = list.sources()[i];
            QCOMPARE(a.File, b.File);
            QCOMPARE(a.Name, b.Name);
            QCOMPARE(a.In, b.In);
            QCOMPARE(a.Out, b.Out);
            QCOMPARE(a.CharsetIn, b.CharsetIn);
            QCOMPARE(a.CharsetOut, b.CharsetOut);
            QCOMPARE(a.Visible, b.Visible);
        }
        QCOMPARE(int(read[2].CharsetOut), 161);
        QVERIFY(!read[0].Visible && !read[1].Visible);
        QCOMPARE(selected, 2);
        QCOMPARE(back.getSetting(QStringLiteral("Tables"), QStringLiteral("ActiveTable"), QString()),
                 QStringLiteral("1"));

        // A hidden entry selected: the nearest visible one before it is active.
        list.lineClicked(1);
        save();
        QCOMPARE(SettingsStore(ini).getSetting(QStringLiteral("Tables"), QStringLiteral("ActiveTable"), QString()),
                 QString::number(activeTableFor(list.sources(), 1)));
    }

    void saveFailuresAreReported()
    {
        QTemporaryDir dir;
        FakeWindow w;
        CatalogueList list(w);
        list.start({entry("A"), entry("B")}, 1);

        // A file the store cannot read is replaced by the catalogue the user sees.
        const QString ini = dir.filePath(QStringLiteral("TVK.ini"));
        testutil::writeBytes(ini, "[Tables]\ncount=\xff\xfe\n");
        {
            SettingsStore store(ini);
            QVERIFY(!store.problem().isEmpty());
            QString error;
            QVERIFY2(list.save(store, &error), qPrintable(error));
        }
        SettingsStore back(ini);
        QVERIFY(back.problem().isEmpty());
        QVector<DataSource> read;
        int selected = -1;
        load_tables(back, read, selected);
        QCOMPARE(titles(read), QStringLiteral("A,B"));
        QCOMPARE(selected, 1);

        // A write that cannot happen says so, with a reason.
        const QString blocked = dir.filePath(QStringLiteral("blocked"));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("blocked/TVK.ini")));
        SettingsStore store(blocked + QStringLiteral("/TVK.ini"));
        QString error;
        QVERIFY(!list.save(store, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(list.sources().size(), 2);
    }

    void entryLimit()
    {
        const int max = CatalogueList::MaxEntries;
        QVector<DataSource> many(max - 1, entry("x"));
        Editor e(many, 0);
        QVERIFY(e.list.isEnabled(CatalogueList::New));
        e.list.new_item();
        QCOMPARE(e.list.sources().size(), max);
        QCOMPARE(e.list.selectedLine(), max - 1);
        e.list.databaseChosen(QStringLiteral("/data/last.mdb"));
        e.list.databaseOpened();
        QVERIFY(!e.list.isEnabled(CatalogueList::New));
        e.list.new_item();
        QCOMPARE(e.list.sources().size(), max);

        // Deleting one makes room again.
        e.list.delete_item();
        QVERIFY(e.list.isEnabled(CatalogueList::New));
        e.list.new_item();
        QCOMPARE(e.list.sources().size(), max);

        // Every entry the editor allows is read back.
        SettingsStore store(QStringLiteral("/nonexistent/TVK.ini"));
        save_tables(store, e.list.sources(), e.list.selectedLine());
        QVector<DataSource> read;
        int selected = -1;
        load_tables(store, read, selected);
        QCOMPARE(read.size(), max);
        QCOMPARE(read.last().Title, QStringLiteral("(Vstup -> Výstup)"));

        // Opening at the limit starts with New off.
        Editor full(read, 0);
        QVERIFY(!full.list.isEnabled(CatalogueList::New));
    }

    void layout()
    {
        // Client 3930 x 4725 in a frame of 120 x 405; toolbar 390, rows of
        // 240; borders 15 across and 12 down, so a border used in the wrong
        // direction shows.
        const EditorLayoutInput in{.clientWidth = 3930, .clientHeight = 4725, .outerWidth = 4050, .outerHeight = 5130,
                                   .toolbarHeight = 390, .rowH = 240, .BorderX = 15, .BorderY = 12};
        const EditorLayout l = editorLayout(in);
        QVERIFY(!l.enlarged);
        // pane: 7 x 240 + 3 x 12 = 1716; H = 4725 - 1095 + 48 = 3678
        QCOMPARE(l.pic, (TwipRect{0, 3678 - 1716 - 48, 3915, 1716}));
        QCOMPARE(l.List, (TwipRect{0, 390 + 30, 3915, 1914 - 420 - 24}));
        QCOMPARE(l.Desc, (TwipRect{30, 3678, 3715, 1005}));
        QCOMPARE(l.grid0, (TwipRect{0, 0, 3525, 1716}));
        QCOMPARE(l.grid1, (TwipRect{1600, 0, 2315, 1716}));
        QCOMPARE(l.columnWidth0, 1600.0);
        QCOMPARE(l.columnWidth1, 2315.0);
        QCOMPARE(l.lblDescWidth, 3615.0);

        // Taller: all of it goes to the list; the pane keeps its height just
        // above the description area.
        EditorLayoutInput taller = in;
        taller.clientHeight += 1000;
        taller.outerHeight += 1000;
        const EditorLayout t = editorLayout(taller);
        QCOMPARE(t.List.height, l.List.height + 1000);
        QCOMPARE(t.List.top, l.List.top);
        QCOMPARE(t.pic.height, 1716.0);
        QCOMPARE(t.pic.top + t.pic.height + 4 * 12, t.Desc.top);
        QCOMPARE(t.Desc.top, l.Desc.top + 1000);
        QCOMPARE(t.pic.top, t.List.top + t.List.height + 24);

        // Wider: list, pane, value column, description and help text widen.
        EditorLayoutInput wider = in;
        wider.clientWidth += 500;
        wider.outerWidth += 500;
        const EditorLayout w = editorLayout(wider);
        QCOMPARE(w.List.width, 4415.0);
        QCOMPARE(w.pic.width, 4415.0);
        QCOMPARE(w.grid1.width, 2815.0);
        QCOMPARE(w.columnWidth1, 2815.0);
        QCOMPARE(w.columnWidth0, 1600.0);
        QCOMPARE(w.grid1.left, 1600.0);
        QCOMPARE(w.Desc.width, 4215.0);
        QCOMPARE(w.lblDescWidth, 4115.0);
        QCOMPARE(w.pic.top, l.pic.top);

        // Too small: enlarged to 2800 x 4500, and laid out for that size.
        EditorLayoutInput small = in;
        small.outerWidth = 2000;
        small.outerHeight = 3000;
        small.clientWidth = 1880;
        small.clientHeight = 2595;
        const EditorLayout s = editorLayout(small);
        QVERIFY(s.enlarged);
        QCOMPARE(s.outerWidth, 2800.0);
        QCOMPARE(s.outerHeight, 4500.0);
        QCOMPARE(s.List.width, 2680.0 - 15);
        QCOMPARE(s.Desc.top, 4095.0 - 1095 + 48);
        QVERIFY(s.List.height > 0);

        // Rows too tall for the window: no negative sizes.
        EditorLayoutInput cramped = in;
        cramped.rowH = 900;
        const EditorLayout c = editorLayout(cramped);
        QCOMPARE(c.List.height, 0.0);
    }

    void inPlaceEditors()
    {
        // grid(1) at 1600, 2315 wide; rows of 240; borders 15 across, 12 down.
        const InPlaceEditor text = inPlaceEditor(TitleRow, 1600, 2315, 240, 0, 15, 12);
        QCOMPARE(text, (InPlaceEditor{1645, 15, 2165, 210}));
        QCOMPARE(inPlaceEditor(-1, 1600, 2315, 240, 0, 15, 12), text);

        // The browse button: a square at the value cell's right end.
        const InPlaceEditor browse = inPlaceEditor(DatabaseRow, 1600, 2315, 240, 240, 15, 12);
        QCOMPARE(browse, (InPlaceEditor{3615, 228, 255, 255}));

        const InPlaceEditor combo = inPlaceEditor(InputCharsetRow, 1600, 2315, 240, 960, 15, 12);
        QCOMPARE(combo.left, 1585.0);
        QCOMPARE(combo.top, 924.0);
        QCOMPARE(combo.width, 2285.0);
        QVERIFY(!combo.height);
        QCOMPARE(inPlaceEditor(OutputCharsetRow, 1600, 2815, 240, 1440, 15, 12).width, 2785.0);
    }
};

QTEST_GUILESS_MAIN(TestCatalogueList)
#include "tst_cataloguelist.moc"
