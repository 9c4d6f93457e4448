// Files dragged onto a window from a file manager: the dictionary files among
// them (word lists, dictd, StarDict), which the editor imports.
#pragma once

#include <QStringList>

class QMimeData;

namespace tarnvik {

QStringList droppedDictionaries(const QMimeData *data);

} // namespace tarnvik
