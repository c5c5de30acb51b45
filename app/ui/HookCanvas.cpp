#include "app/ui/HookCanvas.h"

#include <QFont>
#include <QPainter>

namespace zembra {

void DrawCustomHookStep(TBitmap& Bitmap, const TCustomHookStep& Step, const QImage& Icon) {
    if (Bitmap.Empty()) return;
    if (!Step.Text.empty() || Step.DrawIcon) {
        // The image borrows the bitmap's memory: what is painted lands in the frame.
        QImage Canvas(Bitmap.Bits(), Bitmap.Width(), Bitmap.Height(), Bitmap.Stride(), QImage::Format_BGR888);
        QPainter P(&Canvas);
        if (!Step.Text.empty()) {
            QFont Font("Tahoma");
            Font.setStyleHint(QFont::SansSerif);
            Font.setPixelSize(Step.Font.Size * 96 / 72);  // points on a 96 dpi canvas
            Font.setBold(Step.Font.Bold);
            Font.setUnderline(Step.Font.Underline);
            P.setFont(Font);
            P.setPen(QColor::fromRgb(Step.Font.Colour));
            P.drawText(QRect(10, 10, Bitmap.Width(), Bitmap.Height()), Qt::AlignLeft | Qt::AlignTop,
                       QString::fromStdString(Step.Text));
        }
        if (Step.DrawIcon && !Icon.isNull())
            P.drawImage(Bitmap.Width() - Icon.width() - 10, Bitmap.Height() - Icon.height() - 10, Icon);
    }
    if (Step.Flip == TFlip::Vertical) FlipVertically(Bitmap);
    if (Step.Flip == TFlip::Horizontal) FlipHorizontally(Bitmap);
}

}  // namespace zembra
