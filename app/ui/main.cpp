// zembra: the window. Files named on the command line (as a desktop entry's %F hands them
// over) are added once the window is up.

#include <QStringList>
#include <QTimer>

#include "app/ui/MainWindow.h"
#include "app/ui/ZembraApplication.h"

int main(int argc, char** argv) {
    zembra::TZembraApplication App(argc, argv);
    zembra::TfrmMain Window;
    Window.show();
    const QStringList Files = App.arguments().mid(1);
    if (!Files.isEmpty())
        QTimer::singleShot(0, &Window,
                           [&Window, Files] { zembra::Guarded([&] { Window.AddPaths(Files); }); });
    return App.exec();
}
