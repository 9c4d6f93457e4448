#include "frmCombo.h"

#include "lookup/Controls.h"
#include "lookup/Layout.h"
#include "platform/Metrics.h"

#include <QHeaderView>
#include <QTableView>

namespace tarnvik {

frmCombo::frmCombo(double comboWidthTwips, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmCombo"));
    const Metrics &m = metrics();
    m_columns = dropDownColumns(comboWidthTwips, m);
    const DropDownColumns &cols = m_columns;
    for (int i = 0; i < 2; ++i) {
        auto *g = new QTableView(this);
        g->setObjectName(QStringLiteral("grid%1").arg(i));
        g->horizontalHeader()->hide();
        g->verticalHeader()->hide();
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
        g->setSelectionMode(QAbstractItemView::SingleSelection);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        g->setWordWrap(false);
        QPalette pal = g->palette();
        pal.setColor(QPalette::Base, fromBgr(0xC0FFFF));
        g->setPalette(pal);
        m_grid[i] = g;
    }
    // The left grid's scroll bar lies under the right grid.
    m_grid[0]->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_grid[1]->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    const int height = 1;
    m_grid[0]->setGeometry(toPixels({0, 0, cols.grid0Width, 0}, m).adjusted(0, 0, 0, height));
    m_grid[1]->setGeometry(toPixels({cols.grid1Left, 0, cols.grid1Width, 0}, m).adjusted(0, 0, 0, height));
    m_grid[1]->raise();
}

} // namespace tarnvik
