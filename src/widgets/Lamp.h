// The status lamp: a filled rectangle in its colour.
#pragma once

#include <QColor>
#include <QWidget>

namespace tarnvik {

class Lamp : public QWidget
{
    Q_OBJECT
public:
    explicit Lamp(QWidget *parent = nullptr);
    void setFillColor(const QColor &c);
    QColor fillColor() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_color = Qt::green;
};

} // namespace tarnvik
