// The open-file dialog. Callers describe the file types the way the rest of
// the program's settings and texts do, "description|pattern|description|
// pattern|"; the dialog shows them in Qt's form. Tests replace the dialog so
// that none ever opens a real one.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace tarnvik {

// Lets the user pick one existing file; its full path, or empty text when the
// user cancels.
QString ShowOpenDialog(QWidget *owner, const QString &filter, const QString &title, const QString &initialDir);

// The dialog's filter list for a "description|pattern|..." text. Patterns
// separated by ";" become one entry; a description without its patterns in
// parentheses gets them appended; an empty part ends the list. Where Access
// databases are asked for, Access 2007 files are offered too (the reader opens
// both), with an entry for both kinds first. "Všechny soubory (*)" comes last.
QStringList openDialogFilters(const QString &filter);

// Stands in for the dialog: receives the owner, the filters joined by ";;",
// the title and the initial folder, and returns what the dialog would.
// An empty function restores the real dialog.
using OpenDialogHook =
    std::function<QString(QWidget *owner, const QString &filter, const QString &title, const QString &dir)>;
void setOpenDialogForTests(OpenDialogHook hook);

} // namespace tarnvik
