// The box whose button asks for the result list.
#pragma once

#include <QComboBox>

namespace tarnvik {

// A box whose own list stays empty: its button and its focus only ask for the
// result drop-down.
class DropButtonBox : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override { emit dropDownRequested(); }

signals:
    void dropDownRequested();
    // Only a click or Tab counts: focus handed back by a closing list, menu,
    // dialog or window activation is no request to open the list.
    void gotFocus();

protected:
    void focusInEvent(QFocusEvent *e) override;
    // Its face flat in its colour: the style's shading would turn the light
    // red that says "no match" into a pale pink.
    void paintEvent(QPaintEvent *e) override;
    // The box is no part of the window's surface: no press or move on it
    // reaches the window (no menu there, no drag).
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
};

} // namespace tarnvik
