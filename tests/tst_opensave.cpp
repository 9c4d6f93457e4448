// The open-file dialog: the filter text callers give, as the dialog shows it.
// (The stand-in tests put in its place serves the editor's window tests.)
#include "platform/OpenSave.h"

#include <QTest>
#include <QWidget>

using namespace tarnvik;

class TestOpenSave : public QObject
{
    Q_OBJECT
private slots:
    void filtersInTheDialogsForm();
};

void TestOpenSave::filtersInTheDialogsForm()
{
    const QStringList databases = {u"Všechny databáze MS Access (*.mdb *.accdb)"_qs,
                                   u"Databáze MS Access (*.mdb)"_qs, u"Databáze MS Access 2007 (*.accdb)"_qs,
                                   u"Všechny soubory (*)"_qs};
    // With and without the closing "|".
    QCOMPARE(openDialogFilters(u"Databáze MS Access (*.mdb)|*.mdb|"_qs), databases);
    QCOMPARE(openDialogFilters(u"Databáze MS Access (*.mdb)|*.mdb"_qs), databases);

    // Two pairs; a description without its pattern gets it; ";" lists become one entry.
    QCOMPARE(openDialogFilters(u"Texty|*.txt;*.tsv|Obrázky (*.png)|*.png|"_qs),
             (QStringList{u"Texty (*.txt *.tsv)"_qs, u"Obrázky (*.png)"_qs, u"Všechny soubory (*)"_qs}));
    // Parentheses that name other patterns than the pair's do not hide the pair's own.
    QCOMPARE(openDialogFilters(u"Data (*.dat)|*.bin|"_qs),
             (QStringList{u"Data (*.dat) (*.bin)"_qs, u"Všechny soubory (*)"_qs}));
    // An empty part ends the list; a description without a pattern is dropped.
    QCOMPARE(openDialogFilters(u"A|*.a||B|*.b|"_qs), (QStringList{u"A (*.a)"_qs, u"Všechny soubory (*)"_qs}));
    QCOMPARE(openDialogFilters(u"A|*.a|B"_qs), (QStringList{u"A (*.a)"_qs, u"Všechny soubory (*)"_qs}));
    QCOMPARE(openDialogFilters(QString()), QStringList{u"Všechny soubory (*)"_qs});
    // A list that already offers everything, or Access 2007 files, gets no second entry for them.
    QCOMPARE(openDialogFilters(u"Vše|*|"_qs), QStringList{u"Vše (*)"_qs});
    QCOMPARE(openDialogFilters(u"Access|*.mdb;*.accdb|"_qs),
             (QStringList{u"Access (*.mdb *.accdb)"_qs, u"Všechny soubory (*)"_qs}));
}

QTEST_MAIN(TestOpenSave)
#include "tst_opensave.moc"
