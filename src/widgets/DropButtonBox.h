// The box whose button asks for the result list.
#pragma once

#include <QComboBox>
#include <QPalette>
#include <QPixmap>
#include <QStyle>

#include <deque>

namespace tarnvik {

// A box whose own list stays empty: its button and its focus only ask for the
// result drop-down.
class DropButtonBox : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override { emit dropDownRequested(); }
    // The list it asked for has closed: its button is let go (the release
    // went to the list), and unlit where the pointer left meanwhile, which
    // the box never heard while the list held the pointer.
    void listClosed();

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
    void changeEvent(QEvent *e) override;

private:
    // The style's frame and button, drawn once for each look the box takes:
    // its colour changes with nearly every keystroke, and drawing them anew
    // is most of what a keystroke costs.
    struct Frame
    {
        QSize size;
        qreal ratio;
        QStyle::State state;
        QStyle::SubControls active;
        Qt::LayoutDirection direction;
        QPalette palette;
        QPixmap pixmap;
    };
    const QPixmap &frame(const QStyleOptionComboBox &opt);
    std::deque<Frame> m_frames;
};

} // namespace tarnvik
