// The data-source editor without a window, and its layout: which entry the
// user stands on after each action, when the user is held on an entry without
// a database, what the pane shows and stores of an entry and its database,
// what a close writes, and where the pane goes.
#include "catalogue/Catalogue.h"
#include "catalogue/SettingsStore.h"
#include "editor/CatalogueEditor.h"
#include "editor/EditorLayout.h"
#include "editor/PaneKeys.h"
#include "util/Files.h"
#include "util/TestUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <tuple>

using namespace tarnvik;
using testutil::titles;
using Action = CatalogueList::Action;
using Answer = CatalogueListView::AfterFailedSave;

namespace {

// Answers as the editor window will: its pane filling sets the title editor,
// whose change handler writes the title back into the selected entry. For the
// whole editor it notes the boxes, answers the open-file dialog with 'chosen'
// and reads databases from 'databases' by file name.
struct FakeWindow : CatalogueListView, EditorView
{
    CatalogueList *list = nullptr;
    QList<int> filled;
    QStringList messages, questions; // "title|text"
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
    QStringList told, imported; // critical boxes; files imported
    QString folder, chosen;
    std::function<void()> whileReading;
    void critical(const QString &text) override { told << text; }
    QString chooseDatabase(const QString &f) override
    {
        folder = f;
        return chosen;
    }
    // Dictionary files: what an earlier import made, what a new one makes.
    std::optional<DataSource> earlier, made;
    std::optional<DataSource> earlierImport(const QString &) override { return earlier; }
    Earlier earlierAnswer = Earlier::Use;
    Earlier askAboutEarlier(const QString &file, const QString &) override
    {
        questions << editortext::ImportedBefore + u'|' + file;
        return earlierAnswer;
    }
    std::optional<DataSource> importDictionary(const QString &file) override
    {
        imported << file;
        return made;
    }
    // Tables (in order) and their fields; a file not here is no database.
    QMap<QString, QMap<QString, QStringList>> databases{
        {u"dve.mdb"_qs, {{u"Slovnik"_qs, {u"slovo"_qs, u"vyznam"_qs}}, {u"jina"_qs, {u"word"_qs, u"meaning"_qs, u"note"_qs}}}},
        {u"ms.mdb"_qs, {}}};
    std::optional<QStringList> readTables(const QString &file, QString *error) override
    {
        if (whileReading)
            whileReading();
        if (!databases.contains(QFileInfo(file).fileName())) {
            *error = file + u": no database"_qs;
            return std::nullopt;
        }
        return databases[QFileInfo(file).fileName()].keys();
    }
    std::optional<QStringList> readFields(const QString &file, const QString &table, QString *) override
    {
        const QMap<QString, QStringList> tables = databases.value(QFileInfo(file).fileName());
        for (auto t = tables.begin(); t != tables.end(); ++t)
            if (t.key().compare(table, Qt::CaseInsensitive) == 0)
                return t.value();
        return std::nullopt;
    }
    void showInformation(const QString &title, const QString &text) override { messages << title + u'|' + text; }
    bool askYesNo(const QString &title, const QString &text) override
    {
        questions << title + u'|' + text;
        return answer;
    }
    // Answers to failed saves, in turn; each may first mend the cause.
    QList<std::pair<Answer, std::function<void()>>> afterFailedSaves;
    QStringList saveErrors;
    Answer saveFailed(const QString &error) override
    {
        saveErrors << error;
        if (afterFailedSaves.isEmpty())
            return Answer::Stay;
        auto [answer, mend] = afterFailedSaves.takeFirst();
        if (mend)
            mend();
        return answer;
    }
};

struct Editor
{
    FakeWindow window;
    CatalogueList list{window};
    Editor() { window.list = &list; }
    Editor(QVector<DataSource> sources, int selected) : Editor() { list.start(std::move(sources), selected); }
    explicit Editor(const SettingsStore &store) : Editor() { list.load(store); }
};

// Entries as "A,~B,C!": '~' hidden, '!' without a database; "" none.
QVector<DataSource> entries(const QString &list)
{
    QVector<DataSource> out;
    for (QString e : list.isEmpty() ? QStringList() : list.split(u',')) {
        const bool hidden = e.startsWith(u'~'), noFile = e.endsWith(u'!');
        e.remove(u'~').remove(u'!').remove(u'@');
        const QString file = noFile ? QString() : u"/data/"_qs + e + u".mdb"_qs;
        out << DataSource{e, file, u'T' + e, u"in"_qs, u"out"_qs, 204, 0, !hidden};
    }
    return out;
}

// Each line shows its entry, and each entry still holds its own database and
// table (as entries() and the f step give them): nothing left behind in a move.
bool linesShowTheirEntries(const CatalogueList &list)
{
    if (list.lines().size() != list.sources().size())
        return false;
    for (int i = 0; i < list.sources().size(); ++i) {
        const DataSource &s = list.sources()[i];
        if (list.lines()[i].caption != s.Title || list.lines()[i].checked != s.Visible
            || !(s.File.isEmpty() || s.File == u"/data/"_qs + s.Title + u".mdb"_qs)
            || !(s.Name.isEmpty() || s.Name == u'T' + s.Title))
            return false;
    }
    return true;
}

// The list as the user sees it: each line's caption (New's as '*') and box,
// the selected and current lines, every line the pane was filled for, the
// buttons, the refusals counted, the boxes and questions shown, and what each
// close answered.
QString state(const Editor &e, const QString &closes)
{
    QStringList lines, filled;
    QString buttons; // New, Delete, Move down, Move up: 1 enabled, 0 disabled
    for (auto a : CatalogueList::Actions)
        buttons += e.list.isEnabled(a) ? u'1' : u'0';
    for (const auto &l : e.list.lines())
        lines << (l.caption == editortext::NewTitle ? u"*"_qs : l.caption) + (l.checked ? u'+' : u'-');
    for (int f : e.window.filled)
        filled << QString::number(f);
    // One pass of arg(): a caption may hold a '%'.
    return u"%1 @%2/%3 p%4 %5 r%6 m%7 q%8%9"_qs.arg(
        lines.join(u','), QString::number(e.list.selectedLine()), QString::number(e.list.currentIndex()),
        filled.join(u','), buttons, QString::number(e.list.refusedMoves()),
        QString::number(e.window.messages.size()), QString::number(e.window.questions.size()),
        closes.isEmpty() ? QString() : u" x"_qs + closes);
}

// The whole editor on the catalogue in 'ini', read (unless 'load' is false),
// with a run's memory of its own or one shared with another opening.
struct Opened
{
    FakeWindow window;
    SettingsStore store;
    EditorMemory memory;
    CatalogueEditor editor;
    Opened(const QString &ini, bool load = true, EditorMemory *shared = nullptr)
        : store(ini), editor(store, shared ? *shared : memory, window)
    {
        if (load)
            editor.load();
    }
};

// Rows 1 to 6 of the pane: each value ('!' after a file that is gone), and
// for the table and field boxes their choice, number of items and '-' when
// they take no input.
QString shown(const Pane &pane)
{
    QStringList rows;
    for (int r = DatabaseRow; r < PropertyRows; ++r) {
        const PaneRow &row = pane.rows[r];
        QString cell = row.value + (r == DatabaseRow && pane.fileMissing ? u"!"_qs : QString());
        if (r == TableRow || r == InputFieldRow || r == OutputFieldRow)
            cell += u"@%1/%2"_qs.arg(row.current).arg(row.items.size()) + (row.enabled ? u""_qs : u"-"_qs);
        rows << cell;
    }
    return rows.join(u" | "_qs);
}

// The editor's rectangles as "left,top widthxheight" (list, pane,
// description, the pane's two grids), then the two column widths and the
// description label's.
QString geometry(const EditorLayout &l)
{
    QStringList parts;
    for (const TwipRect &r : {l.List, l.pic, l.Desc, l.grid0, l.grid1})
        parts << u"%1,%2 %3x%4"_qs.arg(r.left).arg(r.top).arg(r.width).arg(r.height);
    return parts.join(u" | "_qs) + u" | %1 %2 %3"_qs.arg(l.columnWidth0).arg(l.columnWidth1).arg(l.lblDescWidth);
}

} // namespace

