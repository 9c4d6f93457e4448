#include "Editor.h"

#include "catalogue/SettingsStore.h"
#include "platform/OpenSave.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

using namespace tarnvik;

namespace testutil {

Editor::~Editor()
{
    m_w.reset();
    setOpenDialogForTests({});
}

QString Editor::database()
{
    const QString db = path(QStringLiteral("dve.mdb"));
    if (!QFile::exists(db)) {
        writeTsv(path(u"Slovnik.tsv"_qs), {"slovo", "vyznam"}, {{u"dům"_qs, u"house"_qs}});
        writeTsv(path(u"jina.tsv"_qs), {"word", "meaning", "note"}, {{u"dog"_qs, u"pes"_qs, {}}});
        writeTsv(path(u"MSProducts.tsv"_qs), {"a"}, {{u"x"_qs}});
        const Run r = runMkdb({db, path(u"Slovnik.tsv"_qs), path(u"MSProducts.tsv"_qs), path(u"jina.tsv"_qs)});
        if (r.exitCode != 0)
            qFatal("tarnvik-mkdb: %s", r.err.constData());
    }
    return db;
}

QString Editor::twoSources(int active)
{
    return u"[Settings]\nTopMost=True\n[Tables]\ncount=2\nActiveTable=%1\n"_qs.arg(active)
           + iniEntry(1, u"Slova"_qs, database(), u"Slovnik"_qs, u"slovo"_qs, u"vyznam"_qs)
           + iniEntry(2, u"Jiná"_qs, database(), u"jina"_qs, u"word"_qs, u"meaning"_qs);
}

QStringList Editor::open(const QString &catalogue)
{
    m_w.reset();
    writeIni(ini(), catalogue);
    m_store = std::make_unique<SettingsStore>(ini());
    m_w = std::make_unique<setData>(*m_store, memory);
    return step([this] {
        m_w->show();
        if (!QTest::qWaitForWindowActive(m_w.get()))
            qWarning("the editor did not become active");
        QTRY_VERIFY(!m_w->busy()); // read once the window is up
    });
}

QStringList Editor::step(const std::function<void()> &act)
{
    QStringList texts;
    polling(act, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts << box->text();
            QAbstractButton *b = box->button(answer);
            byDefault = b && box->defaultButton() == b;
            b ? b->click() : box->accept();
        }
    }, 100);
    // A closed window shows nothing.
    const QString differs = m_w->isVisible() ? mismatch() : QString();
    if (!differs.isEmpty())
        QTest::qFail(qPrintable(u"the window does not show the editor's "_qs + differs), __FILE__, __LINE__);
    return texts;
}

QStringList Editor::key(int key, QWidget *to)
{
    return step([=] { QTest::keyClick(to ? to : QApplication::focusWidget(), Qt::Key(key)); });
}

QStringList Editor::type(const QString &text, QWidget *to)
{
    return step([=] { QTest::keyClicks(to ? to : QApplication::focusWidget(), text); });
}

void Editor::openRow(int row)
{
    QTableWidget *values = m_w->grid(1);
    QTest::mouseClick(values->viewport(), Qt::LeftButton, {},
                      values->visualItemRect(values->item(row, 0)).center());
}

QStringList Editor::edit(int row, const QString &text)
{
    openRow(row);
    if (row == DatabaseRow) {
        setOpenDialogForTests([text](QWidget *, const QString &filter, const QString &title, const QString &) {
            return filter.contains(u"*.mdb"_qs) && title == u"Vyber zdroj dat"_qs ? text : QString();
        });
        return step([this] { m_w->browseButton()->click(); });
    }
    QComboBox *box = m_w->combo(row);
    const int at = box->findText(text);
    if (at < 0)
        QTest::qFail(qPrintable(text + u" is not offered"_qs), __FILE__, __LINE__);
    return step([=] {
        box->setCurrentIndex(at);
        emit box->activated(at);
    });
}

bool Editor::close()
{
    bool closed = false;
    step([&] { closed = m_w->close(); });
    return closed;
}

QString Editor::mismatch() const
{
    const CatalogueList &list = m_w->catalogue();
    const Pane &pane = m_w->editor().pane();
    const QListWidget *lines = m_w->list();
    QString differs;
    // The first part the window shows otherwise than the editor holds it.
    auto part = [&](const QString &name, const auto &shown, const auto &held) {
        if (differs.isEmpty() && !(shown == held))
            differs = name + u": "_qs + QDebug::toString(shown) + u" shown, "_qs + QDebug::toString(held) + u" held"_qs;
    };
    part(u"list"_qs, std::pair(lines->count(), lines->currentRow()), std::pair(int(list.lines().size()), list.selectedLine()));
    for (int i = 0; differs.isEmpty() && i < lines->count(); ++i)
        part(u"line %1"_qs.arg(i), std::pair(lines->item(i)->text(), lines->item(i)->checkState() == Qt::Checked),
             std::pair(list.lines()[i].caption, list.lines()[i].checked));
    for (auto a : CatalogueList::Actions)
        part(u"toolbar"_qs, m_w->button(a)->isEnabled(), list.isEnabled(a));
    part(u"title"_qs, std::pair(m_w->titleEditor()->text(), m_w->titleEditor()->isEnabled()),
         std::pair(pane.rows[TitleRow].value, pane.rows[TitleRow].enabled));
    part(u"database"_qs, std::pair(m_w->browseButton()->isEnabled(), m_w->grid(1)->item(DatabaseRow, 0)->toolTip()),
         std::pair(pane.rows[DatabaseRow].enabled, pane.fileTip));
    for (int r = 0; r < PropertyRows; ++r) {
        const PaneRow &row = pane.rows[r];
        part(u"row %1"_qs.arg(r), m_w->valueCell(r), row.value);
        if (QComboBox *box = r >= TableRow ? m_w->combo(r) : nullptr) {
            QStringList items;
            for (int i = 0; i < box->count(); ++i)
                items << box->itemText(i);
            part(u"box %1"_qs.arg(r), std::pair(items, std::pair(box->currentIndex(), box->isEnabled())),
                 std::pair(row.items, std::pair(row.current, row.enabled)));
        }
    }
    return differs;
}

} // namespace testutil
