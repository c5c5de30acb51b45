#include "app/ui/FrontDialog.h"

#include <QDialog>
#include <QTimer>

namespace zembra {

int ExecInFront(QDialog& Dialog) {
    // Modal to the whole program (as a message box makes itself), a box would also block the
    // previews: their close buttons would do nothing until it goes.
    if (Dialog.parentWidget()) Dialog.setWindowModality(Qt::WindowModal);
    // In the window manager's layer above the previews; once mapped, raised above them too.
    Dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    QTimer::singleShot(0, &Dialog, [&Dialog] {
        Dialog.raise();
        Dialog.activateWindow();
    });
    return Dialog.exec();
}

}  // namespace zembra
