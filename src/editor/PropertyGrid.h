// One column of the editor's pane: the rows' captions, or their values,
// which the keyboard walks.
#pragma once

#include <QTableWidget>

namespace tarnvik {

class PropertyGrid : public QTableWidget
{
public:
    PropertyGrid(bool values, const QFont &font, QWidget *parent);
};

} // namespace tarnvik
