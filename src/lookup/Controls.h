// The lookup window's small controls: the status lamp and the one-cell grids
// that show the first match over Combo1.
#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

namespace tarnvik {

// Colours are kept as the 0x00BBGGRR values the window is designed with.
QColor fromBgr(unsigned bgr);

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

// One row, one column; the text of its only cell.
class CellGrid : public QLabel
{
    Q_OBJECT
public:
    explicit CellGrid(QWidget *parent = nullptr);
    // A value shown on one line: line breaks become blanks.
    void setCellText(const QString &text);
    QString cellText() const { return m_text; }

signals:
    void pressed(Qt::MouseButton button, QPoint pos);
    void keyPressed(int key);

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    QString m_text;
};

} // namespace tarnvik
