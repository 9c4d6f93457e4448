#include "OpenSave.h"

#include <QFileDialog>

namespace tarnvik {

namespace {

OpenDialogHook &dialogHook()
{
    static OpenDialogHook hook;
    return hook;
}

QString allFilesEntry() { return QStringLiteral("Všechny soubory (*)"); }

} // namespace

QStringList openDialogFilters(const QString &filter)
{
    QStringList entries;
    QStringList patternsSeen;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString &p : patterns)
            p = p.trimmed();
        patterns.removeAll(QString());
        // An empty part is where the platform's own list ended.
        if (description.isEmpty() || patterns.isEmpty())
            break;
        const QString joined = patterns.join(u' ');
        const QString own = u'(' + joined + u')';
        entries << (description.endsWith(own) ? description : description + u' ' + own);
        patternsSeen << patterns;
    }
    if (patternsSeen.contains(u"*.mdb", Qt::CaseInsensitive)
        && !patternsSeen.contains(u"*.accdb", Qt::CaseInsensitive)) {
        entries.prepend(QStringLiteral("Všechny databáze MS Access (*.mdb *.accdb)"));
        entries << QStringLiteral("Databáze MS Access 2007 (*.accdb)");
    }
    if (!patternsSeen.contains(u"*"))
        entries << allFilesEntry();
    return entries;
}

QString ShowOpenDialog(QWidget *owner, const QString &filter, const QString &title, const QString &initialDir)
{
    const QString filters = openDialogFilters(filter).join(QStringLiteral(";;"));
    if (const OpenDialogHook &hook = dialogHook())
        return hook(owner, filters, title, initialDir);
    // The static dialog accepts only an existing file and gives an absolute path.
    return QFileDialog::getOpenFileName(owner, title, initialDir, filters);
}

void setOpenDialogForTests(OpenDialogHook hook)
{
    dialogHook() = std::move(hook);
}

} // namespace tarnvik
