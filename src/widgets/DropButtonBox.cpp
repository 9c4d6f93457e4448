#include "DropButtonBox.h"

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
    p.drawComplexControl(QStyle::CC_ComboBox, opt);
    const QRect face = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    p.fillRect(face, palette().color(QPalette::Button));
    p.drawControl(QStyle::CE_ComboBoxLabel, opt);
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
