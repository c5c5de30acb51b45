#include "app/ui/SelectionTrackBar.h"

#include <QPainter>
#include <QPolygon>
#include <QStyle>
#include <QStyleOptionSlider>

namespace zembra {

TSelectionTrackBar::TSelectionTrackBar(QWidget* Parent) : QSlider(Qt::Horizontal, Parent) {
    setTickPosition(QSlider::TicksAbove);
}

void TSelectionTrackBar::SetSelStart(int Position) {
    FSelStart = Position;
    update();
}

void TSelectionTrackBar::SetSelEnd(int Position) {
    FSelEnd = Position;
    update();
}

int TSelectionTrackBar::PixelOf(int Position) const {
    QStyleOptionSlider Option;
    initStyleOption(&Option);
    const QRect Groove = style()->subControlRect(QStyle::CC_Slider, &Option, QStyle::SC_SliderGroove, this);
    const QRect Handle = style()->subControlRect(QStyle::CC_Slider, &Option, QStyle::SC_SliderHandle, this);
    const int Span = Groove.width() - Handle.width();
    return Groove.left() + Handle.width() / 2 +
           QStyle::sliderPositionFromValue(minimum(), maximum(), Position, Span, Option.upsideDown);
}

void TSelectionTrackBar::paintEvent(QPaintEvent* Event) {
    QSlider::paintEvent(Event);
    if (FSelStart == 0 && FSelEnd == 0) return;
    if (maximum() <= minimum()) return;
    QPainter Painter(this);
    Painter.setRenderHint(QPainter::Antialiasing);
    const int Y = height() - 4;
    const int X1 = PixelOf(FSelStart);
    const int X2 = PixelOf(FSelEnd);
    const QColor Band = palette().color(QPalette::Highlight);
    if (FSelEnd > FSelStart) Painter.fillRect(QRect(X1, Y - 1, X2 - X1, 3), Band);
    // A small triangle under each end of the range points up at the groove.
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(palette().color(QPalette::WindowText));
    for (const int X : {X1, X2})
        Painter.drawPolygon(QPolygon({QPoint(X, Y - 5), QPoint(X - 4, Y + 3), QPoint(X + 4, Y + 3)}));
}

}  // namespace zembra
