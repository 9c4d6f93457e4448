// The result drop-down: a borderless, topmost window without a task-bar
// entry, holding two single-column grids that read as one two-column list.
#pragma once

#include "lookup/Layout.h"

#include <QWidget>

class QTableView;

namespace tarnvik {

class frmCombo : public QWidget
{
    Q_OBJECT
public:
    // Laid out for a Combo1 of the given width in twips.
    explicit frmCombo(double comboWidthTwips, QWidget *parent = nullptr);

    QTableView *grid(int index) const { return m_grid[index]; }

private:
    QTableView *m_grid[2];
    DropDownColumns m_columns;
};

} // namespace tarnvik
