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
#include <cmath>
#include <string>

#include "util/Formatting.h"
#include "util/MainThread.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace zembra {

namespace {

// The main window the previews keep clear of; set once by the application.
QPointer<QWidget>& PreviewOwner() {
    static QPointer<QWidget> Owner;
    return Owner;
}

constexpr int kPreviewGap = 8;

}  // namespace

// The window itself. Its picture area is fixed when it is made; each picture is painted onto a
// canvas of the first picture's size at the top left corner, so a smaller later picture leaves
// the rest of the earlier one in place, as drawing on a window's canvas does; the canvas is
// shown scaled to the window.
//
// It has no parent widget on purpose: a box the program shows is modal to the main window
// only, and a window parented to that window would be blocked by the box with it, leaving the
// preview's close button dead until the box goes. As a tool window of the program the window
// system still keeps it with the program's windows, not above every other program.
class TPreviewForm : public QWidget {
  public:
    TPreviewForm(std::atomic<bool>& Closed, QSize Picture)
        : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
          FClosed(Closed),
          FCanvas(Picture, QImage::Format_RGB32) {
        FCanvas.fill(palette().color(QPalette::Window));
        setAttribute(Qt::WA_OpaquePaintEvent);
        // The user is at work in another window (or answering a box): the preview must not take
        // the keyboard from it.
        setAttribute(Qt::WA_ShowWithoutActivating);
        QWidget* Owner = PreviewOwner();
        const QScreen* Screen = Owner && Owner->screen() ? Owner->screen() : QGuiApplication::primaryScreen();
        const QRect Area =
            Screen ? Screen->availableGeometry() : QRect(0, 0, Picture.width(), Picture.height());
        setFixedSize(PreviewClientSize(Picture, Area.size()));
        // The frame the window system will add is not known before the window is shown; the
        // main window's is the best guess.
        QMargins Frame;
        QRect OwnerFrame;
        if (Owner && Owner->isVisible()) {
            OwnerFrame = Owner->frameGeometry();
            const QRect Client = Owner->geometry();
            Frame = QMargins(Client.left() - OwnerFrame.left(), Client.top() - OwnerFrame.top(),
                             OwnerFrame.right() - Client.right(), OwnerFrame.bottom() - Client.bottom());
        }
        std::vector<QRect> Taken;
        for (QWidget* Other : QApplication::topLevelWidgets())
            if (Other != this && Other->isVisible() && dynamic_cast<TPreviewForm*>(Other))
                Taken.push_back(Other->frameGeometry());
        move(PlacePreview(Area, OwnerFrame, size().grownBy(Frame), Taken));
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

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter P(this);
        if (FCanvas.size() == size()) {
            P.drawImage(0, 0, FCanvas);
            return;
        }
        P.setRenderHint(QPainter::SmoothPixmapTransform);
        P.drawImage(rect(), FCanvas);
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

QSize PreviewClientSize(QSize Picture, QSize Screen) {
    const QSize Source(std::max(Picture.width(), 1), std::max(Picture.height(), 1));
    const QSize Bound(std::max(Screen.width() / 3, 1), std::max(Screen.height() / 3, 1));
    if (Source.width() <= Bound.width() && Source.height() <= Bound.height()) return Source;
    const double Scale = std::min(static_cast<double>(Bound.width()) / Source.width(),
                                  static_cast<double>(Bound.height()) / Source.height());
    return QSize(std::clamp(static_cast<int>(std::lround(Source.width() * Scale)), 1, Bound.width()),
                 std::clamp(static_cast<int>(std::lround(Source.height() * Scale)), 1, Bound.height()));
}

QPoint PlacePreview(const QRect& Screen, const QRect& Owner, QSize Frame, const std::vector<QRect>& Taken) {
    const int W = Frame.width(), H = Frame.height();
    auto Overlap = [](const QRect& A, const QRect& B) -> long long {
        const QRect I = A.intersected(B);
        return I.isEmpty() ? 0 : static_cast<long long>(I.width()) * I.height();
    };
    auto Covered = [&](const QRect& R) {
        long long Sum = Owner.isEmpty() ? 0 : 4 * Overlap(R, Owner);  // the main window counts most
        for (const QRect& T : Taken) Sum += Overlap(R, T);
        return Sum;
    };
    auto Free = [&](const QPoint& P) {
        const QRect R(P, Frame);
        return Screen.contains(R) && Covered(R) == 0;
    };

    const QPoint Corners[] = {{Screen.right() - W + 1, Screen.top()},
                              {Screen.right() - W + 1, Screen.bottom() - H + 1},
                              {Screen.left(), Screen.bottom() - H + 1},
                              Screen.topLeft()};
    if (!Owner.isEmpty()) {
        // Beside the window, first level with its top, then wherever along that side a place is
        // free of the previews already open.
        std::vector<int> Ys = {Owner.top(), Screen.top(), Screen.bottom() - H + 1};
        std::vector<int> Xs = {Owner.left(), Screen.left(), Screen.right() - W + 1};
        for (const QRect& T : Taken) {
            Ys.push_back(T.bottom() + 1 + kPreviewGap);
            Xs.push_back(T.right() + 1 + kPreviewGap);
        }
        std::sort(Ys.begin() + 1, Ys.end());
        std::sort(Xs.begin() + 1, Xs.end());
        const int Right = Owner.right() + 1 + kPreviewGap, Left = Owner.left() - kPreviewGap - W;
        const int Below = Owner.bottom() + 1 + kPreviewGap, Above = Owner.top() - kPreviewGap - H;
        for (int X : {Right, Left})
            for (int Y : Ys)
                if (Free({X, Y})) return {X, Y};
        for (int Y : {Below, Above})
            for (int X : Xs)
                if (Free({X, Y})) return {X, Y};
    }
    for (const QPoint& C : Corners)
        if (Free(C)) return C;
    // Nowhere is free: the corner that hides least.
    QPoint Best = Corners[0];
    for (const QPoint& C : Corners)
        if (Covered(QRect(C, Frame)) < Covered(QRect(Best, Frame))) Best = C;
    return Best;
}

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
        // A box opened before this window must stay in front of it.
        if (QWidget* Box = QApplication::activeModalWidget()) Box->raise();
    }
    if (!FForm) {
        // Someone else destroyed the window: nothing to show into any more.
        FClosed.store(true);
        return;
    }
    FForm->setWindowTitle(QString::fromStdString(PreviewCaption(FPTS)));
    static_cast<TPreviewForm*>(FForm.data())->Draw(*FPicture);
}

void InstallPreviewerFactory(QWidget* Owner) {
    PreviewOwner() = Owner;
    SetPreviewWindowFactory(
        []() -> std::unique_ptr<IPreviewWindow> { return std::make_unique<TPreviewer>(); });
}

}  // namespace zembra
