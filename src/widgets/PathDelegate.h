// Draws a path so that its file name stays whole where the cell is too narrow:
// only the folder is shortened, since the name is what the user looks for.
#pragma once

#include <QStyledItemDelegate>

class QFontMetrics;

namespace tarnvik {

// 'text' is a path, possibly followed by a note without a '/'; the result fits
// 'width' with the folder elided, or, where even the name does not fit, is
// the name cut at its end.
QString elidedPath(const QString &text, const QFontMetrics &fm, int width);

class PathDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};

} // namespace tarnvik
