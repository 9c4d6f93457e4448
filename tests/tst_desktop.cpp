// What the program takes from the desktop: Qt's own texts in Czech, the open
// dialog's filters, and the README the home-page command opens when no web
// address is configured.
#include "platform/Desktop.h"
#include "platform/OpenSave.h"
#include "util/Files.h"

#include <QFontDatabase>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarnvik;

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    // Buttons and the context menus, which the program does not word itself.
    void qtSpeaksCzech()
    {
        QVERIFY2(installCzechQtTexts(qApp), "Qt's Czech translations (qt6-translations-l10n) are not installed");

        QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("&Ano"));
        QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("&Ne"));
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Zrušit"));

        QLineEdit edit;
        std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList captions;
        for (QAction *a : menu->actions())
            captions << a->text().section(u'\t', 0, 0);
        QVERIFY2(captions.contains(u"&Kopírovat"_qs) && captions.contains(u"Vybrat vše"_qs), qPrintable(captions.join(u'|')));
    }

    // The editor's labels are measured for Tahoma; its bold face is used too.
    void tahoma()
    {
        if (!QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf")) && !QFontDatabase::hasFamily(QStringLiteral("Tahoma")))
            QSKIP("neither Tahoma nor fonts-wine is installed");
        QVERIFY(addTahoma());
        QFont bold(QStringLiteral("Tahoma"), 9);
        bold.setBold(true);
        QCOMPARE(QFontInfo(bold).family() + (QFontInfo(bold).bold() ? u" bold"_qs : QString()), u"Tahoma bold"_qs);
        // Bold must read as bold: clearly more ink than the regular face.
        auto ink = [](const QFont &font) {
            QImage image(200, 30, QImage::Format_Grayscale8);
            image.fill(Qt::white);
            QPainter p(&image);
            p.setFont(font);
            p.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Popisek v nabídce"));
            p.end();
            qint64 sum = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    sum += 255 - image.pixelColor(x, y).value();
            return sum;
        };
        QVERIFY(ink(bold) > ink(QFont(QStringLiteral("Tahoma"), 9)) * 5 / 4);
    }

    // The open dialog's filters, from the form callers give them in. (The
    // stand-in tests put in its place serves the editor's window tests.)
    void dialogFilters()
    {
        // Everything is offered last, unless the list offers it already.
        auto withAll = [](QStringList filters) { return filters << u"Všechny soubory (*)"_qs; };
        const QStringList databases = withAll({u"Všechny databáze MS Access (*.mdb *.accdb)"_qs,
                                               u"Databáze MS Access (*.mdb)"_qs, u"Databáze MS Access 2007 (*.accdb)"_qs});
        // With and without the closing "|".
        QCOMPARE(openDialogFilters(u"Databáze MS Access (*.mdb)|*.mdb|"_qs), databases);
        QCOMPARE(openDialogFilters(u"Databáze MS Access (*.mdb)|*.mdb"_qs), databases);

        // Two pairs; a description without its pattern gets it; ";" lists become one entry.
        QCOMPARE(openDialogFilters(u"Texty|*.txt;*.tsv|Obrázky (*.png)|*.png|"_qs), withAll({u"Texty (*.txt *.tsv)"_qs, u"Obrázky (*.png)"_qs}));
        // Parentheses that name other patterns than the pair's do not hide the pair's own.
        QCOMPARE(openDialogFilters(u"Data (*.dat)|*.bin|"_qs), withAll({u"Data (*.dat) (*.bin)"_qs}));
        // An empty part ends the list; a description without a pattern is dropped.
        for (const QString &list : {u"A|*.a||B|*.b|"_qs, u"A|*.a|||B|*.b|"_qs, u"A|*.a|B"_qs})
            QCOMPARE(openDialogFilters(list), withAll({u"A (*.a)"_qs}));
        QCOMPARE(openDialogFilters(QString()), withAll({}));
        // A list that already offers everything, or Access 2007 files, gets no second entry for them.
        QCOMPARE(openDialogFilters(u"Vše|*|"_qs), QStringList{u"Vše (*)"_qs});
        QCOMPARE(openDialogFilters(u"Access|*.mdb;*.accdb|"_qs), withAll({u"Access (*.mdb *.accdb)"_qs}));
    }

    void homePage()
    {
        QCOMPARE(tarnvik::homePage(QStringLiteral("https://example.org/"), QStringLiteral(TARNVIK_BIN_DIR)),
                 QUrl(QStringLiteral("https://example.org/")));

        // Run from the build folder: the source tree's README, whatever is installed.
        const QString fromBuild = tarnvik::homePage({}, QStringLiteral(TARNVIK_BIN_DIR)).toLocalFile();
        QCOMPARE(QFileInfo(fromBuild).fileName(), QStringLiteral("README.md"));
        QVERIFY(QFileInfo::exists(fromBuild));
        QVERIFY(QFileInfo::exists(QFileInfo(fromBuild).dir().filePath(QStringLiteral("src/main.cpp"))));

        // Installed under any prefix: the README beside the program's own files.
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(u"opt/t/bin"_qs) && QDir(root.path()).mkpath(u"opt/t/share/doc/tarnvik"_qs));
        const QString installed = root.filePath(QStringLiteral("opt/t/share/doc/tarnvik/README.md"));
        testutil::writeBytes(installed, {});
        QCOMPARE(tarnvik::homePage({}, root.filePath(QStringLiteral("opt/t/bin"))), QUrl::fromLocalFile(installed));

        // Copied anywhere else, it knows nothing of the tree it was built in.
        QTemporaryDir elsewhere;
        QVERIFY(tarnvik::homePage({}, elsewhere.path()) != QUrl::fromLocalFile(fromBuild));
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
