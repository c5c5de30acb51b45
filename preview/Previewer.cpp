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
#include <array>
#include <cmath>
#include <optional>
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
        const QRect Placed =
            PlacePreview(Area, OwnerFrame, PreviewClientSize(Picture, Area.size()), Frame, Taken);
        setFixedSize(Placed.size().shrunkBy(Frame));
        move(Placed.topLeft());
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

namespace {

long long OverlapArea(const QRect& A, const QRect& B) {
    const QRect I = A.intersected(B);
    return I.isEmpty() ? 0 : static_cast<long long>(I.width()) * I.height();
}

// How much of the main window (which counts most) and the other previews a frame would hide.
long long CoveredBy(const QRect& R, const QRect& Owner, const std::vector<QRect>& Taken) {
    long long Sum = Owner.isEmpty() ? 0 : 4 * OverlapArea(R, Owner);
    for (const QRect& T : Taken) Sum += OverlapArea(R, T);
    return Sum;
}

std::array<QPoint, 4> Corners(const QRect& Screen, QSize Frame) {
    const int Right = Screen.right() - Frame.width() + 1, Bottom = Screen.bottom() - Frame.height() + 1;
    return {QPoint(Right, Screen.top()), QPoint(Right, Bottom), QPoint(Screen.left(), Bottom),
            Screen.topLeft()};
}

}  // namespace

std::optional<QPoint> FreePreviewPlace(const QRect& Screen, const QRect& Owner, QSize Frame,
                                       const std::vector<QRect>& Taken) {
    const int W = Frame.width(), H = Frame.height();
    auto Free = [&](const QPoint& P) {
        const QRect R(P, Frame);
        return Screen.contains(R) && CoveredBy(R, Owner, Taken) == 0;
    };
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
                if (Free({X, Y})) return QPoint(X, Y);
        for (int Y : {Below, Above})
            for (int X : Xs)
                if (Free({X, Y})) return QPoint(X, Y);
    }
    for (const QPoint& C : Corners(Screen, Frame))
        if (Free(C)) return C;
    return std::nullopt;
}

QRect PlacePreview(const QRect& Screen, const QRect& Owner, QSize Client, const QMargins& Frame,
                   const std::vector<QRect>& Taken) {
    // A somewhat smaller picture beside the window beats a bigger one over it.
    for (int Percent = 100; Percent >= 50; Percent -= 5) {
        const QSize Scaled(std::max(1, static_cast<int>(std::lround(Client.width() * Percent / 100.0))),
                           std::max(1, static_cast<int>(std::lround(Client.height() * Percent / 100.0))));
        const QSize Size = Scaled.grownBy(Frame);
        if (const std::optional<QPoint> At = FreePreviewPlace(Screen, Owner, Size, Taken))
            return QRect(*At, Size);
    }
    // Nowhere is free: the corner that hides least.
    const QSize Size = Client.grownBy(Frame);
    QPoint Best = Corners(Screen, Size)[0];
    for (const QPoint& C : Corners(Screen, Size))
        if (CoveredBy(QRect(C, Size), Owner, Taken) < CoveredBy(QRect(Best, Size), Owner, Taken)) Best = C;
    return QRect(Best, Size);
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
