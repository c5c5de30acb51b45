#include "app/ui/PreviewImage.h"

#include <QMouseEvent>
#include <QPainter>

#include "app/TrackBar.h"

namespace zembra {

QImage ImageOf(const TBitmap& Picture) {
    if (Picture.Empty()) return {};
    const QImage View(Picture.Bits(), Picture.Width(), Picture.Height(), Picture.Stride(),
                      QImage::Format_BGR888);
    return View.copy();
}

TPreviewImage::TPreviewImage(QWidget* Parent)
    : QWidget(Parent), FImage(kPreviewWidth, kPreviewHeight, QImage::Format_RGB888) {
    setFixedSize(kPreviewWidth, kPreviewHeight);
    setCursor(Qt::PointingHandCursor);
    FImage.fill(Qt::black);
}

void TPreviewImage::Clear() {
    FImage.fill(Qt::black);
    update();
}

void TPreviewImage::Draw(const TBitmap& Picture) {
    if (Picture.Empty()) return;
    const TFitRect R = AspectFit(Picture.Width(), Picture.Height(), FImage.width(), FImage.height());
    const QImage View(Picture.Bits(), Picture.Width(), Picture.Height(), Picture.Stride(),
                      QImage::Format_BGR888);
    QPainter Painter(&FImage);
    Painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Painter.drawImage(QRect(R.Left, R.Top, R.Width, R.Height), View);
    Painter.end();
    ++FDrawCount;
    update();
}

void TPreviewImage::paintEvent(QPaintEvent*) {
    QPainter Painter(this);
    Painter.drawImage(0, 0, FImage);
}

void TPreviewImage::mouseReleaseEvent(QMouseEvent* Event) {
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint())) emit Clicked();
    QWidget::mouseReleaseEvent(Event);
}

}  // namespace zembra
