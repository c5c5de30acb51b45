#pragma once

// A horizontal slider that also shows a selection range, drawn as a band along the groove with
// a mark at each end (Qt's slider has no selection of its own). The marks are the cut range.

#include <QSlider>

namespace zembra {

class TSelectionTrackBar : public QSlider {
    Q_OBJECT
  public:
    explicit TSelectionTrackBar(QWidget* Parent = nullptr);

    int SelStart() const { return FSelStart; }
    int SelEnd() const { return FSelEnd; }
    void SetSelStart(int Position);
    void SetSelEnd(int Position);

  protected:
    void paintEvent(QPaintEvent* Event) override;

  private:
    // The x coordinate of a position's centre on the groove.
    int PixelOf(int Position) const;

    int FSelStart = 0;
    int FSelEnd = 0;
};

}  // namespace zembra