class TestCatalogueList : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    const QString m_ini = m_dir.filePath(u"TVK/TVK.ini"_qs);

    // Entries "Title|file|Name|In|Out|CharsetIn|CharsetOut", ';' between
    // them, '~' before a hidden one's title, as the settings file holds them;
    // line 'selected' active.
    void write(const QString &spec, int selected)
    {
        QVector<DataSource> sources;
        for (const QString &e : spec.split(u';')) {
            const QStringList f = e.split(u'|');
            const QString file = f.value(1).isEmpty() ? QString() : m_dir.filePath(f[1] + u".mdb"_qs);
            sources << DataSource{QString(f[0]).remove(u'~'), file, f.value(2), f.value(3), f.value(4),
                                  uint8_t(f.value(5, u"238"_qs).toInt()), uint8_t(f.value(6, u"238"_qs).toInt()),
                                  !f[0].startsWith(u'~')};
        }
        QFile::remove(m_ini);
        SettingsStore store(m_ini);
        save_tables(store, sources, selected);
        QString error;
        QVERIFY2(store.sync(&error), qPrintable(error));
    }
private slots:
    void initTestCase()
    {
        for (const char *name : {"dve.mdb", "ms.mdb", "not.mdb"})
            testutil::writeBytes(m_dir.filePath(QLatin1String(name)), "");
    }

    // The user's steps, separated by blanks: n, d, v, ^ (the toolbar's New,
    // Delete, Move down, Move up), c<k> and t<k> (a
    // click on line k, or on its box), e<text> (a title typed), F (a database
    // chosen), f (chosen and opened), x (a close asked for), Y and N (the
    // answer to the questions from then on).
    void userSteps_data()
    {
        QTest::addColumn<QString>("entries"); // '@' before the entry selected at the start
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("after");
        QTest::newRow("start") << "A,@B,C" << "" << "A+,B+,C+ @1/1 p1 1111 r0 m0 q0";
        QTest::newRow("start on one without a database") << "A,@B!" << "" << "A+,B+ @1/1 p1 0101 r0 m0 q0";
        QTest::newRow("start on one") << "@A" << "" << "A+ @0/0 p0 1000 r0 m0 q0";
        QTest::newRow("start: empty title, hidden") << "@,~B" << "" << "+,B- @0/0 p0 1110 r0 m0 q0";
        QTest::newRow("start empty") << "" << "" << "*+ @0/0 p0 0100 r0 m0 q0";
        QTest::newRow("empty: no second New") << "" << "n" << "*+ @0/0 p0 0100 r0 m0 q0";
        QTest::newRow("empty: untouched goes") << "" << "x" << " @-1/0 p0 1000 r0 m0 q0 x1";
        QTest::newRow("empty: typed in, asked") << "" << "eMůj N x" << "Můj+ @0/0 p0 0100 r0 m0 q1 x0";
        QTest::newRow("empty: deleted") << "" << "eMůj d x" << " @-1/0 p0,-1 1000 r0 m0 q1 x1";
        QTest::newRow("emptied: New kept once chosen") << "" << "eMůj d n f x" << "*+ @0/0 p0,-1,0 1000 r0 m0 q1 x1";
        QTest::newRow("New") << "@A" << "n" << "A+,*+ @1/1 p0,1 0101 r1 m0 q0";
        // The first click back is the second refusal.
        QTest::newRow("New: no second") << "@A" << "n c0 n" << "A+,*+ @1/1 p0,1,1 0101 r2 m1 q0";
        QTest::newRow("New: opened") << "@A" << "n c0 f" << "A+,*+ @1/1 p0,1,1 1101 r0 m1 q0";
        QTest::newRow("New: free once opened") << "@A" << "n c0 f c0" << "A+,*+ @0/0 p0,1,1,0 1110 r0 m1 q0";
        QTest::newRow("delete first") << "@A,B,C" << "d" << "B+,C+ @0/0 p0,0 1110 r0 m0 q1";
        QTest::newRow("delete middle") << "A,@B,C" << "d" << "A+,C+ @1/1 p1,1 1101 r0 m0 q1";
        QTest::newRow("delete last") << "A,B,@C" << "d" << "A+,B+ @1/1 p2,1 1101 r0 m0 q1";
        QTest::newRow("delete answered No") << "A,B,@C" << "N d" << "A+,B+,C+ @2/2 p2,2 1101 r0 m0 q1";
        QTest::newRow("delete among hidden") << "~A,~B,@~C" << "d" << "A-,B- @1/1 p2,1 1101 r0 m0 q1";
        QTest::newRow("delete among hidden, then a click")
            << "~A,~B,@~C" << "d c0" << "A-,B- @0/0 p2,1,0 1110 r0 m0 q1";
        QTest::newRow("delete beside one without a database") << "@A,B,C!" << "d" << "B+,C+ @0/0 p0,0 1110 r0 m0 q1";
        QTest::newRow("delete onto one without a database") << "@A,B!" << "d" << "B+ @0/0 p0,0 0100 r0 m0 q1";
        QTest::newRow("delete the new one") << "@A,B" << "n c0 d" << "A+,B+ @1/1 p0,2,2,1 1101 r0 m1 q1";
        QTest::newRow("delete the new one, then a click")
            << "@A,B" << "n c0 d c0" << "A+,B+ @0/0 p0,2,2,1,0 1110 r0 m1 q1";
        QTest::newRow("delete to one, then nothing goes") << "A,@B,C" << "d d d v ^" << "A+ @0/0 p1,1,0 1000 r0 m0 q2";
        QTest::newRow("delete to one, New") << "A,@B,C" << "d d n" << "A+,*+ @1/1 p1,1,0,1 0101 r1 m0 q2";
        QTest::newRow("down") << "@A,~B,C" << "v" << "B-,A+,C+ @1/1 p0 1111 r0 m0 q0";
        QTest::newRow("down past the end") << "@A,~B,C" << "v v v" << "B-,C+,A+ @2/2 p0 1101 r0 m0 q0";
        QTest::newRow("up past the start") << "@A,~B,C" << "v v ^ ^ ^" << "A+,B-,C+ @0/0 p0 1110 r0 m0 q0";
        QTest::newRow("new one moved up") << "@A,~B,C" << "v n ^" << "B-,A+,*+,C+ @2/2 p0,3,2 0111 r1 m0 q0";
        QTest::newRow("new one moved up, held") << "@A,~B,C" << "v n ^ c0" << "B-,A+,*+,C+ @2/2 p0,3,2,2 0111 r2 m1 q0";
        // The first refusal silent, the next told; the box on another line
        // takes effect although the move is refused.
        QTest::newRow("held: another box") << "A,@B!,C" << "c0 c2 t2" << "A+,B+,C- @1/1 p1,1,1,1 0111 r3 m2 q0";
        QTest::newRow("held: own line and box") << "A,@B!,C" << "c1 t1" << "A+,B-,C+ @1/1 p1,1,1 0111 r0 m0 q0";
        // Once the entry is finished and left, the count starts again: the
        // next entry's first refusal is silent too.
        QTest::newRow("held: count starts again on the next")
            << "A,@B!,C!" << "c0 c0 F c2 c0" << "A+,B+,C+ @2/2 p1,1,1,2,2 0101 r1 m1 q0";
        QTest::newRow("box of another line moves there") << "@A,B,C" << "t2" << "A+,B+,C- @2/2 p0,2 1101 r0 m0 q0";
        QTest::newRow("held: close answered No") << "A,@B!,C" << "N x x" << "A+,B+,C+ @1/1 p1 0111 r0 m0 q2 x00";
        // A path that names no file still counts.
        QTest::newRow("held: close once chosen") << "A,@B!,C" << "N x F x" << "A+,B+,C+ @1/1 p1 0111 r0 m0 q1 x01";
        QTest::newRow("held: close answered Yes drops it") << "A,@B!,C" << "x" << "A+,C+ @1/1 p1 1101 r0 m0 q1 x1";
    }

    void userSteps()
    {
        QFETCH(QString, entries);
        QFETCH(QString, steps);
        Editor e(::entries(entries), int(entries.split(u',').indexOf(QRegularExpression(u"@.*"_qs))));
        QString closes;
        for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
            const QString title = e.list.sources().value(e.list.selectedLine()).Title;
            const qsizetype asked = e.window.questions.size();
            const int k = step.mid(1).toInt();
            switch (step[0].unicode()) {
            case u'n': e.list.press(Action::New); break;
            case u'd': e.list.press(Action::Delete); break;
            case u'v': e.list.press(Action::MoveDown); break;
            case u'^': e.list.press(Action::MoveUp); break;
            case u'c': e.list.lineClicked(k); break;
            case u't': e.list.lineToggled(k, !e.list.lines()[k].checked); break;
            case u'e': e.list.editTitle(step.mid(1)); break;
            case u'F': e.list.databaseChosen(u"/data/"_qs + title + u".mdb"_qs); break;
            case u'f':
                e.list.databaseChosen(u"/data/"_qs + title + u".mdb"_qs);
                e.list.databaseOpened();
                break;
            case u'x': closes += e.list.closeRequested() ? u'1' : u'0'; break;
            case u'Y': e.window.answer = true; break;
            case u'N': e.window.answer = false; break;
            default: QFAIL(qPrintable(step));
            }
            QVERIFY2(linesShowTheirEntries(e.list), qPrintable(step));
            // Every question names the entry the user stood on.
            if (e.window.questions.size() > asked) {
                QCOMPARE(e.window.questions.size(), asked + 1);
                QCOMPARE(e.window.questions.last(),
                         step == u"x"_qs ? editortext::RefusalTitle + u'|' + editortext::CloseRefused + u"\n\n"_qs
                                               + editortext::dropQuestion(title)
                                         : editortext::DeleteTitle + u'|' + editortext::deleteQuestion(title));
            }
        }
        QTEST(state(e, closes), "after");
        QVERIFY(e.window.filledSelected);
        for (const QString &m : e.window.messages)
            QCOMPARE(m, editortext::RefusalTitle + u'|' + editortext::MoveRefused);
    }

    // What the pane shows of an entry and its database, and what the user's
    // choices store. Entries as "Title|file|Name|In|Out|CharsetIn|CharsetOut"
    // separated by ';' (file: a name in the test's folder, where dve, ms and
    // not exist). Steps: p<row>=<item> (a pick, '_' for a blank), b<file> (a
    // database chosen by browsing; b alone: cancelled), c<k> (a click on line
    // k). 'pane': rows 1 to 6 (see shown()); 'stored': the selected entry.
    void pane_data()
    {
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("told");
        QTest::addColumn<QString>("pane");
        QTest::addColumn<QString>("stored");
        const QString ce = u"středoevropské"_qs, slovnik = u"dve.mdb | Slovnik@0/2 | slovo@0/2"_qs;
        QTest::newRow("names in another letter case: kept as stored") << "Slova|dve|slovnik|SLOVO|vyznam" << ""
            << "" << slovnik + " | " + ce + " | vyznam@1/2 | " + ce << "dve.mdb,slovnik,SLOVO,vyznam,238,238";
        QTest::newRow("picks stored") << "Slova|dve|slovnik|SLOVO|vyznam" << "p5=slovo p4=cyrilice p6=západní" << ""
            << "dve.mdb | Slovnik@0/2 | slovo@0/2 | cyrilice | slovo@0/2 | západní" << "dve.mdb,slovnik,SLOVO,slovo,204,0";
        QTest::newRow("the same table in its own spelling") << "Slova|dve|slovnik|SLOVO|vyznam" << "p2=Slovnik" << ""
            << slovnik + " | " + ce + " | vyznam@1/2 | " + ce << "dve.mdb,Slovnik,SLOVO,vyznam,238,238";
        QTest::newRow("another table: its fields, the first for both") << "Slova|dve|Slovnik|slovo|vyznam" << "p2=jina"
            << "" << "dve.mdb | jina@1/2 | word@0/3 | " + ce + " | word@0/3 | " + ce << "dve.mdb,jina,word,word,238,238";
        QTest::newRow("table not found") << "A|dve|nic|slovo|vyznam" << "" << "Tabulka 'nic' nebyla nalezena!"
            << "dve.mdb | nic@-1/2 | slovo@-1/0 | " + ce + " | vyznam@-1/0 | " + ce << "dve.mdb,nic,slovo,vyznam,238,238";
        QTest::newRow("table picked, the next entry listed anew")
            << "A|dve|nic|slovo|vyznam;B|dve|Slovnik|chybi|vyznam" << "p2=Slovnik c1 c0"
            << "Tabulka 'nic' nebyla nalezena!;Položka 'chybi' nebyla nalezena!" << slovnik + " | " + ce + " | slovo@0/2 | " + ce
            << "dve.mdb,Slovnik,slovo,slovo,238,238";
        QTest::newRow("input field not found") << "B|dve|Slovnik|chybi|vyznam" << "" << "Položka 'chybi' nebyla nalezena!"
            << "dve.mdb | Slovnik@0/2 | chybi@-1/2 | " + ce + " | vyznam@-1/2 | " + ce
            << "dve.mdb,Slovnik,chybi,vyznam,238,238";
        QTest::newRow("output field not found") << "B|dve|Slovnik|slovo|chybi" << "" << "Položka 'chybi' nebyla nalezena!"
            << slovnik + " | " + ce + " | chybi@-1/2 | " + ce << "dve.mdb,Slovnik,slovo,chybi,238,238";
        QTest::newRow("no table offered") << "M|ms" << "" << "K dispozici nejsou žádné tabulky!"
            << "ms.mdb | @-1/0 | @-1/0 | " + ce + " | @-1/0 | " + ce << "ms.mdb,,,,238,238";
        QTest::newRow("a file gone: its names, boxes off, no message") << "C|pryc|Slovnik|slovo|vyznam" << "" << ""
            << "pryc.mdb (soubor nenalezen)! | Slovnik@-1/0- | slovo@-1/0- | " + ce + " | vyznam@-1/0- | " + ce
            << "pryc.mdb,Slovnik,slovo,vyznam,238,238";
        QTest::newRow("no database yet") << "N" << "" << "" << " | @-1/0- | @-1/0- | " + ce + " | @-1/0- | " + ce
                                         << ",,,,238,238";
        QTest::newRow("charsets no name stands for: kept") << "X|dve|Slovnik|slovo|vyznam|1|100" << "" << ""
            << slovnik + " | znaková sada 1 | vyznam@1/2 | znaková sada 100" << "dve.mdb,Slovnik,slovo,vyznam,1,100";
        QTest::newRow("charsets no name stands for: picked") << "X|dve|Slovnik|slovo|vyznam|1|100"
            << "p4=cyrilice p6=západní p6=znaková_sada_100" << ""
            << slovnik + " | cyrilice | vyznam@1/2 | znaková sada 100" << "dve.mdb,Slovnik,slovo,vyznam,204,100";
        QTest::newRow("a database for a new entry: its first table and field") << "Nový" << "bdve" << ""
            << slovnik + " | " + ce + " | slovo@0/2 | " + ce << "dve.mdb,Slovnik,slovo,slovo,238,238";
        QTest::newRow("a database chosen again: its first table") << "A|dve|jina|word|meaning" << "bdve" << ""
            << slovnik + " | " + ce + " | slovo@0/2 | " + ce << "dve.mdb,Slovnik,slovo,slovo,238,238";
        QTest::newRow("cancelled") << "A|dve|jina|word|meaning" << "b" << ""
            << "dve.mdb | jina@1/2 | word@0/3 | " + ce + " | meaning@1/3 | " + ce << "dve.mdb,jina,word,meaning,238,238";
        QTest::newRow("no database: not taken") << "A|dve|jina|word|meaning" << "bnot" << "not.mdb: no database"
            << "dve.mdb | jina@1/2 | word@0/3 | " + ce + " | meaning@1/3 | " + ce << "dve.mdb,jina,word,meaning,238,238";
        QTest::newRow("no table: taken, and said") << "A|dve|jina|word|meaning" << "bms"
            << "K dispozici nejsou žádné tabulky!" << "ms.mdb | @-1/0 | word@-1/0 | " + ce + " | meaning@-1/0 | " + ce
            << "ms.mdb,,word,meaning,238,238";
    }

    void pane()
    {
        QFETCH(QString, entries);
        QFETCH(QString, steps);
        write(entries, 0);
        Opened e(m_ini);
        for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
            const int r = step.mid(1, 1).toInt();
            switch (step[0].unicode()) {
            case u'p':
                e.editor.choose(r, int(e.editor.pane().rows[r].items.indexOf(step.mid(3).replace(u'_', u' '))));
                break;
            case u'b':
                e.window.chosen = step.size() > 1 ? m_dir.filePath(step.mid(1) + u".mdb"_qs) : QString();
                e.editor.browse();
                break;
            case u'c': e.editor.list().lineClicked(r); break;
            default: QFAIL(qPrintable(step));
            }
        }
        QTEST(e.window.told.join(u';').remove(m_dir.path() + u'/'), "told");
        QTEST(shown(e.editor.pane()).remove(m_dir.path() + u'/'), "pane");
        const DataSource s = e.editor.list().sources()[e.editor.list().selectedLine()];
        const QString native = QDir::toNativeSeparators(s.File);
        QCOMPARE(e.editor.pane().fileTip,
                 e.editor.pane().fileMissing ? u"Databáze „%1“ nebyla nalezena."_qs.arg(native) : native);
        const QString names = u"%1,%2,%3,%4"_qs.arg(QFileInfo(s.File).fileName(), s.Name, s.In, s.Out);
        QTEST(names + u",%1,%2"_qs.arg(s.CharsetIn).arg(s.CharsetOut), "stored");
    }

    // Escape takes the title back to what it was when its editor opened or
    // took Enter, or when the pane showed the entry. The open-file dialog
    // starts in the entry's folder; for an entry without a database in the
    // folder last chosen in this run, else the home folder.
    void titleAndBrowsing()
    {
        write(u"Slova|dve"_qs, 0);
        Opened titled(m_ini);
        const int generation = titled.editor.pane().generation;
        QVERIFY(!titled.editor.restoreTitle());
        titled.editor.typeTitle(u"Slovník"_qs);
        titled.editor.keepTitle();
        titled.editor.typeTitle(u"Slovníček"_qs);
        QVERIFY(titled.editor.restoreTitle());
        QCOMPARE(titled.editor.list().sources()[0].Title, u"Slovník"_qs);
        QCOMPARE(titled.editor.pane().rows[TitleRow].value, u"Slovník"_qs);
        QVERIFY(titled.editor.pane().generation > generation); // the title editor shows it anew
        titled.editor.list().press(Action::New);
        QVERIFY(!titled.editor.restoreTitle());

        write(u"A|dve;N"_qs, 1);
        Opened first(m_ini);
        first.editor.browse();
        QCOMPARE(first.window.folder, QDir::homePath());
        first.window.chosen = m_dir.filePath(u"sub/dve.mdb"_qs);
        QVERIFY(first.editor.browse());
        Opened next(m_ini, true, &first.memory); // N again, later in the run
        next.editor.browse();
        QCOMPARE(next.window.folder, m_dir.filePath(u"sub"_qs));
        next.editor.list().press(Action::Delete); // onto A
        next.editor.browse();
        QCOMPARE(next.window.folder, m_dir.path());

        // A dictionary file chosen is imported, or the earlier import taken
        // if the user wants it, and the entry takes the made database, table
        // and fields, and its title while the user has given none. Cancelled
        // or failed, the entry keeps what it had.
        write(u"A|ms|X|x|y"_qs, 0);
        Opened e(m_ini);
        FakeWindow &w = e.window;
        const QVector<DataSource> before = e.editor.list().sources();
        w.chosen = m_dir.filePath(u"words/slova.csv"_qs);
        QVERIFY(!e.editor.browse());
        QCOMPARE(w.imported, QStringList{w.chosen});
        QVERIFY(!e.editor.addDictionary(w.chosen)); // nor when it is dropped
        QCOMPARE(e.editor.list().sources(), before);

        const QString dve = m_dir.filePath(u"dve.mdb"_qs);
        w.made = DataSource{u"Slova"_qs, dve, u"jina"_qs, u"word"_qs, u"meaning"_qs};
        QVERIFY(e.editor.browse());
        QCOMPARE(e.editor.list().sources()[0], (DataSource{u"A"_qs, dve, u"jina"_qs, u"word"_qs, u"meaning"_qs}));
        QCOMPARE(shown(e.editor.pane()), dve + u" | jina@1/2 | word@0/3 | středoevropské | meaning@1/3 | středoevropské"_qs);
        QCOMPARE(e.memory.lastFolder, m_dir.filePath(u"words"_qs));
        e.editor.list().press(Action::New);
        QVERIFY(e.editor.browse());
        QCOMPARE(e.editor.list().sources()[1].Title, u"Slova"_qs);
        QVERIFY(w.questions.isEmpty());

        // Made before: taken, made anew, or neither, as the user says.
        w.earlier = DataSource{u"Slova"_qs, dve, u"Slovnik"_qs, u"slovo"_qs, u"vyznam"_qs};
        using Earlier = EditorView::Earlier;
        for (auto [answer, imports, table] : {std::tuple(Earlier::Use, 0, u"Slovnik"_qs),
                                              std::tuple(Earlier::ImportAgain, 1, u"jina"_qs),
                                              std::tuple(Earlier::Cancel, 0, u"jina"_qs)}) {
            w.earlierAnswer = answer;
            w.imported.clear();
            QCOMPARE(e.editor.browse(), answer != Earlier::Cancel);
            QCOMPARE(w.imported.size(), imports);
            QCOMPARE(e.editor.list().sources()[1].Name, table);
        }
        QCOMPARE(w.questions, QStringList(3, editortext::ImportedBefore + u'|' + w.chosen));

        // Dropped: a new entry once the import succeeded, or the selected
        // one while it has no database.
        w.earlier.reset();
        QVERIFY(!e.editor.addDictionary(dve)); // a database is no dictionary
        QVERIFY(e.editor.addDictionary(w.chosen));
        QCOMPARE(e.editor.list().sources().mid(2), QVector<DataSource>{*w.made});
        e.editor.list().press(Action::New);
        QVERIFY(e.editor.addDictionary(w.chosen));
        QCOMPARE(e.editor.list().sources().size(), 4);
        QCOMPARE(e.editor.list().sources()[3].File, dve);
    }

    // Never closed with a save before the catalogue is read (an empty list
    // must not be written over it) nor in the middle of a read. (The
    // session's end: tst_editorwindow.) A close writes the working copy,
    // replacing a file the store cannot read (the catalogue the user sees is
    // the one to keep). A save that fails on closing never loses the edits
    // without the user's choice: Stay keeps the editor and its copy, Retry
    // writes once it can, Discard closes leaving the file and the store as
    // they were. (Closing on an empty catalogue's untouched entry: userSteps.)
    void closing()
    {
        write(u"A|dve;N"_qs, 0);
        const QByteArray before = testutil::readBytes(m_ini);
        Opened idle(m_ini, false);
        QVERIFY(idle.editor.closeRequest());
        QVERIFY(idle.editor.saveForSessionEnd());
        QCOMPARE(testutil::readBytes(m_ini), before);
        Opened reading(m_ini);
        bool closedWhileReading = true;
        reading.window.whileReading = [&] { closedWhileReading = reading.editor.closeRequest(); };
        reading.window.chosen = m_dir.filePath(u"dve.mdb"_qs);
        QVERIFY(reading.editor.browse());
        QVERIFY(!closedWhileReading);
        QCOMPARE(testutil::readBytes(m_ini), before);

        // The session ends on the entry made for a newcomer, untouched: it is
        // not written, or the next start would hold an entry nobody made.
        QFile::remove(m_ini);
        Opened newcomer(m_ini);
        QVERIFY(newcomer.editor.saveForSessionEnd());
        QCOMPARE(SettingsStore(m_ini).getSetting(u"Tables"_qs, u"count"_qs, u"0"_qs), u"0"_qs);

        write(u"A|a;~B|b;C|c;D|d"_qs, 2);
        QString error;
        Editor closing{SettingsStore(m_ini)};
        CatalogueList &list = closing.list;
        auto save = [&] {
            SettingsStore store(m_ini);
            QVERIFY2(list.save(store, &error), qPrintable(error));
        };
        // "ActiveTable" 2 counts visible entries only: entry C.
        QCOMPARE(list.selectedLine(), 2);
        list.press(Action::Delete); // C
        list.editTitle(QStringLiteral("Dčko"));     // D, now at 2
        list.kontrolaID(OutputCharsetRow, uint8_t(161));
        list.lineToggled(0, false);
        list.lineClicked(2);
        QVERIFY(list.closeRequested());
        save();

        SettingsStore back(m_ini);
        const Editor read(back);
        QCOMPARE(titles(read.list.sources()), u"A,B,Dčko"_qs);
        // The entry past the count stays in the file, unread, as the earlier versions left it.
        QCOMPARE(back.getSetting(u"Tables"_qs, u"Table4Title"_qs, {}), u"D"_qs);
        QCOMPARE(read.list.sources(), list.sources());
        QCOMPARE(read.list.selectedLine(), 2);
        QCOMPARE(back.getSetting(u"Tables"_qs, u"ActiveTable"_qs, {}), u"1"_qs);
        // (A hidden entry selected: tst_catalogue's activeTable.)

        testutil::writeBytes(m_ini, "[Tables]\ncount=\xff\xfe\n");
        QVERIFY(!SettingsStore(m_ini).problem().isEmpty());
        save();
        QCOMPARE(Editor{SettingsStore(m_ini)}.list.sources(), list.sources());

        const QString folder = m_dir.filePath(u"blocked"_qs), ini = folder + u"/TVK.ini"_qs;
        testutil::writeBytes(folder, "in the way"); // the settings folder cannot be made
        SettingsStore store(ini);
        Editor e(entries(u"A,B!"_qs), 1);
        e.list.editTitle(u"Bx"_qs);
        QVERIFY(!e.list.close(store)); // on B without a database: asked, Yes drops it, then Stay
        QVERIFY2(e.window.saveErrors.size() == 1 && e.window.saveErrors[0].contains(ini),
                 qPrintable(e.window.saveErrors.join(u'|')));
        QCOMPARE(titles(e.list.sources()), u"A"_qs);
        QCOMPARE(e.window.filled.last(), 0); // the pane shows the entry the user is on now

        e.list.editTitle(u"Ax"_qs);
        e.window.afterFailedSaves = {{Answer::Retry, {}}, {Answer::Discard, {}}};
        QVERIFY(e.list.close(store));
        QCOMPARE(e.window.saveErrors.size(), 3);
        QVERIFY(store.getSetting(u"Tables"_qs, u"Table1Title"_qs, {}).isEmpty());
        QVERIFY(QFile::remove(folder));
        QVERIFY2(store.sync(&error), qPrintable(error)); // a discarded edit is not written by the next save
        QVERIFY(!QFile::exists(ini));

        testutil::writeBytes(folder, "in the way");
        e.window.afterFailedSaves = {{Answer::Retry, [&] { QFile::remove(folder); }}};
        QVERIFY(e.list.close(store));
        QCOMPARE(e.window.saveErrors.size(), 4);
        QCOMPARE(SettingsStore(ini).getSetting(u"Tables"_qs, u"Table1Title"_qs, {}), u"Ax"_qs);
    }

    void entryLimit()
    {
        const int max = 32768; // positions 0 to 32,767
        Editor e(QVector<DataSource>(max - 1, entries(u"x"_qs)[0]), 0);
        e.list.new_item();
        QCOMPARE(e.list.sources().size(), max);
        QCOMPARE(e.list.selectedLine(), max - 1);
        e.list.databaseChosen(QStringLiteral("/data/last.mdb"));
        e.list.databaseOpened();
        QVERIFY(!e.list.isEnabled(Action::New)); // (New refused while it is off: userSteps)

        // Deleting one makes room again.
        e.list.delete_item();
        e.list.new_item();
        QCOMPARE(e.list.sources().size(), max);

        // Every entry the editor allows is read back, and opening at the
        // limit starts with New off.
        SettingsStore store(QStringLiteral("/nonexistent/TVK.ini"));
        save_tables(store, e.list.sources(), e.list.selectedLine());
        Editor full(store);
        QCOMPARE(full.list.sources(), e.list.sources());
        QVERIFY(!full.list.isEnabled(Action::New));
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
        // pane: 7 x 240 + 3 x 12 = 1716; H = 4725 - 1095 + 48 = 3678; the list
        // from below the toolbar to 24 above the pane.
        QCOMPARE(geometry(l), u"0,420 3915x1470 | 0,1914 3915x1716 | 30,3678 3715x1005 | 0,0 3525x1716 | "
                              u"1600,0 2315x1716 | 1600 2315 3615"_qs);

        // Taller: all of it goes to the list; the pane keeps its height just
        // above the description area.
        EditorLayoutInput taller = in;
        taller.clientHeight += 1000;
        taller.outerHeight += 1000;
        QCOMPARE(geometry(editorLayout(taller)), u"0,420 3915x2470 | 0,2914 3915x1716 | 30,4678 3715x1005 | "
                                                 u"0,0 3525x1716 | 1600,0 2315x1716 | 1600 2315 3615"_qs);

        // Wider: list, pane, value column, description and help text widen.
        EditorLayoutInput wider = in;
        wider.clientWidth += 500;
        wider.outerWidth += 500;
        QCOMPARE(geometry(editorLayout(wider)), u"0,420 4415x1470 | 0,1914 4415x1716 | 30,3678 4215x1005 | "
                                                u"0,0 3525x1716 | 1600,0 2815x1716 | 1600 2815 4115"_qs);

        // Too small: enlarged to 2800 x 4500, and laid out for that size.
        const EditorLayout s = editorLayout({.clientWidth = 1880, .clientHeight = 2595, .outerWidth = 2000,
                                             .outerHeight = 3000, .toolbarHeight = 390, .rowH = 240, .BorderX = 15,
                                             .BorderY = 12});
        QVERIFY(s.enlarged);
        QCOMPARE(u"%1x%2 "_qs.arg(s.outerWidth).arg(s.outerHeight) + geometry(s),
                 u"2800x4500 0,420 2665x840 | 0,1284 2665x1716 | 30,3048 2465x1005 | 0,0 3525x1716 | 1600,0 1065x1716 | "
                 u"1600 1065 2365"_qs);

        // Rows too tall for the window: no negative sizes.
        EditorLayoutInput cramped = in;
        cramped.rowH = 900;
        QCOMPARE(editorLayout(cramped).List.height, 0.0);

        // grid(1) at 1600, 2315 wide; rows of 240; borders 15 across, 12 down.
        const InPlaceEditor text = inPlaceEditor(TitleRow, 1600, 2315, 240, 0, 15, 12);
        QCOMPARE(text, (InPlaceEditor{1645, 15, 2165, 210}));
        QCOMPARE(inPlaceEditor(-1, 1600, 2315, 240, 0, 15, 12), text);

        // The browse button: a square at the value cell's right end.
        QCOMPARE(inPlaceEditor(DatabaseRow, 1600, 2315, 240, 240, 15, 12), (InPlaceEditor{3615, 228, 255, 255}));

        QCOMPARE(inPlaceEditor(InputCharsetRow, 1600, 2315, 240, 960, 15, 12), (InPlaceEditor{1585, 924, 2285, {}}));
        QCOMPARE(inPlaceEditor(OutputCharsetRow, 1600, 2815, 240, 1440, 15, 12).width, 2785.0);
    }

    void paneKeys()
    {
        // No key changes a value unseen: in a closed choice box the arrows
        // walk the rows and a letter opens the list; Alt+Down is the box's own.
        using P = PanePart;
        using K = PaneKey;
        auto does = [](PanePart part, int key, QStringView text = {}, Qt::KeyboardModifiers modifiers = {}) {
            return paneKey(part, key, modifiers, text);
        };
        for (int key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End})
            QCOMPARE(does(P::ClosedChoice, key), K::ToRows);
        for (int key : {Qt::Key_Left, Qt::Key_Right})
            QCOMPARE(does(P::ClosedChoice, key), K::Nothing);
        QCOMPARE(does(P::ClosedChoice, Qt::Key_Down, {}, Qt::AltModifier), K::Own);
        QCOMPARE(does(P::ClosedChoice, Qt::Key_A, u"a"), K::OpenChoice);
        QCOMPARE(does(P::ClosedChoice, Qt::Key_Space, u" "), K::Own);
        QCOMPARE(does(P::ClosedChoice, Qt::Key_Return, u"\r"), K::BackToRows);
        QCOMPARE(does(P::OpenChoice, Qt::Key_Down), K::Own);
        QCOMPARE(does(P::OpenChoice, Qt::Key_Escape), K::Abandon);
        // The rows open an editor; Escape there is the window's (it closes).
        QCOMPARE(does(P::Rows, Qt::Key_F2), K::OpenEditor);
        QCOMPARE(does(P::Rows, Qt::Key_Enter, u"\r"), K::OpenEditor);
        QCOMPARE(does(P::Rows, Qt::Key_Escape), K::Own);
        // Home and End reach the first and last row, as in a list.
        QCOMPARE(does(P::Rows, Qt::Key_Home), K::FirstRow);
        QCOMPARE(does(P::Rows, Qt::Key_End), K::LastRow);
        QCOMPARE(does(P::Title, Qt::Key_Return, u"\r"), K::KeepTitle);
        QCOMPARE(does(P::Title, Qt::Key_Escape), K::Abandon);
        QCOMPARE(does(P::Title, Qt::Key_Down), K::Own);
        QCOMPARE(does(P::Browse, Qt::Key_Return, u"\r"), K::Browse);
        QCOMPARE(does(P::Browse, Qt::Key_Up), K::ToRows);
        QCOMPARE(does(P::Browse, Qt::Key_Escape), K::Abandon);
        QCOMPARE(does(P::Other, Qt::Key_Escape), K::Own);
    }
};

QTEST_GUILESS_MAIN(TestCatalogueList)
#include "tst_cataloguelist.moc"
