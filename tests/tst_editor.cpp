// The data-source editor as the user meets it: the pane's start, the title
// typed, a database chosen (dialog stood in for), a table changed, the
// verification's messages, the toolbar, closing, and the settings command of
// the lookup window around it.
#include "editor/setData.h"
#include "lookup/frmDict.h"
#include "platform/OpenSave.h"
#include "util/Files.h"
#include "util/TestUtil.h"
#include "util/WindowTestUtil.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
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

class TestEditor : public QObject
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
        testutil::writeIni(ini(),
                           u"[Tables]\ncount=1\n"_qs + iniEntry(1, u"Slova"_qs, m_two, u"slovnik"_qs, u"SLOVO"_qs, u"vyznam"_qs));
        SettingsStore store(ini());
        setData w(store);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.load_settings();

        // At the start: the title editor over row 0, its text selected, row 0 described.
        QLineEdit *text = w.titleEditor();
        QVERIFY(text->isVisible());
        QCOMPARE(text->selectedText(), QStringLiteral("Slova"));
        QCOMPARE(w.head(), QStringLiteral("Popisek v nabídce"));
        QCOMPARE(w.description(), QStringLiteral("Text, který se bude zobrazovat v menu."));
        QVERIFY(qAbs(text->geometry().center().y() - w.grid(1)->visualItemRect(w.grid(1)->item(0, 0)).center().y()) <= 3);

        // Stored names found in any letter case and kept as stored (the same
        // table and fields); tables beginning with "MS" not offered.
        QCOMPARE(items(w.combo(2)), (QStringList{"Slovnik", "jina"}));
        QCOMPARE(w.combo(2)->currentText(), QStringLiteral("Slovnik"));
        QCOMPARE(w.combo(3)->currentText(), QStringLiteral("slovo"));
        QCOMPARE(w.catalogue().sources()[0].Name, QStringLiteral("slovnik"));
        QCOMPARE(w.catalogue().sources()[0].In, QStringLiteral("SLOVO"));
        QCOMPARE(w.catalogue().sources()[0].Out, QStringLiteral("vyznam"));
        QCOMPARE(w.valueCell(4), QStringLiteral("středoevropské"));

        // Typing the title: value cell, entry and list line at every key.
        QTest::keyClicks(text, QStringLiteral("x"));
        QCOMPARE(w.valueCell(0), text->text());
        QCOMPARE(w.catalogue().sources()[0].Title, text->text());
        QCOMPARE(w.list()->item(0)->text(), text->text());

        // The output field row: a click opens its box; a pick is stored.
        QTableWidget *values = w.grid(1);
        const QPoint row5 = values->visualItemRect(values->item(5, 0)).center();
        QTest::mouseClick(values->viewport(), Qt::LeftButton, {}, row5);
        QVERIFY(w.combo(5)->isVisible());
        QVERIFY(!text->isVisible());
        QCOMPARE(w.head(), QStringLiteral("Výstupní hodnoty"));
        w.combo(5)->setCurrentIndex(1);
        emit w.combo(5)->activated(1);
        QCOMPARE(w.catalogue().sources()[0].Out, QStringLiteral("vyznam"));
        QCOMPARE(w.valueCell(5), QStringLiteral("vyznam"));

        // Another table: its fields listed, the first one for both.
        w.combo(2)->setCurrentIndex(1);
        emit w.combo(2)->activated(1);
        QCOMPARE(w.catalogue().sources()[0].Name, QStringLiteral("jina"));
        QCOMPARE(items(w.combo(3)), (QStringList{"word", "meaning", "note"}));
        QCOMPARE(w.catalogue().sources()[0].In, QStringLiteral("word"));
        QCOMPARE(w.catalogue().sources()[0].Out, QStringLiteral("word"));

        // A charset by name stores its number.
        w.combo(6)->setCurrentIndex(1);
        emit w.combo(6)->activated(1);
        QCOMPARE(w.catalogue().sources()[0].CharsetOut, uint8_t(204));
        QCOMPARE(w.valueCell(6), QStringLiteral("cyrilice"));

        // Closing saves the working copy.
        QVERIFY(w.close());
        SettingsStore after(ini());
        QCOMPARE(after.getSetting("Tables", "Table1Name", {}), QStringLiteral("jina"));
        QCOMPARE(after.getSetting("Tables", "Table1CharsetOut", {}), QStringLiteral("204"));
        QCOMPARE(after.getSetting("Tables", "Table1Title", {}), QStringLiteral("x")); // the selected text replaced
    }

    void newEntryAndDatabaseProblems()
    {
        testutil::writeIni(ini(),
                           u"[Tables]\ncount=1\n"_qs + iniEntry(1, u"Slova"_qs, m_two, u"Slovnik"_qs, u"slovo"_qs, u"vyznam"_qs));
        SettingsStore store(ini());
        setData w(store);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.load_settings();

        // New: appended, selected, shown; no leaving it nor closing without a database.
        w.button(1)->trigger();
        QCOMPARE(w.list()->count(), 2);
        QCOMPARE(w.list()->currentRow(), 1);
        QCOMPARE(w.list()->item(1)->text(), QStringLiteral("(Vstup -> Výstup)"));
        QVERIFY(!w.button(1)->isEnabled());
        QVERIFY(w.button(2)->isEnabled());
        QVERIFY(!w.combo(2)->isEnabled());
        QStringList told = answeringBoxes([&] {
            QTest::mouseClick(w.list()->viewport(), Qt::LeftButton, {},
                              w.list()->visualItemRect(w.list()->item(0)).center());
        });
        QCOMPARE(told.size(), 1); // the first refusal after New is the silent one
        QVERIFY(told[0].startsWith(QStringLiteral("Před přechodem na další záznam")));
        QCOMPARE(w.list()->currentRow(), 1);
        told = answeringBoxes([&] { QVERIFY(!w.close()); });
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].startsWith(QStringLiteral("Před ukončením editace")));

        // Browsing: each database problem named, the entry left as it was.
        QString next;
        setOpenDialogForTests([&](QWidget *, const QString &filter, const QString &title, const QString &) {
            if (!filter.contains(QStringLiteral("*.mdb")) || title != QStringLiteral("Vyber zdroj dat"))
                return QString();
            return next;
        });
        next = m_notDb;
        told = answeringBoxes([&] { w.browseButton()->click(); });
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].contains(QStringLiteral("not.mdb")));
        QCOMPARE(w.combo(2)->count(), 0);
        next = m_msOnly;
        told = answeringBoxes([&] { w.browseButton()->click(); });
        QCOMPARE(told, QStringList{"K dispozici nejsou žádné tabulky!"});

        // A sound database: its first table, and that table's first field for both.
        next = m_two;
        told = answeringBoxes([&] { w.browseButton()->click(); });
        QVERIFY(told.isEmpty());
        const DataSource &s = w.catalogue().sources()[1];
        QCOMPARE(s.File, m_two);
        QCOMPARE(s.Name, QStringLiteral("Slovnik"));
        QCOMPARE(s.In, QStringLiteral("slovo"));
        QCOMPARE(s.Out, QStringLiteral("slovo"));
        QVERIFY(w.button(1)->isEnabled());
        setOpenDialogForTests({});

        // Delete answered No, then Yes.
        auto answer = [](QMessageBox::StandardButton button) {
            QTimer::singleShot(50, [button] {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                    box->button(button)->click();
            });
        };
        answer(QMessageBox::No);
        w.button(2)->trigger();
        QCOMPARE(w.list()->count(), 2);
        answer(QMessageBox::Yes);
        w.button(2)->trigger();
        QCOMPARE(w.list()->count(), 1);
        QVERIFY(!w.button(2)->isEnabled());
        QVERIFY(w.close());
    }

    void missingNamesAreTold()
    {
        testutil::writeIni(ini(), u"[Tables]\ncount=3\nActiveTable=1\n"_qs
                                      + iniEntry(1, u"A"_qs, m_two, u"nic"_qs, u"slovo"_qs, u"vyznam"_qs)
                                      + iniEntry(2, u"B"_qs, m_two, u"Slovnik"_qs, u"chybi"_qs, u"vyznam"_qs)
                                      + iniEntry(3, u"C"_qs, m_dir.filePath(u"pryc.mdb"_qs), u"Slovnik"_qs, u"slovo"_qs,
                                              u"vyznam"_qs));
        SettingsStore store(ini());
        auto w = std::make_unique<setData>(store);
        w->show();
        QStringList told = answeringBoxes([&] { QTRY_COMPARE(w->list()->count(), 3); }); // read once the window is up
        QCOMPARE(told, QStringList{"Tabulka 'nic' nebyla nalezena!"});
        told = answeringBoxes([&] {
            QTest::mouseClick(w->list()->viewport(), Qt::LeftButton, {},
                              w->list()->visualItemRect(w->list()->item(1)).center());
        });
        QCOMPARE(told, QStringList{"Položka 'chybi' nebyla nalezena!"});
        QCOMPARE(w->catalogue().sources()[1].In, QStringLiteral("chybi")); // kept as it was
        // A file that is gone: said in row 1, the names the entry holds shown,
        // boxes disabled, no message.
        told = answeringBoxes([&] {
            QTest::mouseClick(w->list()->viewport(), Qt::LeftButton, {},
                              w->list()->visualItemRect(w->list()->item(2)).center());
        });
        QVERIFY(told.isEmpty());
        QCOMPARE(w->valueCell(1), m_dir.filePath(u"pryc.mdb"_qs) + u" (soubor nenalezen)"_qs);
        QCOMPARE(w->valueCell(2), QStringLiteral("Slovnik"));
        QCOMPARE(w->valueCell(3), QStringLiteral("slovo"));
        QVERIFY(!w->combo(2)->isEnabled());
        QVERIFY(w->close());
        SettingsStore after(ini());
        QCOMPARE(after.getSetting("Tables", "Table3File", {}), m_dir.filePath(QStringLiteral("pryc.mdb")));
        QCOMPARE(after.getSetting("Tables", "ActiveTable", {}), QStringLiteral("3"));
    }

    void settingsCommand()
    {
        // The lookup window opens the editor on its active source, always on
        // top only around it, and follows what the editor saved.
        testutil::writeIni(ini(), twoSources(1));
        SettingsStore store(ini());
        frmDict w(store);
        w.show();
        QAction *topMost = w.windowMenu()->actions().at(3);
        topMost->trigger(); // off since the start: must survive the editor
        QVERIFY(!topMost->isChecked());
        w.sourceMenu()->actions().at(1)->trigger();
        QAction *settings = w.windowMenu()->actions().at(2);
        QCOMPARE(settings->text(), QStringLiteral("Nastavení..."));
        QVERIFY(settings->isEnabled());
        int selectedInEditor = -1;
        onEditor([&](setData *editor) {
            selectedInEditor = editor->list()->currentRow();
            // Move the entry up: the active source is the same, now first.
            editor->button(5)->trigger();
            editor->close();
        });
        settings->trigger();
        QCOMPARE(selectedInEditor, 1);
        QVERIFY(!topMost->isChecked());
        QCOMPARE(w.activePosition(), 0);
        QCOMPARE(w.sourceMenu()->actions().at(0)->text(), QStringLiteral("Jiná"));
        QVERIFY(w.sourceMenu()->actions().at(0)->isChecked());
        w.findChild<QLineEdit *>("Text1")->setText(QStringLiteral("do"));
        QTRY_VERIFY(!w.data1().preparing());
        QCOMPARE(w.lookupProblem(), QString());

        // An editor that leaves no visible source: no match, nothing looked up.
        onEditor([&](setData *editor) {
            QTest::keyClick(editor->list(), Qt::Key_Space);
            QTest::keyClick(editor->list(), Qt::Key_Down);
            QTest::keyClick(editor->list(), Qt::Key_Space);
            editor->close();
        });
        settings->trigger();
        QVERIFY(w.sources().isEmpty());
        QCOMPARE(w.sourceMenu()->actions().at(0)->text(), QStringLiteral("Chyba při načítání dat"));
        QVERIFY(!w.sourceMenu()->actions().at(0)->isEnabled());
        QVERIFY(!w.lookupProblem().isEmpty());
        w.Form_Unload();
    }

    // The session ends while the editor is open: its catalogue is saved as
    // it stands, an entry begun but without a database included, and the
    // window's copy from before the editor overwrites none of it.
    void sessionEndsInTheEditor()
    {
        testutil::writeIni(ini(), twoSources(2));
        SettingsStore store(ini());
        frmDict w(store);
        w.show();
        onEditor([&](setData *editor) {
            editor->button(5)->trigger(); // the active source moves up
            editor->button(1)->trigger(); // a new entry, only its title given
            QTest::keyClicks(editor->titleEditor(), QStringLiteral("Rozdelany"));
            w.endSession();
        });
        // In the program's own event loop, as the end comes from there.
        QTimer::singleShot(0, &w, [&w] { w.windowMenu()->actions().at(2)->trigger(); });
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(w.exitStatus(), 0);
        SettingsStore after(ini());
        QCOMPARE(after.getSetting("Tables", "count", {}), QStringLiteral("3"));
        QCOMPARE(after.getSetting("Tables", "Table1Title", {}), QStringLiteral("Jiná"));
        QCOMPARE(after.getSetting("Tables", "Table3Title", {}), QStringLiteral("Rozdelany"));
        QCOMPARE(after.getSetting("Tables", "ActiveTable", {}), QStringLiteral("3"));
        QCOMPARE(after.getSetting("Settings", "TopMost", {}), QStringLiteral("True"));
    }

    // Two running copies on one file (separate runtime folders): one saves
    // its catalogue from the editor while the other exits. Each window saves
    // only what it changed, so neither undoes the other.
    void anotherCopyMeanwhile()
    {
        testutil::writeIni(ini(), twoSources(2));
        SettingsStore storeA(ini()), storeB(ini()), storeC(ini());
        frmDict a(storeA), b(storeB), c(storeC);
        a.show();
        b.windowMenu()->actions().at(3)->trigger(); // B: always on top, off
        onEditor([&](setData *editor) {
            // A's editor: the active source moved up, so "ActiveTable" becomes 1.
            editor->button(5)->trigger();
            QVERIFY(b.saveAllMySettings()); // B exits meanwhile
            editor->close();
        });
        a.windowMenu()->actions().at(2)->trigger(); // "Nastavení..."
        QVERIFY(a.saveAllMySettings());
        QVERIFY(c.saveAllMySettings()); // C exits last, having changed nothing

        SettingsStore after(ini());
        QCOMPARE(after.getSetting("Settings", "TopMost", {}), QStringLiteral("False"));
        QCOMPARE(after.getSetting("Tables", "Table1Title", {}), QStringLiteral("Jiná"));
        QCOMPARE(after.getSetting("Tables", "ActiveTable", {}), QStringLiteral("1"));
        // A follows the file in what it did not change itself.
        QVERIFY(!a.windowMenu()->actions().at(3)->isChecked());
        QCOMPARE(a.activePosition(), 0);
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
