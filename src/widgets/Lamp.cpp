#include "Lamp.h"

#include <QPainter>

namespace tarnvik {

Lamp::Lamp(QWidget *parent) : QWidget(parent) {}

void Lamp::setFillColor(const QColor &c)
{
    if (c == m_color)
        return;
    m_color = c;
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), m_color);
    p.setPen(QColor(0, 0, 0, 96));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace tarnvik
