#include "Controls.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace tarnvik {

QColor fromBgr(unsigned bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
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
    pal.setColor(QPalette::Window, fromBgr(0xC0FFFF));
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

void DropButtonBox::focusInEvent(QFocusEvent *e)
{
    QComboBox::focusInEvent(e);
    const Qt::FocusReason r = e->reason();
    if (r == Qt::MouseFocusReason || r == Qt::TabFocusReason || r == Qt::BacktabFocusReason)
        emit gotFocus();
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
