#include "app/ui/AppIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace zembra {

QImage AppIconImage(int Size) {
    QImage Image(Size, Size, QImage::Format_ARGB32_Premultiplied);
    Image.fill(Qt::transparent);
    QPainter P(&Image);
    P.setRenderHint(QPainter::Antialiasing);
    const qreal S = Size;
    QLinearGradient Fill(0, 0, S, S);
    Fill.setColorAt(0, QColor(0x2a, 0x7a, 0xd8));
    Fill.setColorAt(1, QColor(0x13, 0x3c, 0x7a));
    P.setPen(Qt::NoPen);
    P.setBrush(Fill);
    P.drawRoundedRect(QRectF(0, 0, S, S), S * 0.18, S * 0.18);
    // A wave across the tile, the zigzag of the "Z" drawn as its crest line.
    QPainterPath Wave;
    Wave.moveTo(S * 0.2, S * 0.28);
    Wave.lineTo(S * 0.8, S * 0.28);
    Wave.lineTo(S * 0.2, S * 0.72);
    Wave.lineTo(S * 0.8, S * 0.72);
    P.setPen(QPen(QColor(0xff, 0xb3, 0x1a), S * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    P.setBrush(Qt::NoBrush);
    P.drawPath(Wave);
    return Image;
}

QIcon AppIcon() {
    QIcon Icon;
    for (int Size : {16, 24, 32, 48, 64, 128}) Icon.addPixmap(QPixmap::fromImage(AppIconImage(Size)));
    return Icon;
}

}  // namespace zembra
