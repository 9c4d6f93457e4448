#include "PathDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStyle>

namespace tarnvik {

QString elidedPath(const QString &text, const QFontMetrics &fm, int width)
{
    if (fm.horizontalAdvance(text) <= width)
        return text;
    const qsizetype slash = text.lastIndexOf(u'/');
    const QString name = text.mid(slash + 1);
    const int room = width - fm.horizontalAdvance(name);
    if (slash < 0 || room < fm.horizontalAdvance(QStringLiteral("…/")))
        return fm.elidedText(name, Qt::ElideRight, width);
    return fm.elidedText(text.left(slash), Qt::ElideMiddle, room - fm.horizontalAdvance(u'/')) + u'/' + name;
}

void PathDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QStyle *style = option->widget ? option->widget->style() : QApplication::style();
    // The margin the style keeps on each side of an item's text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option->widget) + 1;
    option->text = elidedPath(option->text, option->fontMetrics, option->rect.width() - 2 * margin);
}

} // namespace tarnvik
