#include "frmCombo.h"

#include "platform/Colours.h"
#include "widgets/Paint.h"
#include "platform/Metrics.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>

#include <cmath>

namespace tarnvik {

namespace {

// Rows are painted on the grid's own back colour, so the viewport's colour
// shows only below the last row. The style draws the row, the text is placed
// as the first match's cells place theirs: with room for every mark.
class ColumnDelegate : public QStyledItemDelegate
{
public:
    ColumnDelegate(Qt::Alignment alignment, QObject *parent) : QStyledItemDelegate(parent), m_alignment(alignment) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        painter->fillRect(opt.rect, opt.palette.base());
        QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
        const QRect box = opt.rect.adjusted(margin, 0, -margin, 0);
        const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (opt.state & QStyle::State_Active)                                ? QPalette::Active
                                                                                : QPalette::Inactive;
        painter->save();
        painter->setClipRect(opt.rect);
        painter->setFont(opt.font);
        painter->setPen(opt.palette.color(group, (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText
                                                                                        : QPalette::Text));
        drawCellLine(*painter, box, opt.displayAlignment, opt.fontMetrics.elidedText(text, opt.textElideMode, box.width()));
        painter->restore();
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->displayAlignment = m_alignment;
    }

private:
    Qt::Alignment m_alignment;
};
} // namespace

frmCombo::frmCombo(double comboWidthTwips, QWidget *opener)
    : QWidget(opener->window(), Qt::Popup | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmCombo"));
    const Metrics &m = metrics();
    m_columns = dropDownColumns(comboWidthTwips, m);
    for (int i = 0; i < 2; ++i) {
        auto *g = new QTableView(this);
        g->setObjectName(QStringLiteral("grid%1").arg(i));
        // Over whatever style the desktop uses, not a copy of it.
        g->setStyleSheet(QStringLiteral("QTableView { gridline-color: #c0c0c0; }"));
        g->setModel(&m_model);
        g->setItemDelegate(new ColumnDelegate(i == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignBottom, g));
        g->setColumnHidden(1 - i, true);
        g->setColumnWidth(i, m.toPixelsX(m_columns.columnWidth[i]));
        g->horizontalHeader()->hide();
        g->verticalHeader()->hide();
        g->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
        g->setSelectionMode(QAbstractItemView::SingleSelection);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        // Whole rows at the top, however the list is scrolled.
        g->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
        g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // The right column shows the one scroll bar, at the list's right edge;
        // the left one's would lie under it.
        g->setVerticalScrollBarPolicy(i == 1 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        g->setWordWrap(false);
        g->setTextElideMode(Qt::ElideRight);
        g->setMouseTracking(true);
        // A click chooses; it must not first move the focus, which closes the list.
        g->setFocusPolicy(Qt::TabFocus);
        // Only the focused grid is active, yet both columns show the current
        // row alike; the text in the system's window-text colour throughout.
        QPalette pal = g->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive}) {
            pal.setColor(group, QPalette::Base, fromBgr(kYellow));
            for (auto role : {QPalette::Text, QPalette::Highlight, QPalette::HighlightedText})
                pal.setColor(group, role, pal.color(QPalette::Active, role));
        }
        g->setPalette(pal);
        // Nothing to match the system's application-workspace colour; Dark is
        // the nearest: a grey that sets the empty area apart from the rows.
        g->viewport()->setBackgroundRole(QPalette::Dark);
        m_grid[i] = g;
    }
    m_model.setShown(false);
    // One current row and one scroll position for both columns; setting a
    // value a widget already has emits nothing, so the mirrors do not echo.
    m_grid[1]->setSelectionModel(m_grid[0]->selectionModel());
    for (int i = 0; i < 2; ++i)
        connect(m_grid[i]->verticalScrollBar(), &QScrollBar::valueChanged,
                m_grid[1 - i]->verticalScrollBar(), &QScrollBar::setValue);
    // grid(1) lies over grid(0)'s scroll bar: the two read as one list.
    m_grid[0]->setGeometry(toPixels({0, 0, m_columns.grid0Width, 0}, m));
    m_grid[1]->setGeometry(toPixels({m_columns.grid1Left, 0, m_columns.grid1Width, 0}, m));
    // Column 0's own grid line under grid(1)'s border, whatever the rounding.
    m_grid[0]->setColumnWidth(0, m_grid[1]->x() - m_grid[0]->frameWidth() + 1);
    m_grid[1]->horizontalHeader()->setStretchLastSection(true);
    m_grid[1]->raise();
    // The current row is shown from the start, as a grid's row 0 is.
    connect(&m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (rowCount() > 0)
            setCurrentRow(0);
    });
    // Only now: the filter looks at both grids.
    for (QTableView *g : m_grid) {
        g->viewport()->installEventFilter(this);
        g->installEventFilter(this);
    }
}

