// The one-cell grids that show the first match over Combo1.
#pragma once

#include <QLabel>

class QKeyEvent;

namespace tarnvik {

// One row, one column; the text of its only cell.
class CellGrid : public QLabel
{
    Q_OBJECT
public:
    explicit CellGrid(QWidget *parent = nullptr);
    void setCellText(const QString &text);
    QString cellText() const { return m_text; }

signals:
    void pressed(Qt::MouseButton button, QPoint pos);
    void keyPressed(QKeyEvent *e);

protected:
    // A label that takes the focus lays its text out as a document and cuts
    // it off at the top of the line, which takes the accents off capitals.
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    QString m_text;
};

} // namespace tarnvik
