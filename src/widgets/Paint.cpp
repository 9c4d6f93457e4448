#include "Paint.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QPainter>
#include <QRawFont>
#include <QSvgRenderer>
#include <QTextLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace tarnvik {

QColor fromBgr(unsigned bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
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

void paintPicture(QWidget *widget, const QString &picture, QPixmap &cache)
{
    const qreal dpr = widget->devicePixelRatioF();
    const QSize size = widget->size();
    if (cache.size() != size * dpr || cache.devicePixelRatio() != dpr) {
        QSvgRenderer renderer(picture);
        cache = QPixmap(size * dpr);
        cache.setDevicePixelRatio(dpr);
        QPainter paint(&cache);
        renderer.render(&paint, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    QPainter(widget).drawPixmap(0, 0, cache);
}

} // namespace tarnvik
