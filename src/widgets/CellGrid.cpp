#include "CellGrid.h"

#include "platform/Colours.h"
#include "platform/Text.h"
#include "widgets/Paint.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace tarnvik {

CellGrid::CellGrid(QWidget *parent) : QLabel(parent)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, fromBgr(kYellow));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Text));
    setPalette(pal);
    setFocusPolicy(Qt::StrongFocus);
    setIndent(2);
    setTextFormat(Qt::PlainText);
}

void CellGrid::setCellText(const QString &text)
{
    m_text = text;
    setText(shownText(text));
    setToolTip(toolTipFor(text));
}

void CellGrid::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    drawCellLine(p, QRectF(contentsRect()).adjusted(indent(), 0, 0, 0), alignment(), text());
    // Reached by Tab, it says it has the keys, as any control does.
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

void CellGrid::mousePressEvent(QMouseEvent *e)
{
    emit pressed(e->button(), e->position().toPoint());
}

void CellGrid::keyPressEvent(QKeyEvent *e)
{
    if (e->text().isEmpty() && e->key() != Qt::Key_Return && e->key() != Qt::Key_Enter
        && e->key() != Qt::Key_Backspace && e->key() != Qt::Key_Escape) {
        QLabel::keyPressEvent(e);
        return;
    }
    emit keyPressed(e);
}

} // namespace tarnvik
