#include "DroppedFiles.h"

#include "db/write/Formats.h"

#include <QMimeData>
#include <QUrl>

namespace tarnvik {

QStringList droppedDictionaries(const QMimeData *data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile() && !mkdb::formatOf(url.toLocalFile()).isEmpty())
            files << url.toLocalFile();
    }
    return files;
}

} // namespace tarnvik
