// Starts the real lookup window on catalogues of databases made by
// tarnvik-mkdb and checks what the user finds: caption, frame, source menu,
// fonts, character sets and the no-match state; and the store's failures.
#include "dropdown/frmCombo.h"
#include "widgets/Controls.h"
#include "lookup/Layout.h"
#include "lookup/frmDict.h"
#include "platform/Dict.h"
#include "util/TestUtil.h"
#include "util/Privileges.h"
#include "util/WindowTestUtil.h"

#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

using namespace tarnvik;
using testutil::answeringBoxes;
using testutil::writeIni;

namespace {

QColor paletteColor(QWidget *w)
{
    return w->palette().color(QPalette::Base);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_db1, m_db2;
    QString ini() const { return m_dir.filePath(QStringLiteral("config/TVK/TVK.ini")); }

    QString catalogue(const QString &font, const QString &topMost, const QString &active) const
    {
        return QStringLiteral("[Settings]\nTopMost=%1\nFont=%2\n[Tables]\ncount=4\nActiveTable=%3\n"
                              "Table1Title=Anglicko-český\nTable1File=%4\nTable1Name=Slova\nTable1In=slovo\n"
                              "Table1Out=vyznam\n"
                              "Table2Title=Skrytý\nTable2File=%4\nTable2Visible=False\n"
                              "Table3Title=-\nTable3File=%4\n"
                              "Table4Title=Rusko-český\nTable4File=%5\nTable4Name=Slova\nTable4In=slovo\n"
                              "Table4Out=vyznam\nTable4CharsetIn=204\nTable4CharsetOut=238\n")
            .arg(topMost, font, active, m_db1, m_db2);
    }

    static QStringList menuEntries(frmDict &w)
    {
        QStringList out;
        for (QAction *a : w.sourceMenu()->actions())
            out << (a->isSeparator() ? QStringLiteral("|") : a->text())
                       + (a->isChecked() ? QStringLiteral("*") : QString())
                       + (a->isEnabled() ? QString() : QStringLiteral("(disabled)"));
        return out;
    }

    static void verifyNoMatch(frmDict &w)
    {
        QCOMPARE(paletteColor(w.findChild<QComboBox *>("Combo1")), QColor(0xFF, 0x80, 0x80));
        QVERIFY(w.findChild<CellGrid *>("gridd0")->isHidden());
        QVERIFY(w.findChild<CellGrid *>("gridd1")->isHidden());
        QCOMPARE(w.findChild<Lamp *>("Shape1")->fillColor(), QColor(0, 0xFF, 0));
        QVERIFY(w.dropDown()->isHidden());
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_db1 = m_dir.filePath(QStringLiteral("one.mdb"));
        m_db2 = m_dir.filePath(QStringLiteral("two.mdb"));
        const QString tsv = m_dir.filePath(QStringLiteral("Slova.tsv"));
        testutil::writeTsv(tsv, {"slovo", "vyznam"}, {{QStringLiteral("dům"), QStringLiteral("house")}});
        const auto r = testutil::runMkdb({m_db1, tsv});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        // The Russian source's bytes mean Cyrillic only in its own set.
        QString error;
        QVERIFY2(testutil::writeTable(m_db2, QStringLiteral("Slova"), {{QStringLiteral("slovo")}, {QStringLiteral("vyznam")}},
                                      {{QStringLiteral("дом"), QStringLiteral("dum")}}, &error,
                                      JetWriter::Format::Jet3, 1251),
                 qPrintable(error));
    }

    void startsOnCatalogue()
    {
        writeIni(ini(), catalogue(QStringLiteral("No Such Face"), QStringLiteral("False"), QStringLiteral("3")));
        SettingsStore store(ini());
        frmDict w(store);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QCOMPARE(w.windowTitle(), QStringLiteral("Tarnvik"));
        QVERIFY(w.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(!w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(menuEntries(w), (QStringList{"Anglicko-český", "|", "Rusko-český*"}));
        QCOMPARE(w.activePosition(), 2);
        QCOMPARE(w.data1().databaseName(), m_db2);

        // A face that is not installed: Arial everywhere; the store keeps the name.
        for (QWidget *c : {static_cast<QWidget *>(w.findChild<QLineEdit *>("Text1")),
                           static_cast<QWidget *>(w.findChild<CellGrid *>("gridd0")),
                           static_cast<QWidget *>(w.findChild<CellGrid *>("gridd1")),
                           static_cast<QWidget *>(w.dropDown()->grid(0)),
                           static_cast<QWidget *>(w.dropDown()->grid(1))})
            QCOMPARE(c->font().family(), QStringLiteral("Arial"));
        QCOMPARE(w.fontName(), QStringLiteral("Arial"));
        QCOMPARE(store.getSetting("Settings", "Font", {}), QStringLiteral("No Such Face"));

        // Input values read in the source's input set.
        w.findChild<QLineEdit *>("Text1")->setText(QStringLiteral("до"));
        QTRY_COMPARE_WITH_TIMEOUT(w.findChild<CellGrid *>("gridd0")->cellText(), QStringLiteral("дом"),
                                  testutil::kReadWaitMs);
        w.findChild<QLineEdit *>("Text1")->clear();

        // The first-match grids lie over Combo1's face, its button uncovered.
        const FirstMatchLayout l = setGridLayout(design::Combo1, metrics());
        QCOMPARE(w.findChild<CellGrid *>("gridd0")->geometry(), toPixels(l.gridd[0], metrics()));
        QCOMPARE(w.findChild<CellGrid *>("gridd1")->geometry(), toPixels(l.gridd[1], metrics()));
        const QRect combo = w.findChild<QComboBox *>("Combo1")->geometry();
        QVERIFY(combo.contains(toPixels(l.gridd[1], metrics()).topRight()));

        verifyNoMatch(w);
        QVERIFY(!w.dropDown()->isVisible());
    }

    void installedFontAndTopMost()
    {
        writeIni(ini(), catalogue(QStringLiteral("DejaVu Sans"), QStringLiteral("tRuE"), QStringLiteral("0")));
        SettingsStore store(ini());
        frmDict w(store);
        QVERIFY(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(w.windowMenu()->actions().at(3)->isChecked()); // "Vždy navrchu"
        QCOMPARE(w.windowMenu()->actions().at(3)->text(), QStringLiteral("Vždy navrchu"));
        if (QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans")))
            QCOMPARE(w.findChild<QLineEdit *>("Text1")->font().family(), QStringLiteral("DejaVu Sans"));
        // "ActiveTable" below 1: the first visible entry.
        QCOMPARE(menuEntries(w).first(), QStringLiteral("Anglicko-český*"));
        QCOMPARE(w.data1().databaseName(), m_db1);
    }

    void captionBarKeepsPlace()
    {
        QWidget w;
        w.setGeometry(100, 120, 300, 40);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect outer = w.frameGeometry();
        SetCaptionBar(&w, false);
        QVERIFY(w.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(w.isVisible());
        QTRY_COMPARE(w.frameGeometry(), outer);
        SetCaptionBar(&w, true);
        QVERIFY(!w.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(w.isVisible());
        QTRY_COMPARE(w.geometry(), outer);
    }

    void emptyAndReloadedCatalogue()
    {
        QFile::remove(ini());
        SettingsStore store(ini());
        frmDict w(store);
        QCOMPARE(menuEntries(w), QStringList{"Chyba při načítání dat(disabled)"});
        QVERIFY(w.data1().databaseName().isEmpty());
        verifyNoMatch(w);
        QVERIFY(w.findChild<QLineEdit *>("Text1")->isEnabled());

        writeIni(ini(), catalogue(QStringLiteral("Arial"), QStringLiteral("False"), QStringLiteral("1")));
        w.getAllMySettings();
        QCOMPARE(menuEntries(w), (QStringList{"Anglicko-český*", "|", "Rusko-český"}));

        // Emptied again: back to the single disabled entry, nothing bound.
        writeIni(ini(), QStringLiteral("[Tables]\ncount=0\n"));
        w.getAllMySettings();
        w.Text1_Change();
        QCOMPARE(menuEntries(w), QStringList{"Chyba při načítání dat(disabled)"});
        QVERIFY(w.sources().isEmpty());
        QVERIFY(w.data1().databaseName().isEmpty());
        verifyNoMatch(w);
    }

    void storeFailuresAreTold()
    {
        // Damaged: told once, defaults used, the file left for the user.
        const QByteArray damaged = QByteArray("[Tables]\ncount=1\nTable1Title=A\n") + QByteArray(1, '\0') + "\n"; // not text
        writeIni(ini(), QString::fromUtf8(damaged));
        SettingsStore store(ini());
        std::unique_ptr<frmDict> w;
        QStringList told = answeringBoxes([&] { w = std::make_unique<frmDict>(store); });
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].contains(ini()));
        QCOMPARE(menuEntries(*w), QStringList{"Chyba při načítání dat(disabled)"});
        told = answeringBoxes([&] { w->getAllMySettings(); });
        QVERIFY(told.isEmpty());
        QVERIFY(w->saveAllMySettings()); // nothing changed, nothing to save
        // A change cannot be saved there: not reported as saved, not told again.
        w->windowMenu()->actions().at(3)->trigger(); // "Vždy navrchu"
        told = answeringBoxes([&] { QVERIFY(!w->saveAllMySettings()); });
        QVERIFY(told.isEmpty());
        QFile f(ini());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), damaged);
        w.reset();

        // Things that are no settings file: a FIFO (which must not hold the
        // start), a loop of links, a folder. Each told once, each left alone.
        for (const QString &kind : {QStringLiteral("fifo"), QStringLiteral("loop"), QStringLiteral("folder")}) {
            QFile::remove(ini());
            if (kind == u"fifo")
                QCOMPARE(::mkfifo(QFile::encodeName(ini()).constData(), 0600), 0);
            else if (kind == u"loop")
                QVERIFY(QFile::link(ini(), ini()));
            else
                QVERIFY(QDir().mkpath(ini()));
            SettingsStore odd(ini());
            told = answeringBoxes([&] { w = std::make_unique<frmDict>(odd); });
            QCOMPARE(told.size(), 1);
            QVERIFY2(told[0].contains(ini()), qPrintable(told[0]));
            told = answeringBoxes([&] { w->getAllMySettings(); });
            QVERIFY(told.isEmpty());
            w->saveAllMySettings();
            w.reset();
            const QFileInfo after(ini());
            QVERIFY2(kind == u"fifo" ? !after.isFile() && !after.isDir() && !after.isSymLink()
                     : kind == u"loop" ? after.isSymLink()
                                       : after.isDir(),
                     qPrintable(kind));
            if (kind == u"folder")
                QVERIFY(QDir(ini()).removeRecursively());
        }
        QFile::remove(ini());

        // A write that fails is told, naming the file.
        const QString blocked = m_dir.filePath(QStringLiteral("one.mdb/TVK.ini"));
        SettingsStore cannot(blocked);
        frmDict w2(cannot);
        QVERIFY(w2.saveAllMySettings()); // nothing changed: nothing to write
        w2.windowMenu()->actions().at(3)->trigger(); // "Vždy navrchu"
        told = answeringBoxes([&] { QVERIFY(!w2.saveAllMySettings()); });
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains(blocked), qPrintable(told[0]));
    }

    // "Konec" in a read-only settings folder: told once with the cause, the
    // program ends with a failure, and the file stays as it was with nothing
    // beside it.
    void readOnlyFolder()
    {
        writeIni(ini(), catalogue(QStringLiteral("Arial"), QStringLiteral("False"), QStringLiteral("1")));
        QFile f(ini());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray before = f.readAll();
        f.close();
        SettingsStore store(ini());
        frmDict w(store);
        w.windowMenu()->actions().at(3)->trigger(); // "Vždy navrchu"
        const QString folder = QFileInfo(ini()).absolutePath();
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        bool dropped = false;
        QStringList told;
        {
            const testutil::WithoutOverride user;
            dropped = user.active();
            if (dropped)
                told = answeringBoxes([&] { w.Form_Unload(); });
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!dropped)
            QSKIP("root's override of file permissions cannot be dropped here");
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains(QString::fromLocal8Bit(strerror(EACCES))), qPrintable(told[0]));
        QCOMPARE(w.exitStatus(), 1);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"TVK.ini"});
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
