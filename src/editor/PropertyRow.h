// The rows of the editor's property pane, top to bottom. The numbers are the
// rows' indexes in the pane's grids and in the catalogue list's calls.
#pragma once

namespace tarnvik {

enum PropertyRow : int {
    TitleRow = 0,
    DatabaseRow = 1,
    TableRow = 2,
    InputFieldRow = 3,
    InputCharsetRow = 4,
    OutputFieldRow = 5,
    OutputCharsetRow = 6,
};

} // namespace tarnvik
