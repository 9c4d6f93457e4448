#include "PropertyGrid.h"

#include "editor/PropertyRow.h"
#include "widgets/PathDelegate.h"

#include <QHeaderView>

namespace tarnvik {

PropertyGrid::PropertyGrid(bool values, const QFont &font, QWidget *parent) : QTableWidget(PropertyRows, 1, parent)
{
    setFont(font);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTextElideMode(Qt::ElideMiddle);
    setFocusPolicy(values ? Qt::StrongFocus : Qt::NoFocus);
    setTabKeyNavigation(false);
    setWordWrap(false);
    if (!values)
        return;
    setItemDelegateForRow(DatabaseRow, new PathDelegate(this));
    for (int r = 0; r < PropertyRows; ++r)
        setItem(r, 0, new QTableWidgetItem);
}

} // namespace tarnvik
