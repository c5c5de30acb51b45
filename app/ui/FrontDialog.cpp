#include "app/ui/FrontDialog.h"

#include <QDialog>
#include <QTimer>

namespace zembra {

int ExecInFront(QDialog& Dialog) {
    // In the window manager's layer of the previews; once mapped, raised above them too.
    Dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    QTimer::singleShot(0, &Dialog, [&Dialog] {
        Dialog.raise();
        Dialog.activateWindow();
    });
    return Dialog.exec();
}

}  // namespace zembra
