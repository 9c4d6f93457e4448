// The text box of one line.
#pragma once

#include <QClipboard>
#include <QLineEdit>

namespace tarnvik {

// A text box of one line never holds a line break: a paste (the keys, the
// middle button's selection) takes the pasted text up to its first break,
// as a line-wise copy should paste; text set in any other way (from code,
// dropped) is cut at its first break.
class OneLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit OneLineEdit(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void paintEvent(QPaintEvent *e) override;

private:
    void pasteLine(QClipboard::Mode mode);
};

} // namespace tarnvik
