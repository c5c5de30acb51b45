#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "app/ui/FrontDialog.h"
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

}  // namespace
}  // namespace zembra
