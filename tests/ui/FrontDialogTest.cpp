#include <gtest/gtest.h>

#include <QEventLoop>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <thread>

#include "app/ui/FrontDialog.h"
#include "app/ui/MainThreadWakeUp.h"
#include "util/MainThread.h"
#include "tests/ui/TestApplication.h"

namespace zembra {
namespace {

// How a box is modal while it is open: to its window only when it has one (the previews, which
// have none, stay usable), to the whole program otherwise.
TEST(FrontDialog, ABoxIsModalToItsWindowOnlyAndAboveTheOthers) {
    testing::EnsureTestApplication();
    QWidget Window;
    Window.show();
    struct TCase {
        QWidget* Parent;
        Qt::WindowModality Expected;
    } const Cases[] = {{&Window, Qt::WindowModal}, {nullptr, Qt::ApplicationModal}};
    for (const TCase& C : Cases) {
        // A message box makes itself modal to the whole program when it is made.
        QMessageBox Box(QMessageBox::Warning, "Zembra", "text", QMessageBox::Ok, C.Parent);
        Qt::WindowModality Seen = Qt::NonModal;
        bool OnTop = false;
        QTimer::singleShot(0, &Box, [&] {
            Seen = Box.windowModality();
            OnTop = Box.windowFlags() & Qt::WindowStaysOnTopHint;
            Box.accept();
        });
        ExecInFront(Box);
        EXPECT_EQ(Seen, C.Expected) << (C.Parent ? "with a window" : "without one");
        EXPECT_TRUE(OnTop);
    }
}

// A call from a worker that opens a box (an event loop of its own) does not hold up the calls
// queued behind it: another task's start or picture still reaches the main thread meanwhile.
TEST(MainThreadWakeUp, CallsQueuedBehindAnOpenBoxStillRun) {
    testing::EnsureTestApplication();
    QObject Owner;
    InstallMainThreadWakeUp(&Owner);
    bool BehindRan = false, RanInsideTheBox = false, BoxClosed = false;
    std::thread Worker([&] {
        PostToMainThread([&] {
            QEventLoop Box;
            QTimer Check, GiveUp;
            QObject::connect(&Check, &QTimer::timeout, &Box, [&] {
                if (BehindRan) Box.quit();
            });
            QObject::connect(&GiveUp, &QTimer::timeout, &Box, &QEventLoop::quit);
            Check.start(10);
            GiveUp.start(20000);
            Box.exec();
            RanInsideTheBox = BehindRan;
            BoxClosed = true;
        });
        PostToMainThread([&] { BehindRan = true; });
    });
    Worker.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return BoxClosed; }, 30000));
    EXPECT_TRUE(RanInsideTheBox);
    EXPECT_TRUE(BehindRan);
    EXPECT_FALSE(MainThreadCallsWaiting());
}

}  // namespace
}  // namespace zembra
