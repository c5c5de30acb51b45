#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>
#include <thread>

#include "engine/PreviewWindow.h"
#include "preview/Previewer.h"
#include "util/MainThread.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace zembra {
namespace {

using namespace std::chrono_literals;

// One application object for the whole program, on the offscreen platform unless told otherwise.
class TQtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int ArgCount = 1;
        static char Name[] = "preview_tests";
        static char* Args[] = {Name, nullptr};
        FApp = std::make_unique<QApplication>(ArgCount, Args);
    }
    void TearDown() override { FApp.reset(); }

  private:
    std::unique_ptr<QApplication> FApp;
};
const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

TBitmap Filled(int W, int H, uint8_t B, uint8_t G, uint8_t R) {
    TBitmap Bitmap(W, H);
    Bitmap.Fill(B, G, R);
    return Bitmap;
}

QColor PixelOf(QWidget* W, int X, int Y) {
    return W->grab().toImage().pixelColor(X, Y);
}

constexpr int64_t kOneHourTwoMinutes = ((1 * 60 + 2) * 60 + 3) * 1000000LL + 456000;  // 01:02:03.456

TEST(Previewer, FirstPictureOpensAToolWindowOfTheProgramTitledWithItsTime) {
    TPreviewer P;
    EXPECT_EQ(P.Window(), nullptr);
    const TBitmap Picture = Filled(160, 120, 10, 20, 200);
    ASSERT_TRUE(P.ShowFrame(Picture, 1, kOneHourTwoMinutes));
    QWidget* W = P.Window();
    ASSERT_NE(W, nullptr);
    EXPECT_TRUE(W->isVisible());
    EXPECT_EQ(W->windowTitle(), "01:02:03.456");
    EXPECT_EQ(W->size(), QSize(160, 120));
    // Not above every other program, and without a parent that a box could block it through.
    EXPECT_FALSE(W->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(W->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_EQ(W->parentWidget(), nullptr);
    EXPECT_TRUE(W->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(W->windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(P.FrameNumber(), 1);
}

TEST(Previewer, ClientSizeFitsAThirdOfTheScreenKeepingTheShape) {
    struct TCase {
        QSize Picture, Screen, Expected;
    } const Cases[] = {
        {{1280, 720}, {1600, 1000}, {533, 300}},  // a 720p film on the test desktop
        {{1920, 1080}, {3840, 2160}, {1280, 720}},
        {{720, 1280}, {1600, 1000}, {187, 333}},  // upright: the height bounds it
        {{320, 240}, {1600, 1000}, {320, 240}},   // small pictures are not enlarged
        {{533, 300}, {1600, 1000}, {533, 300}},   // exactly the bound
        {{4000, 10}, {1600, 1000}, {533, 1}},     // a sliver keeps a visible row
        {{0, 0}, {1600, 1000}, {1, 1}},
    };
    for (const TCase& C : Cases)
        EXPECT_EQ(PreviewClientSize(C.Picture, C.Screen), C.Expected)
            << C.Picture.width() << "x" << C.Picture.height();
}

TEST(Previewer, PlacedBesideTheWindowWhereTheScreenHasRoom) {
    const QRect Screen(0, 0, 1600, 1000);
    const QSize Frame(540, 330);
    struct TCase {
        const char* What;
        QRect Owner;
        std::vector<QRect> Taken;
        std::optional<QPoint> Expected;
    } const Cases[] = {
        {"room on the right", QRect(100, 50, 730, 440), {}, QPoint(838, 50)},
        {"room on the left only", QRect(700, 50, 730, 440), {}, QPoint(152, 50)},
        {"a second preview goes under the first",
         QRect(100, 50, 730, 440),
         {QRect(838, 50, 540, 330)},
         QPoint(838, 388)},
        {"the window spans the width: below it", QRect(0, 0, 1600, 500), {}, QPoint(0, 508)},
        {"the window low on a full-width screen: above it", QRect(0, 500, 1600, 500), {}, QPoint(0, 162)},
        {"no main window: the top right corner", QRect(), {}, QPoint(1060, 0)},
        {"centred, too big for either side", QRect(443, 263, 716, 500), {}, std::nullopt},
        {"maximised", QRect(0, 0, 1600, 1000), {}, std::nullopt},
    };
    for (const TCase& C : Cases) {
        const std::optional<QPoint> At = FreePreviewPlace(Screen, C.Owner, Frame, C.Taken);
        EXPECT_EQ(At, C.Expected) << C.What;
        if (!At) continue;
        const QRect Placed(*At, Frame);
        EXPECT_TRUE(Screen.contains(Placed)) << C.What;
        EXPECT_FALSE(Placed.intersects(C.Owner)) << C.What;
        for (const QRect& T : C.Taken) EXPECT_FALSE(Placed.intersects(T)) << C.What;
    }
}

TEST(Previewer, ShrunkToFitBesideTheWindowElseFullSizeInTheCornerThatHidesLeast) {
    const QRect Screen(0, 0, 1600, 1000);
    const QSize Client(533, 300);
    const QMargins Frame(1, 21, 1, 1);
    // A window centred on the screen leaves about 440 pixels on either side.
    const QRect Centred(443, 263, 716, 500);
    const QRect Beside = PlacePreview(Screen, Centred, Client, Frame, {});
    const QSize Shrunk = Beside.size().shrunkBy(Frame);
    EXPECT_TRUE(Screen.contains(Beside));
    EXPECT_FALSE(Beside.intersects(Centred));
    EXPECT_LT(Shrunk.width(), Client.width());
    EXPECT_GE(Shrunk.width(), 400);  // as big as the side allows, in steps of a twentieth
    EXPECT_LE(std::abs(Shrunk.width() * Client.height() - Shrunk.height() * Client.width()), Client.width());
    // With room, the full size.
    const QRect Left(0, 0, 700, 500);
    EXPECT_EQ(PlacePreview(Screen, Left, Client, Frame, {}).size(), Client.grownBy(Frame));
    // A maximised window: full size, in the corner that hides least of the other preview.
    const QRect Other(1065, 0, 535, 322);
    EXPECT_EQ(PlacePreview(Screen, Screen, Client, Frame, {Other}),
              QRect(QPoint(1065, 678), Client.grownBy(Frame)));
}

// The window's own geometry, against a main window on the (offscreen) screen: a film's picture
// is shown small, beside the window and scaled, not at its full size over it.
TEST(Previewer, AFilmIsShownSmallBesideTheMainWindow) {
    QWidget Owner;
    const QRect Area = QGuiApplication::primaryScreen()->availableGeometry();
    Owner.setGeometry(Area.left(), Area.top(), Area.width() / 2, Area.height() / 2);
    Owner.show();
    InstallPreviewerFactory(&Owner);
    std::unique_ptr<IPreviewWindow> Made = CreatePreviewWindow();
    auto* P = dynamic_cast<TPreviewer*>(Made.get());
    TBitmap Film = Filled(Area.width() * 2, Area.width() * 9 / 8, 0, 0, 255);  // 16:9, twice the screen wide
    const bool Shown = P && P->ShowFrame(Film, 1, 0);
    InstallPreviewerFactory();
    SetPreviewWindowFactory(nullptr);
    ASSERT_NE(P, nullptr);
    ASSERT_TRUE(Shown);
    QWidget* W = P->Window();
    ASSERT_NE(W, nullptr);
    EXPECT_EQ(W->size(), PreviewClientSize(QSize(Film.Width(), Film.Height()), Area.size()));
    EXPECT_LE(W->width(), Area.width() / 3);
    EXPECT_FALSE(W->frameGeometry().intersects(Owner.frameGeometry()));
    EXPECT_TRUE(Area.contains(W->frameGeometry()));
    // The whole picture, scaled: its far corner is in the window too.
    EXPECT_EQ(PixelOf(W, W->width() - 2, W->height() - 2), QColor(255, 0, 0));
    Made.reset();
}

TEST(Previewer, PicturesAreDrawnAtTheTopLeftAndTheWindowKeepsItsSize) {
    TPreviewer P;
    TBitmap First = Filled(160, 120, 10, 20, 200);
    First.ScanLine(0)[0] = 0;  // the top left pixel green: rows are not flipped
    First.ScanLine(0)[1] = 255;
    First.ScanLine(0)[2] = 0;
    ASSERT_TRUE(P.ShowFrame(First, 1, 0));
    QWidget* W = P.Window();
    ASSERT_NE(W, nullptr);
    EXPECT_EQ(PixelOf(W, 0, 0), QColor(0, 255, 0));
    EXPECT_EQ(PixelOf(W, 5, 5), QColor(200, 20, 10));
    EXPECT_EQ(PixelOf(W, 159, 119), QColor(200, 20, 10));

    ASSERT_TRUE(P.ShowFrame(Filled(80, 60, 255, 0, 0), 2, 40000));
    EXPECT_EQ(W->size(), QSize(160, 120));
    EXPECT_EQ(PixelOf(W, 10, 10), QColor(0, 0, 255));
    EXPECT_EQ(PixelOf(W, 100, 100), QColor(200, 20, 10));  // the earlier picture beyond the smaller one
    EXPECT_EQ(W->windowTitle(), "00:00:00.040");
}

TEST(Previewer, UnknownTimeIsShownAsNotAvailable) {
    TPreviewer P;
    ASSERT_TRUE(P.ShowFrame(Filled(32, 24, 0, 0, 0), 1, AV_NOPTS_VALUE));
    ASSERT_NE(P.Window(), nullptr);
    EXPECT_EQ(P.Window()->windowTitle(), "N/A");
    EXPECT_EQ(PreviewCaption(AV_NOPTS_VALUE), "N/A");
    EXPECT_EQ(PreviewCaption(0), "00:00:00.000");
    EXPECT_EQ(PreviewCaption(kOneHourTwoMinutes), "01:02:03.456");
}

TEST(Previewer, ClosingMakesTheNextPictureAnswerFalseWithoutTouchingTheWindow) {
    TPreviewer P;
    ASSERT_TRUE(P.ShowFrame(Filled(32, 24, 0, 0, 0), 1, 1000000));
    QWidget* W = P.Window();
    ASSERT_NE(W, nullptr);
    EXPECT_FALSE(P.Closed());
    EXPECT_TRUE(W->close());
    EXPECT_TRUE(P.Closed());
    EXPECT_FALSE(W->isVisible());
    EXPECT_FALSE(P.ShowFrame(Filled(32, 24, 255, 255, 255), 2, 2000000));
    EXPECT_FALSE(W->isVisible());
    EXPECT_EQ(W->windowTitle(), "00:00:01.000");
    EXPECT_EQ(P.FrameNumber(), 1);
    EXPECT_FALSE(P.ShowFrame(Filled(32, 24, 255, 255, 255), 3, 3000000));
}

TEST(Previewer, TheWindowIsDraggedByItsPicture) {
    TPreviewer P;
    ASSERT_TRUE(P.ShowFrame(Filled(100, 80, 0, 0, 0), 1, 0));
    QWidget* W = P.Window();
    ASSERT_NE(W, nullptr);
    const QPoint Start = W->pos();
    const QPoint Grip(10, 10);
    const QPoint GlobalGrip = W->mapToGlobal(Grip);
    auto Send = [&](QEvent::Type Type, QPoint Global, Qt::MouseButton Button, Qt::MouseButtons Buttons) {
        QMouseEvent E(Type, QPointF(W->mapFromGlobal(Global)), QPointF(Global), Button, Buttons,
                      Qt::NoModifier);
        QApplication::sendEvent(W, &E);
    };
    // The right button does not move it.
    Send(QEvent::MouseButtonPress, GlobalGrip, Qt::RightButton, Qt::RightButton);
    Send(QEvent::MouseMove, GlobalGrip + QPoint(40, 30), Qt::NoButton, Qt::RightButton);
    Send(QEvent::MouseButtonRelease, GlobalGrip + QPoint(40, 30), Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(W->pos(), Start);
    // The left button drags it like a caption.
    Send(QEvent::MouseButtonPress, GlobalGrip, Qt::LeftButton, Qt::LeftButton);
    Send(QEvent::MouseMove, GlobalGrip + QPoint(40, 30), Qt::NoButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, GlobalGrip + QPoint(40, 30), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(W->pos(), Start + QPoint(40, 30));
    // Moving without a button held leaves it where it is.
    Send(QEvent::MouseMove, GlobalGrip + QPoint(90, 90), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(W->pos(), Start + QPoint(40, 30));
}

TEST(Previewer, WorkerThreadWaitsWhileTheMainThreadShowsThePicture) {
    TPreviewer P;
    const TBitmap Picture = Filled(64, 48, 0, 0, 255);
    std::atomic<bool> Done{false}, Result{false};
    std::thread Worker([&] {
        Result = P.ShowFrame(Picture, 7, 5000000);
        Done = true;
        NotifyMainThread();
    });
    const bool Finished = WaitInMainThread([&] { return Done.load(); }, 20s);
    Worker.join();
    ASSERT_TRUE(Finished);
    EXPECT_TRUE(Result);
    QWidget* W = P.Window();
    ASSERT_NE(W, nullptr);
    EXPECT_EQ(W->thread(), QThread::currentThread());
    EXPECT_EQ(W->windowTitle(), "00:00:05.000");
    EXPECT_EQ(PixelOf(W, 3, 3), QColor(255, 0, 0));
}

// The application's way: the main thread runs Qt's event loop, and a queued call wakes it.
class PreviewerInEventLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        SetMainThreadWakeUp([] {
            QMetaObject::invokeMethod(
                qApp, [] { PumpMainThreadQueue(); }, Qt::QueuedConnection);
        });
    }
    void TearDown() override { SetMainThreadWakeUp(nullptr); }

    // Runs the event loop until Done holds or the time is up.
    static bool RunLoopUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit) {
        const auto Deadline = std::chrono::steady_clock::now() + Limit;
        while (!Done() && std::chrono::steady_clock::now() < Deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        return Done();
    }
};

TEST_F(PreviewerInEventLoop, WorkerShowsUntilTheUserClosesTheWindow) {
    TPreviewer P;
    std::atomic<int> Shown{0};
    std::atomic<bool> Done{false};
    std::thread Worker([&] {
        TBitmap Picture = Filled(48, 32, 0, 128, 0);
        for (int N = 1; N <= 100000; ++N) {
            if (!P.ShowFrame(Picture, N, N * 40000LL)) break;
            ++Shown;
        }
        Done = true;
    });
    // The user closes the window once a few pictures were shown.
    ASSERT_TRUE(RunLoopUntil([&] { return Shown.load() >= 5; }, 20s));
    ASSERT_NE(P.Window(), nullptr);
    P.Window()->close();
    const bool Finished = RunLoopUntil([&] { return Done.load(); }, 20s);
    Worker.join();
    ASSERT_TRUE(Finished);
    EXPECT_TRUE(P.Closed());
    EXPECT_GE(Shown.load(), 5);
    EXPECT_LT(Shown.load(), 100000);
}

TEST_F(PreviewerInEventLoop, DestroyedOnAWorkerTheWindowGoesOnTheMainThread) {
    auto P = std::make_unique<TPreviewer>();
    ASSERT_TRUE(P->ShowFrame(Filled(16, 16, 0, 0, 0), 1, 0));
    QPointer<QWidget> W = P->Window();
    ASSERT_FALSE(W.isNull());
    std::atomic<bool> Done{false};
    std::thread Worker([&] {
        P.reset();
        Done = true;
    });
    const bool Finished = RunLoopUntil([&] { return Done.load(); }, 20s);
    Worker.join();
    ASSERT_TRUE(Finished);
    EXPECT_TRUE(W.isNull());
}

TEST(Previewer, WithoutAPictureNoWindowIsMadeAndNothingWaits) {
    // Destroying a previewer that never showed anything must not need the main thread, which
    // does not pump its queue here: a destruction that waited for it would never end.
    struct TState {
        std::atomic<bool> WindowMade{true};
        std::atomic<bool> Done{false};
    };
    auto State = std::make_shared<TState>();
    std::thread Worker([State] {
        {
            TPreviewer P;
            State->WindowMade = P.Window() != nullptr;
        }
        State->Done = true;
    });
    const auto Deadline = std::chrono::steady_clock::now() + 20s;
    while (!State->Done && std::chrono::steady_clock::now() < Deadline) std::this_thread::sleep_for(1ms);
    if (!State->Done) {
        Worker.detach();  // it holds only the shared state
        FAIL() << "the previewer's destruction waited for the main thread";
    }
    Worker.join();
    EXPECT_FALSE(State->WindowMade);
}

TEST(Previewer, InstalledFactoryMakesPreviewers) {
    InstallPreviewerFactory();
    std::unique_ptr<IPreviewWindow> Window = CreatePreviewWindow();
    SetPreviewWindowFactory(nullptr);
    ASSERT_NE(Window, nullptr);
    EXPECT_NE(dynamic_cast<TPreviewer*>(Window.get()), nullptr);
    EXPECT_EQ(CreatePreviewWindow(), nullptr);
}

}  // namespace
}  // namespace zembra
