// Small controls the windows share: the status lamp, the one-cell grids that
// show the first match over Combo1, the box whose button asks for the result
// list, and the designed colours and value texts.
#pragma once

#include <QColor>
#include <QComboBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

class QPainter;

namespace tarnvik {

// A value on one line: line breaks become blanks.
QString oneLine(QString text);
// What a cell draws of a value: its start, more than any cell is wide, on
// one line. A value may be a memo of megabytes, and laying all of it out on
// every paint held the window for a second; copying takes the whole value.
QString shownText(QStringView text);
// The value as a tool tip, where one line may not show all of it (a very
// long one cut short, marked "…"); else empty.
QString toolTipFor(QStringView text);

// The text up to its first line break ("\n", "\r\n", "\r", U+2028, U+2029).
QStringView firstLine(QStringView text);
// What text sent from outside (the selection, the clipboard, the command
// line) looks up: its first line with text in it, without the blanks, tabs
// and line breaks around it that a double-click or a copied cell brings along.
// Typed and pasted text keeps its blanks.
QString sentText(QStringView text);

// Colours are kept as the 0x00BBGGRR values the window is designed with.
QColor fromBgr(unsigned bgr);
// The light yellow of the text box, Combo1, the first match and the list.
constexpr unsigned kYellow = 0xC0FFFF;
// Light blue: found, but only with case and diacritics ignored.
constexpr unsigned kLightBlue = 0xFFE0B0;

// How far the type reaches above and below the baseline: the face's ascent
// and descent, or further where its accents on capitals, stacked accents or
// Thai marks (in whichever face draws them) go past them. Some faces (Wine's
// Tahoma) give an ascent below their own capitals' accents.
struct InkExtent
{
    qreal above = 0, below = 0;
    qreal height() const { return above + below; }
};
InkExtent inkExtent(const QFont &font);

// One line of a cell, from the box's left edge, placed by the vertical
// alignment as if it were as tall as inkExtent, so no mark leaves the box.
void drawCellLine(QPainter &p, const QRectF &box, Qt::Alignment alignment, const QString &text);

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
    void setCellText(const QString &text);
    QString cellText() const { return m_text; }

signals:
    void pressed(Qt::MouseButton button, QPoint pos);
    void keyPressed(int key);

protected:
    // A label that takes the focus lays its text out as a document and cuts
    // it off at the top of the line, which takes the accents off capitals.
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    QString m_text;
};

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
