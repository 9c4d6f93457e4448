#include "DropButtonBox.h"

#include <QApplication>
#include <QCursor>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QStylePainter>

namespace tarnvik {

void DropButtonBox::focusInEvent(QFocusEvent *e)
{
    QComboBox::focusInEvent(e);
    const Qt::FocusReason r = e->reason();
    if (r == Qt::MouseFocusReason || r == Qt::TabFocusReason || r == Qt::BacktabFocusReason)
        emit gotFocus();
}

void DropButtonBox::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    p.drawPixmap(opt.rect.topLeft(), frame(opt));
    const QRect face = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    p.fillRect(face, palette().color(QPalette::Button));
    p.drawControl(QStyle::CE_ComboBoxLabel, opt);
}

const QPixmap &DropButtonBox::frame(const QStyleOptionComboBox &opt)
{
    const qreal ratio = devicePixelRatio();
    for (const Frame &f : m_frames)
        if (f.size == opt.rect.size() && f.ratio == ratio && f.state == opt.state
            && f.active == opt.activeSubControls && f.direction == opt.direction && f.palette == opt.palette)
            return f.pixmap;
    // A few looks: a match, none, one without marks, each with and without focus.
    if (m_frames.size() == 8)
        m_frames.pop_front();
    QPixmap pixmap(opt.rect.size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QStyleOptionComboBox at = opt;
    at.rect.moveTopLeft(QPoint(0, 0));
    style()->drawComplexControl(QStyle::CC_ComboBox, &at, &painter, this);
    painter.end();
    return m_frames.emplace_back(Frame{opt.rect.size(), ratio, opt.state, opt.activeSubControls, opt.direction,
                                       opt.palette, pixmap})
        .pixmap;
}

void DropButtonBox::listClosed()
{
    QComboBox::hidePopup();
    if (!underMouse() || rect().contains(mapFromGlobal(QCursor::pos())))
        return;
    setAttribute(Qt::WA_UnderMouse, false);
    const QPointF away(-1, -1);
    QHoverEvent leave(QEvent::HoverLeave, away, mapToGlobal(away), away);
    QApplication::sendEvent(this, &leave);
    update();
}

void DropButtonBox::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::StyleChange)
        m_frames.clear();
    QComboBox::changeEvent(e);
}

void DropButtonBox::mousePressEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton)
        QComboBox::mousePressEvent(e);
    e->accept();
}

void DropButtonBox::mouseMoveEvent(QMouseEvent *e)
{
    QComboBox::mouseMoveEvent(e);
    e->accept();
}

void DropButtonBox::mouseReleaseEvent(QMouseEvent *e)
{
    QComboBox::mouseReleaseEvent(e);
    e->accept();
}

} // namespace tarnvik
