#include "DroppedFiles.h"

#include "db/write/Formats.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace tarnvik {

QStringList takeDictionaries(QDropEvent *e)
{
    QStringList files;
    const QMimeData *data = e->mimeData();
    for (const QUrl &url : data && data->hasUrls() ? data->urls() : QList<QUrl>()) {
        if (url.isLocalFile() && !mkdb::formatOf(url.toLocalFile()).isEmpty())
            files << url.toLocalFile();
    }
    if (files.isEmpty())
        e->ignore();
    else
        e->acceptProposedAction();
    return files;
}

} // namespace tarnvik
