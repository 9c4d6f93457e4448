// How the windows paint a cell's text and their designed colours.
#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;
class QPixmap;
class QWidget;

namespace tarnvik {

// A colour from its 0x00BBGGRR value (platform/Colours.h).
QColor fromBgr(unsigned bgr);

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

// A vector picture over the whole widget, drawn at the screen's own pixel
// density so that it stays sharp at 2x; 'cache' keeps it until the size or
// the density changes.
void paintPicture(QWidget *widget, const QString &picture, QPixmap &cache);

} // namespace tarnvik
