#include "OneLineEdit.h"

#include "platform/Text.h"
#include "widgets/Paint.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFrame>
#include <QTextLayout>
#include <QValidator>

#include <algorithm>

namespace tarnvik {

namespace {
// Never Invalid: that would undo the whole change and lose what was pasted.
class FirstLineOnly : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override
    {
        const qsizetype n = firstLine(input).size();
        if (n < input.size()) {
            input.truncate(n);
            pos = std::min(pos, int(n));
        }
        return Acceptable;
    }
};
} // namespace

OneLineEdit::OneLineEdit(QWidget *parent) : QLineEdit(parent)
{
    setValidator(new FirstLineOnly(this));
}

void OneLineEdit::keyPressEvent(QKeyEvent *e)
{
    if (e == QKeySequence::Paste && !isReadOnly()) {
        // As QLineEdit has it: Ctrl+Shift+Insert pastes the selection under X11.
        const bool selection = QGuiApplication::platformName() == u"xcb"
            && e->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier) && e->key() == Qt::Key_Insert;
        pasteLine(selection ? QClipboard::Selection : QClipboard::Clipboard);
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void OneLineEdit::mouseReleaseEvent(QMouseEvent *e)
{
    if (e->button() == Qt::MiddleButton && !isReadOnly() && QGuiApplication::clipboard()->supportsSelection()) {
        deselect();
        pasteLine(QClipboard::Selection);
        e->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(e);
}

void OneLineEdit::paintEvent(QPaintEvent *e)
{
    QLineEdit::paintEvent(e);
    if (!hasSelectedText() || echoMode() != Normal)
        return;
    // With a selection, Qt draws the text only within the face's line, and
    // some faces (Wine's Tahoma) put the accents of capitals above it: they
    // are drawn here, on the selection reaching up to them where selected.
    const QRect line = cursorRect();
    const qreal above = inkExtent(font()).above - QFontMetricsF(font()).ascent();
    if (above <= 0)
        return;
    QTextLayout layout(displayText(), font());
    layout.beginLayout();
    const QTextLine l = layout.createLine();
    layout.endLayout();
    const qreal origin = line.center().x() + 1 - l.cursorToX(cursorPosition());
    const qreal from = origin + l.cursorToX(selectionStart()), to = origin + l.cursorToX(selectionEnd());
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
    const QRectF band(contents.left(), line.top() - above, contents.width(), above);
    const QRectF selected(from, band.top(), to - from, above);
    const QPalette::ColorGroup group = hasFocus() || isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    QPainter p(this);
    QRegion unselected = QRegion(band.toAlignedRect()) - QRegion(selected.toAlignedRect());
    p.setClipRegion(unselected & contents);
    p.setPen(palette().color(group, QPalette::Text));
    layout.draw(&p, QPointF(origin, line.top()));
    p.setClipRect(contents & selected.toAlignedRect());
    p.fillRect(selected, palette().brush(group, QPalette::Highlight));
    p.setPen(palette().color(group, QPalette::HighlightedText));
    layout.draw(&p, QPointF(origin, line.top()));
}

void OneLineEdit::pasteLine(QClipboard::Mode mode)
{
    const QString clip = QGuiApplication::clipboard()->text(mode);
    if (!clip.isEmpty() || hasSelectedText())
        insert(firstLine(clip).toString());
}

} // namespace tarnvik
