// The look-up strip on a catalogue of its own, with its controls by name; and
// the real program started on a home folder of its own.
#pragma once

#include "TestUtil.h"
#include "WindowTestUtil.h"
#include "lookup/StripSession.h"
#include "lookup/frmDict.h"
#include "widgets/CellGrid.h"
#include "widgets/Lamp.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <memory>

class QAction;

namespace testutil {

// A table (slovo, vyznam) of these pairs, made by tarnvik-mkdb.
void makeDatabase(const QString &path, const std::vector<Row> &rows, const QString &table = QStringLiteral("Slova"));

// A catalogue of one source, Slova of 'file', after these [Settings] lines.
QString oneSource(const QString &file, const QString &settings = QStringLiteral("TopMost=False\n"));

// The window menu's command of that name (its member's): "mnuData"
// ("Nastavení..."), "mnuTopMost" ("Vždy navrchu"), "mnuAbout" ("O aplikaci...")
// or "mnuEnd" ("Konec").
QAction *windowCommand(const tarnvik::frmDict &w, const char *name);

class Strip
{
public:
    enum class Wait { None, Exposed, Active };

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString ini() const { return path(QStringLiteral("TVK/TVK.ini")); }

    // Writes the catalogue (unless empty) and starts a new window on it.
    void start(const QString &catalogue, Wait wait = Wait::Active);
    void startOn(const QString &file, Wait wait = Wait::Active) { start(oneSource(file), wait); }
    void close() { m_w.reset(); }

    tarnvik::frmDict *operator->() const { return m_w.get(); }
    tarnvik::frmDict &window() const { return *m_w; }
    tarnvik::SettingsStore &store() const { return *m_store; }

    // The strip's controls, by name.
    QLineEdit *text1() const { return m_w->findChild<QLineEdit *>(QStringLiteral("Text1")); }
    QComboBox *combo1() const { return m_w->findChild<QComboBox *>(QStringLiteral("Combo1")); }
    tarnvik::CellGrid *gridd(int i) const { return m_w->findChild<tarnvik::CellGrid *>(QStringLiteral("gridd%1").arg(i)); }
    tarnvik::Lamp *lamp() const { return m_w->findChild<tarnvik::Lamp *>(QStringLiteral("Shape1")); }
    QAction *settingsAction() const { return windowCommand(*m_w, "mnuData"); }
    QAction *topMostAction() const { return windowCommand(*m_w, "mnuTopMost"); }
    QAction *aboutAction() const { return windowCommand(*m_w, "mnuAbout"); }
    QAction *quitAction() const { return windowCommand(*m_w, "mnuEnd"); }
    // The source menu's entry i.
    QAction *source(int i) const { return m_w->sourceMenu()->actions().at(i); }

    // Typed, and looked up once the source is read (in the background).
    void type(const QString &text);
    void settle() const { QTRY_VERIFY_WITH_TIMEOUT(!m_w->data1().preparing(), kReadWaitMs); }
    // Combo1 in the colour of a match.
    bool matching() const { return combo1()->palette().color(QPalette::Base) == QColor(0xFF, 0xFF, 0xC0); }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<tarnvik::SettingsStore> m_store;
    std::unique_ptr<tarnvik::frmDict> m_w;
};

// The real program's environment on 'root': its settings, cache and runtime
// folders (the runtime folder may be shared to meet another copy).
QProcessEnvironment programEnv(const QString &root, const QString &runtime = QString());
inline QString programIni(const QString &root) { return root + QStringLiteral("/config/TVK/TVK.ini"); }
// Starts the real program; false if it did not start.
bool startProgram(QProcess &program, const QProcessEnvironment &env, const QStringList &args = {});

// The box beside the text is light red while the text matches nothing (also
// while it is empty): seen from outside, the look-up answering typed keys.
int lightRedPixels(WId window);

// xdotool run to its end.
Run xdotool(const QStringList &args);
// The same as a step of a test: its failure fails it; then events run for 'settleMs'.
void xdo(const QStringList &args, int settleMs = 0);
// Gives each character of 'text' the keyboard lacks a free key of its own, for
// good: xdotool would bind one just for the moment it types it, and a program
// a moment late reads the key unbound again and loses the character.
bool keysFor(const QString &text);
// The visible windows xdotool finds by these search arguments.
QStringList findWindows(const QStringList &what);
// Another program's window (xmessage, given these arguments), for the user to
// work in: active; empty if it did not come up.
QString otherProgramsWindow(QProcess &other, const QStringList &args = {QStringLiteral("-center")});

} // namespace testutil
