#include "Text.h"

namespace tarnvik {

namespace {
bool isLineBreak(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == u'\u2028' || c == u'\u2029';
}
} // namespace

QStringView firstLine(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (isLineBreak(text[i].unicode()))
            return text.first(i);
    return text;
}

QString sentText(QStringView text)
{
    return firstLine(text.trimmed()).trimmed().toString();
}

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar &c : text)
        if (isLineBreak(c.unicode()))
            c = u' ';
    return text;
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
    if (text.size() <= 40 && firstLine(text).size() == text.size())
        return QString();
    return text.size() <= kToolTipMost ? text.toString() : first(text, kToolTipMost).toString() + u'…';
}

} // namespace tarnvik
