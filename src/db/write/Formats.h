// The dictionary files the converter reads, told by their ending; a header of
// its own so that the editor, which only asks, needs no writer.
#pragma once

#include <QFileInfo>
#include <QString>

namespace tarnvik::mkdb {

// "tsv", "csv", "dictd", "stardict", or empty when the ending names no format.
inline QString formatOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"tsv" || suffix == u"tab" || suffix == u"txt")
        return QStringLiteral("tsv");
    if (suffix == u"csv")
        return QStringLiteral("csv");
    if (suffix == u"index")
        return QStringLiteral("dictd");
    if (suffix == u"ifo")
        return QStringLiteral("stardict");
    return QString();
}

} // namespace tarnvik::mkdb
