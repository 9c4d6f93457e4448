// What a key does in the editor's pane, by where it is pressed: a value
// changes only by an explicit pick, and the arrows walk the rows.
#pragma once

#include <QStringView>
#include <Qt>

namespace tarnvik {

enum class PanePart { Rows, Title, Browse, ClosedChoice, OpenChoice, Other };

enum class PaneKey {
    Own,        // what the widget itself does with it
    Nothing,    // dropped: it would change a choice unseen
    ToRows,     // the rows take the keys, this one first
    OpenChoice, // the choice's list opens and looks up what was typed
    OpenEditor, // the row's editor opens
    Abandon,    // the edit is abandoned; the keys go back to the rows
    KeepTitle,  // the title typed is kept; the keys go back to the rows
    Browse,     // the open-file dialog
    BackToRows, // the keys go back to the rows
    FirstRow,   // Home in the rows (the grid's own goes to the first column)
    LastRow,    // End in the rows
};

PaneKey paneKey(PanePart part, int key, Qt::KeyboardModifiers modifiers, QStringView text);

} // namespace tarnvik
