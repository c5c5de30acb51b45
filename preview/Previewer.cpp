#include "preview/Previewer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <string>

#include "util/Formatting.h"
#include "util/MainThread.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace zembra {

// The window itself. Its size is fixed when it is made; each picture is painted onto a
// canvas of that size at the top left corner, so a smaller later picture leaves the rest of the
// earlier one in place, as drawing on a window's canvas does.
class TPreviewForm : public QWidget {
  public:
    TPreviewForm(std::atomic<bool>& Closed, QSize Size)
        : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                               Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
          FClosed(Closed),
          FCanvas(Size, QImage::Format_RGB32) {
        FCanvas.fill(palette().color(QPalette::Window));
        setFixedSize(Size);
        setAttribute(Qt::WA_OpaquePaintEvent);
        if (QScreen* Screen = QGuiApplication::primaryScreen()) {
            const QRect Area = Screen->availableGeometry();
            move(Area.center() - QPoint(Size.width() / 2, Size.height() / 2));
        }
    }

    void Draw(const TBitmap& Picture) {
        if (Picture.Empty()) return;
        const QImage Wrapped(Picture.Bits(), Picture.Width(), Picture.Height(), Picture.Stride(),
                             QImage::Format_BGR888);
        {
            QPainter P(&FCanvas);
            P.drawImage(0, 0, Wrapped);
        }
        update();
    }

    const QImage& Canvas() const { return FCanvas; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter P(this);
        P.drawImage(0, 0, FCanvas);
    }

    void closeEvent(QCloseEvent* Event) override {
        FClosed.store(true);
        Event->accept();
    }

    // The picture is a handle for moving the window, as its caption would be. The window
    // system moves it when it can; otherwise the window follows the mouse itself.
    void mousePressEvent(QMouseEvent* Event) override {
        if (Event->button() != Qt::LeftButton) return QWidget::mousePressEvent(Event);
        Event->accept();
        if (windowHandle() && windowHandle()->startSystemMove()) return;
        FDragging = true;
        FDragOffset = Event->globalPosition().toPoint() - pos();
    }
    void mouseMoveEvent(QMouseEvent* Event) override {
        if (!FDragging || !(Event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(Event);
        move(Event->globalPosition().toPoint() - FDragOffset);
        Event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* Event) override {
        if (Event->button() == Qt::LeftButton) FDragging = false;
        QWidget::mouseReleaseEvent(Event);
    }

  private:
    std::atomic<bool>& FClosed;
    QImage FCanvas;
    bool FDragging = false;
    QPoint FDragOffset;
};

std::string PreviewCaption(int64_t PTS) {
    return PTS == AV_NOPTS_VALUE ? "N/A" : FormatDuration(PTS);
}

TPreviewer::TPreviewer() = default;

TPreviewer::~TPreviewer() {
    if (!FFormCreated) return;
    RunInMainThread([this] {
        // Widgets cannot outlive the application object; past its end the window is gone with
        // the window system connection anyway.
        if (FForm && QCoreApplication::instance()) delete FForm.data();
    });
}

QWidget* TPreviewer::Window() const {
    return FForm;
}

bool TPreviewer::ShowFrame(const TBitmap& Picture, int32_t FrameNumber, int64_t PTS) {
    if (FClosed.load()) return false;
    FPicture = &Picture;
    FFrameNumber = FrameNumber;
    FPTS = PTS;
    RunInMainThread([this] { UpdateWindow(); });
    FPicture = nullptr;
    return !FClosed.load();
}

void TPreviewer::UpdateWindow() {
    if (FClosed.load() || !FPicture) return;
    if (!FFormCreated) {
        // Without an application object there can be no window: preview ends as if closed.
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
            FClosed.store(true);
            return;
        }
        const QSize Size(std::max(FPicture->Width(), 1), std::max(FPicture->Height(), 1));
        FForm = new TPreviewForm(FClosed, Size);
        FFormCreated = true;
        FForm->show();
    }
    if (!FForm) {
        // Someone else destroyed the window: nothing to show into any more.
        FClosed.store(true);
        return;
    }
    FForm->setWindowTitle(QString::fromStdString(PreviewCaption(FPTS)));
    static_cast<TPreviewForm*>(FForm.data())->Draw(*FPicture);
}

void InstallPreviewerFactory() {
    SetPreviewWindowFactory(
        []() -> std::unique_ptr<IPreviewWindow> { return std::make_unique<TPreviewer>(); });
}

}  // namespace zembra
