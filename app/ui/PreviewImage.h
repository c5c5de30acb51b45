#pragma once

// The dialog's still of the source: a fixed black area into which a picture is drawn at its own
// aspect ratio, margins left black; a click asks for the picture at actual size.

#include <cstdint>

#include <QImage>
#include <QWidget>

#include "util/Bitmap.h"

namespace zembra {

inline constexpr int kPreviewWidth = 220;
inline constexpr int kPreviewHeight = 145;

class TPreviewImage : public QWidget {
    Q_OBJECT
  public:
    explicit TPreviewImage(QWidget* Parent = nullptr);

    void Clear();
    // Nothing is drawn for an empty picture.
    void Draw(const TBitmap& Picture);
    const QImage& Image() const { return FImage; }
    // Pictures drawn since the widget was made, for the benchmark and diagnostics.
    int64_t DrawCount() const { return FDrawCount; }

  signals:
    void Clicked();

  protected:
    void paintEvent(QPaintEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;

  private:
    QImage FImage;
    int64_t FDrawCount = 0;
};

// A deep copy of a bitmap as a QImage (the bitmap's rows are BGR, padded to 4 bytes).
QImage ImageOf(const TBitmap& Picture);

}  // namespace zembra
