// Helpers for tests that drive the real windows.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace testutil {

// How long a test waits for a source to be read. The reader runs at low
// priority, so on a loaded machine it may take many times its usual second.
constexpr int kReadWaitMs = 60000;

// A modal dialog of Qt's (a message box, a file dialog) still up after this
// long fails the test and is closed, unless the test has set kHeldByTest on it.
constexpr int kUnansweredMs = 3000;
constexpr char kHeldByTest[] = "heldByTest";

// Runs 'action' while 'poll' is called every 10 ms (modal boxes and menus run
// their own event loops), then lets events run for 'settleMs'.
void polling(const std::function<void()> &action, const std::function<void()> &poll, int settleMs);

// The pop-up (other than 'except') that 'action' opened, closed again; null if none.
QWidget *menuOpenedBy(const std::function<void()> &action, QWidget *except = nullptr, int settleMs = 50);

// Answers the message boxes that come up while 'action' runs and the events
// after it; returns their texts.
QStringList answeringBoxes(const std::function<void()> &action);

// Writes a settings file, making its folder.
void writeIni(const QString &path, const QString &text);

// Catalogue entry n's lines for a settings file.
QString iniEntry(int n, const QString &title, const QString &file, const QString &table = QStringLiteral("Slova"),
                 const QString &in = QStringLiteral("slovo"), const QString &out = QStringLiteral("vyznam"));

} // namespace testutil
