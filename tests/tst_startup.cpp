// Starts the real lookup window on catalogues of databases made by
// tarnvik-mkdb and checks what the user finds: frame, source menu,
// fonts and the no-match state; and the store's failures.
#include "dropdown/frmCombo.h"
#include "widgets/CellGrid.h"
#include "widgets/Lamp.h"
#include "lookup/Layout.h"
#include "lookup/frmDict.h"
#include "util/Files.h"
#include "util/Strip.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QtTest>

using namespace tarnvik;
using testutil::answeringBoxes;
using testutil::writeIni;

class TestStartup : public QObject
{
    Q_OBJECT
    testutil::Strip m_s;
    QString m_db1;
    QString ini() const { return m_s.ini(); }

    QString catalogue(const QString &font, const QString &active) const
    {
        return QStringLiteral("[Settings]\nTopMost=False\nFont=%1\n[Tables]\ncount=4\nActiveTable=%2\n").arg(font, active)
               + testutil::iniEntry(1, u"Anglicko-český"_qs, m_db1)
               + QStringLiteral("Table2Title=Skrytý\nTable2File=%1\nTable2Visible=False\nTable3Title=-\nTable3File=%1\n").arg(m_db1)
               + testutil::iniEntry(4, u"Rusko-český"_qs, m_db1) + u"Table4CharsetIn=204\nTable4CharsetOut=238\n"_qs;
    }

    QStringList menuEntries()
    {
        QStringList out;
        for (QAction *a : m_s->sourceMenu()->actions())
            out << (a->isSeparator() ? u"|"_qs : a->text()) + (a->isChecked() ? u"*"_qs : QString())
                       + (a->isEnabled() ? QString() : u"(disabled)"_qs);
        return out;
    }

    void verifyNoMatch()
    {
        QCOMPARE(m_s.combo1()->palette().color(QPalette::Base), QColor(0xFF, 0x80, 0x80));
        QVERIFY(m_s.gridd(0)->isHidden() && m_s.gridd(1)->isHidden() && m_s->dropDown()->isHidden());
        QCOMPARE(m_s.lamp()->fillColor(), QColor(0, 0xFF, 0));
    }

private slots:
    void initTestCase()
    {
        m_db1 = m_s.path(u"one.mdb"_qs);
        testutil::makeDatabase(m_db1, {{u"dům"_qs, u"house"_qs}});
    }

    void startsOnCatalogue()
    {
        m_s.start(catalogue(QStringLiteral("No Such Face"), QStringLiteral("3")), testutil::Strip::Wait::Exposed);
        frmDict &w = m_s.window();
        QVERIFY(w.windowFlags().testFlag(Qt::FramelessWindowHint) && !w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(menuEntries(), (QStringList{"Anglicko-český", "|", "Rusko-český*"}));

        // A face that is not installed: Arial everywhere; the store keeps the name.
        for (QWidget *c : std::initializer_list<QWidget *>{m_s.text1(), m_s.gridd(0), m_s.gridd(1),
                                                           w.dropDown()->grid(0), w.dropDown()->grid(1)})
            QCOMPARE(c->font().family(), QStringLiteral("Arial"));
        QCOMPARE(std::pair(w.fontName(), m_s.store().getSetting("Settings", "Font", {})), std::pair(u"Arial"_qs, u"No Such Face"_qs));

        // (Input read in the source's input set: tst_stripsession.)
        // The first-match grids lie over Combo1's face, its button uncovered.
        const FirstMatchLayout l = setGridLayout(design::Combo1, metrics());
        QCOMPARE(std::pair(m_s.gridd(0)->geometry(), m_s.gridd(1)->geometry()),
                 std::pair(toPixels(l.gridd[0], metrics()), toPixels(l.gridd[1], metrics())));
        QVERIFY(m_s.combo1()->geometry().contains(toPixels(l.gridd[1], metrics()).topRight()));

        verifyNoMatch();
    }

    void emptyAndReloadedCatalogue()
    {
        QFile::remove(ini());
        m_s.start(QString(), testutil::Strip::Wait::None);
        QCOMPARE(menuEntries(), QStringList{"Chyba při načítání dat(disabled)"});
        QVERIFY(m_s->data1().databaseName().isEmpty());
        verifyNoMatch();
        QVERIFY(m_s.text1()->isEnabled());

        writeIni(ini(), catalogue(QStringLiteral("Arial"), QStringLiteral("1")));
        m_s->getAllMySettings();
        QCOMPARE(menuEntries(), (QStringList{"Anglicko-český*", "|", "Rusko-český"}));

        m_s.source(0)->trigger();
        m_s.type(QStringLiteral("dů"));
        QVERIFY(m_s.matching());

        // Emptied again (as the editor may leave it): back to the single
        // disabled entry, nothing bound, nothing looked up.
        writeIni(ini(), QStringLiteral("[Tables]\ncount=0\n"));
        m_s->getAllMySettings();
        m_s->Text1_Change();
        QVERIFY(!m_s->lookupProblem().isEmpty());
        QCOMPARE(menuEntries(), QStringList{"Chyba při načítání dat(disabled)"});
        verifyNoMatch(); // (nothing bound: tst_stripsession)
    }

    void storeFailuresAreTold()
    {
        // Damaged: told once, defaults used, the file left for the user.
        const QByteArray damaged = QByteArray("[Tables]\ncount=1\nTable1Title=A\n") + QByteArray(1, '\0') + "\n"; // not text
        writeIni(ini(), QString::fromUtf8(damaged));
        QStringList told = answeringBoxes([&] { m_s.start(QString(), testutil::Strip::Wait::None); });
        QVERIFY2(told.size() == 1 && told[0].contains(ini()), qPrintable(told.join(u'|')));
        QCOMPARE(menuEntries(), QStringList{"Chyba při načítání dat(disabled)"});
        QVERIFY(answeringBoxes([&] { m_s->getAllMySettings(); }).isEmpty());
        QVERIFY(m_s->saveAllMySettings()); // nothing changed, nothing to save
        // A change cannot be saved there: not reported as saved, not told again.
        m_s.topMostAction()->trigger();
        QVERIFY(answeringBoxes([&] { QVERIFY(!m_s->saveAllMySettings()); }).isEmpty());
        QCOMPARE(testutil::readBytes(ini()), damaged);
        m_s.close();
        QFile::remove(ini());

        // A write that fails is told, naming the file.
        const QString blocked = m_db1 + QStringLiteral("/TVK.ini");
        SettingsStore cannot(blocked);
        frmDict w2(cannot);
        w2.mnuTopMost_Click();
        told = answeringBoxes([&] { QVERIFY(!w2.saveAllMySettings()); });
        QVERIFY2(told.size() == 1 && told[0].contains(blocked), qPrintable(told.join(u'|')));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
