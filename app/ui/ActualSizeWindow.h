#pragma once

// The preview picture at its real size in a modal window of exactly that client size, titled
// with the size and the time; a click on the picture, Enter or Escape closes it.

#include <QDialog>
#include <QImage>

namespace zembra {

class TActualSizeWindow : public QDialog {
    Q_OBJECT
  public:
    TActualSizeWindow(const QImage& Picture, const QString& PTS, QWidget* Parent = nullptr);

  protected:
    void mouseReleaseEvent(QMouseEvent* Event) override;
};

}  // namespace zembra
