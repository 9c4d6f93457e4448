// Files dragged onto a window from a file manager: the dictionary files among
// them (word lists, dictd, StarDict), which the editor imports.
#pragma once

#include <QStringList>

class QDropEvent;

namespace tarnvik {

// Accepts a drag (entering, moving) or a drop that carries dictionary files
// and ignores any other; the files.
QStringList takeDictionaries(QDropEvent *e);

} // namespace tarnvik