double frmCombo::rowHeightTwips() const
{
    return metrics().toTwipsY(m_grid[0]->verticalHeader()->defaultSectionSize());
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
                if (row >= 0) {
                    // The row under the pointer, which the wheel or the keys
                    // may have left without the highlight.
                    setCurrentRow(row);
                    emit chosen(row);
                }
                return true;
            }
        } else if (watched == g) {
            if (event->type() == QEvent::FontChange) {
                // Rows as high as the type needs, as in a combo box's own list.
                g->verticalHeader()->setMinimumSectionSize(1);
                g->verticalHeader()->setDefaultSectionSize(int(std::ceil(inkExtent(g->font()).height())) + 3);
            } else if (event->type() == QEvent::KeyPress) {
                switch (static_cast<QKeyEvent *>(event)->key()) {
                case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_PageUp: case Qt::Key_PageDown:
                    break; // the grid's own
                case Qt::Key_Tab: case Qt::Key_Backtab:
                    // The focus would move to the other column: the list
                    // closes without a choice (the grid would move its cell).
                    emit dismissed();
                    return true;
                default:
                    if (!listKey(*static_cast<QKeyEvent *>(event)))
                        emit keyForText(event);
                    return true;
                }
            } else if (event->type() == QEvent::InputMethod) {
                emit keyForText(event);
                return true;
            } else if (event->type() == QEvent::FocusOut && isVisible()) {
                // Also when the focus moves to the other column: the list closes.
                emit focusLost(static_cast<QFocusEvent *>(event)->reason() == Qt::ActiveWindowFocusReason);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool frmCombo::listKey(const QKeyEvent &key)
{
    if (key.key() == Qt::Key_Menu || (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier)) {
        if (currentRow() >= 0)
            emit menuRequested(currentRow());
        return true;
    }
    switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (currentRow() >= 0) {
            if (key.modifiers() & Qt::ControlModifier)
                emit wholeRowRequested(currentRow());
            else
                emit chosen(currentRow());
        }
        return true;
    case Qt::Key_Escape:
    case Qt::Key_F4:
        emit dismissed();
        return true;
    case Qt::Key_Home:
        setCurrentRow(0);
        return true;
    case Qt::Key_End:
        setCurrentRow(rowCount() - 1);
        return true;
    default:
        return false;
    }
}

void frmCombo::mousePressEvent(QMouseEvent *event)
{
    // The list holds the pointer while it is open: a press anywhere else
    // comes here first. Not every platform hands it on to what lies under
    // it once the list has closed, so the handler does that for its window.
    Outside what = Outside::Replay;
    if (!rect().contains(event->position().toPoint()) && m_outside)
        what = m_outside(event->globalPosition().toPoint(), event->button());
    if (what == Outside::KeepOpen) {
        event->accept();
        return;
    }
    setAttribute(Qt::WA_NoMouseReplay, what == Outside::Handled);
    QWidget::mousePressEvent(event);
}

void frmCombo::setVisible(bool visible)
{
    if (visible && !isVisible()) {
        m_model.setShown(true); // current row 0
        // Opened again on the same matches, on the row it was closed on.
        if (m_closedOn.version == m_model.version())
            setCurrentRow(m_closedOn.row);
    }
    if (!visible && isVisible())
        m_closedOn = {m_model.version(), currentRow()};
    QWidget::setVisible(visible);
    // Hiding a popup hides it again from within: only once it is gone.
    if (!isVisible())
        m_model.setShown(false);
}

void frmCombo::showEvent(QShowEvent *event)
{
    setAttribute(Qt::WA_NoMouseReplay, false);
    QWidget::showEvent(event);
}

void frmCombo::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    emit hidden();
}

} // namespace tarnvik
