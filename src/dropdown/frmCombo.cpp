#include "frmCombo.h"

#include "lookup/Controls.h"
#include "platform/Metrics.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableView>

namespace tarnvik {

frmCombo::frmCombo(double comboWidthTwips, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmCombo"));
    const Metrics &m = metrics();
    m_columns = dropDownColumns(comboWidthTwips, m);
    for (int i = 0; i < 2; ++i) {
        auto *g = new QTableView(this);
        g->setObjectName(QStringLiteral("grid%1").arg(i));
        g->setModel(&m_model);
        g->setColumnHidden(1 - i, true);
        g->setColumnWidth(i, m.toPixelsX(m_columns.columnWidth[i]));
        g->horizontalHeader()->hide();
        g->verticalHeader()->hide();
        g->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
        g->setSelectionMode(QAbstractItemView::SingleSelection);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        g->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        g->setWordWrap(false);
        g->setTextElideMode(Qt::ElideRight);
        g->setMouseTracking(true);
        // A click chooses; it must not first move the focus, which closes the list.
        g->setFocusPolicy(Qt::TabFocus);
        QPalette pal = g->palette();
        pal.setColor(QPalette::Base, fromBgr(0xC0FFFF));
        g->setPalette(pal);
        m_grid[i] = g;
    }
    // One current row and one scroll position for both columns; setting a
    // value a widget already has emits nothing, so the mirrors do not echo.
    m_grid[1]->setSelectionModel(m_grid[0]->selectionModel());
    for (int i = 0; i < 2; ++i)
        connect(m_grid[i]->verticalScrollBar(), &QScrollBar::valueChanged,
                m_grid[1 - i]->verticalScrollBar(), &QScrollBar::setValue);
    // grid(1) lies over grid(0)'s scroll bar: the two read as one list.
    m_grid[0]->setGeometry(toPixels({0, 0, m_columns.grid0Width, 0}, m));
    m_grid[1]->setGeometry(toPixels({m_columns.grid1Left, 0, m_columns.grid1Width, 0}, m));
    m_grid[1]->raise();
    // Only now: the filter looks at both grids.
    for (QTableView *g : m_grid) {
        g->viewport()->installEventFilter(this);
        g->installEventFilter(this);
    }
}

double frmCombo::rowHeightTwips() const
{
    return m_grid[0]->verticalHeader()->defaultSectionSize() * metrics().TwipsPerPixelY;
}

void frmCombo::place(const DropDownPlacement &p)
{
    const Metrics &m = metrics();
    for (QTableView *g : m_grid)
        g->resize(g->width(), m.toPixelsY(p.gridHeight));
    setGeometry(toPixels(p.window, m));
}

int frmCombo::currentRow() const
{
    return m_grid[0]->selectionModel()->currentIndex().row();
}

void frmCombo::setCurrentRow(int row)
{
    if (row < 0 || row >= rowCount() || row == currentRow())
        return;
    m_grid[0]->selectionModel()->setCurrentIndex(m_model.index(row, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool frmCombo::eventFilter(QObject *watched, QEvent *event)
{
    for (QTableView *g : m_grid) {
        if (watched == g->viewport()) {
            if (event->type() == QEvent::MouseMove) {
                setCurrentRow(g->rowAt(int(static_cast<QMouseEvent *>(event)->position().y())));
            } else if (event->type() == QEvent::MouseButtonPress) {
                const int row = g->rowAt(int(static_cast<QMouseEvent *>(event)->position().y()));
                if (row >= 0)
                    emit chosen(row);
                return true;
            }
        } else if (watched == g) {
            if (event->type() == QEvent::FontChange) {
                // Rows as high as the type needs, as in a combo box's own list.
                g->verticalHeader()->setMinimumSectionSize(1);
                g->verticalHeader()->setDefaultSectionSize(g->fontMetrics().height() + 3);
            } else if (event->type() == QEvent::KeyPress) {
                const int key = static_cast<QKeyEvent *>(event)->key();
                if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                    if (currentRow() >= 0)
                        emit chosen(currentRow());
                    return true;
                }
                if (key == Qt::Key_Escape) {
                    emit dismissed();
                    return true;
                }
            } else if (event->type() == QEvent::FocusOut && isVisible()) {
                // Also when the focus moves to the other column: the list closes.
                emit focusLost(static_cast<QFocusEvent *>(event)->reason() == Qt::ActiveWindowFocusReason);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tarnvik
