// What the data-source editor keeps from one opening to the next within a
// run: the folder of the database last chosen (where the open-file dialog
// starts for an entry without one) and the size the user gave the window.
// Held by whoever opens the editor, for as long as the program runs.
#pragma once

#include <QSize>
#include <QString>

namespace tarnvik {

struct EditorMemory
{
    QString lastFolder;
    QSize size;
};

} // namespace tarnvik
