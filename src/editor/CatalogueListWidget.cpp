#include "CatalogueListWidget.h"

#include "editor/CatalogueList.h"
#include "platform/DroppedFiles.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTimer>

namespace tarnvik {

CatalogueListWidget::CatalogueListWidget(CatalogueList &list, QWidget *parent)
    : QListWidget(parent), m_list(list)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Dictionary files from a file manager; the lines themselves never move by dragging.
    setAcceptDrops(true);
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row != m_list.selectedLine()) {
            m_list.lineClicked(row);
            emit acted();
            // The view goes on to select the row it moved to: the list's
            // answer is shown again once it has.
            QTimer::singleShot(0, this, &CatalogueListWidget::showLines);
        }
    });
}

void CatalogueListWidget::showLines()
{
    // The widget only ever shows the catalogue list's state.
    const QSignalBlocker block(this);
    const auto &lines = m_list.lines();
    if (m_list.generation() != m_shownGeneration || count() != lines.size()) {
        m_shownGeneration = m_list.generation();
        clear();
        for (qsizetype i = 0; i < lines.size(); ++i)
            addItem(QString());
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QListWidgetItem *line = item(int(i));
        line->setText(lines[i].caption);
        line->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        line->setCheckState(lines[i].checked ? Qt::Checked : Qt::Unchecked);
    }
    setCurrentRow(m_list.selectedLine());
}

void CatalogueListWidget::toggle(int line)
{
    m_list.lineToggled(line, !m_list.lines()[line].checked);
}

bool CatalogueListWidget::viewportEvent(QEvent *e)
{
    // Clicks are the list's own: a click on a line's box toggles it.
    if (e->type() != QEvent::MouseButtonPress && e->type() != QEvent::MouseButtonDblClick)
        return QListWidget::viewportEvent(e);
    const QPoint pos = static_cast<QMouseEvent *>(e)->position().toPoint();
    if (QListWidgetItem *line = itemAt(pos)) {
        QStyleOptionViewItem opt;
        opt.initFrom(this);
        opt.rect = visualItemRect(line);
        opt.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect box = style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, this);
        if (box.contains(pos))
            toggle(row(line));
        else
            m_list.lineClicked(row(line));
        emit acted();
    }
    return true;
}

void CatalogueListWidget::dragEnterEvent(QDragEnterEvent *e)
{
    takeDictionaries(e);
}

void CatalogueListWidget::dragMoveEvent(QDragMoveEvent *e)
{
    takeDictionaries(e);
}

void CatalogueListWidget::dropEvent(QDropEvent *e)
{
    if (const QStringList files = takeDictionaries(e); !files.isEmpty())
        emit dictionariesDropped(files);
}

void CatalogueListWidget::keyPressEvent(QKeyEvent *e)
{
    if (e->key() != Qt::Key_Space)
        return QListWidget::keyPressEvent(e);
    if (m_list.selectedLine() >= 0)
        toggle(m_list.selectedLine());
    emit acted();
}

} // namespace tarnvik
