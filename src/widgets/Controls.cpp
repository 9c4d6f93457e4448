#include "Controls.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QPainter>
#include <QRawFont>
#include <QStyleOptionFrame>
#include <QStylePainter>
#include <QTextLayout>
#include <QValidator>

#include <algorithm>
#include <cmath>

namespace tarnvik {

QColor fromBgr(unsigned bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

QStringView firstLine(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\n' || c == u'\r' || c == u'\u2028' || c == u'\u2029')
            return text.first(i);
    }
    return text;
}

QString sentText(QStringView text)
{
    return firstLine(text.trimmed()).trimmed().toString();
}

InkExtent inkExtent(const QFont &font)
{
    // What reaches furthest from the line in the scripts the sources hold.
    static const QString kFurthest = QStringLiteral("ÁČŮỖẪỸẨgjpqyÇŞ ฟั้ปิ่ที่ฎฏฤฦญุดู");
    static QHash<QString, InkExtent> known; // the windows' few faces, on the one UI thread
    const QString key = font.key();
    if (const auto it = known.constFind(key); it != known.constEnd())
        return *it;
    // The glyphs' own boxes where shaping put them: the font's metrics say
    // nothing of the marks, nor of the faces that stand in for it.
    QTextLayout layout(kFurthest, font);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    const QFontMetricsF fm(font);
    InkExtent e{fm.ascent(), fm.descent()};
    for (const QGlyphRun &run : layout.glyphRuns()) {
        const QRawFont raw = run.rawFont();
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> at = run.positions();
        for (qsizetype i = 0; i < glyphs.size(); ++i) {
            const QRectF box = raw.boundingRect(glyphs[i]).translated(at[i]);
            e.above = std::max(e.above, line.ascent() - box.top());
            e.below = std::max(e.below, box.bottom() - line.ascent());
        }
    }
    known.insert(key, e);
    return e;
}

void drawCellLine(QPainter &p, const QRectF &box, Qt::Alignment alignment, const QString &text)
{
    const InkExtent e = inkExtent(p.font());
    qreal top = box.top() + (box.height() - e.height()) / 2;
    if (alignment & Qt::AlignBottom)
        top = box.bottom() - e.height();
    else if (alignment & Qt::AlignTop)
        top = box.top();
    // In a box too low for it, the marks above the capitals are kept.
    top = std::max(box.top(), top);
    // On a whole device pixel, as text is drawn where nothing moves it.
    const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const qreal baseline = std::round((top + e.above) * dpr) / dpr;
    p.drawText(QPointF(box.left(), baseline), text);
}

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return text.replace(u'\n', u' ').replace(u'\r', u' ');
}

namespace {
// Never between the two halves of a character outside the BMP.
QStringView first(QStringView text, qsizetype n)
{
    if (text.size() <= n)
        return text;
    return text.first(text[n - 1].isHighSurrogate() ? n - 1 : n);
}
} // namespace

QString shownText(QStringView text)
{
    // A cell is a few hundred pixels wide at most.
    return oneLine(first(text, 1000).toString());
}

QString toolTipFor(QStringView text)
{
    constexpr qsizetype kMost = 2000;
    if (text.size() <= 40 && !text.contains(u'\n'))
        return QString();
    return text.size() <= kMost ? text.toString() : first(text, kMost).toString() + u'…';
}

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

CellGrid::CellGrid(QWidget *parent) : QLabel(parent)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, fromBgr(kYellow));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Text));
    setPalette(pal);
    setFocusPolicy(Qt::StrongFocus);
    setIndent(2);
    setTextFormat(Qt::PlainText);
}

void CellGrid::setCellText(const QString &text)
{
    m_text = text;
    setText(shownText(text));
    setToolTip(toolTipFor(text));
}

void CellGrid::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    drawCellLine(p, QRectF(contentsRect()).adjusted(indent(), 0, 0, 0), alignment(), text());
}

void CellGrid::mousePressEvent(QMouseEvent *e)
{
    emit pressed(e->button(), e->position().toPoint());
}

void CellGrid::keyPressEvent(QKeyEvent *e)
{
    if (e->text().isEmpty() && e->key() != Qt::Key_Return && e->key() != Qt::Key_Enter
        && e->key() != Qt::Key_Backspace && e->key() != Qt::Key_Escape) {
        QLabel::keyPressEvent(e);
        return;
    }
    emit keyPressed(e->key());
}

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
