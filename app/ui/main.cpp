// zembra: the window. Files named on the command line (as a desktop entry's %F hands them
// over) are added once the window is up.

#include <QFileInfo>
#include <QStringList>
#include <QTimer>

#include "app/ui/MainWindow.h"
#include "app/ui/ZembraApplication.h"

int main(int argc, char** argv) {
    zembra::TZembraApplication App(argc, argv);
    zembra::TfrmMain Window;
    Window.show();
    QStringList Files;
    // Absolute, so outputs land beside their inputs whatever the folder the window was started in.
    for (const QString& Arg : App.arguments().mid(1)) Files << QFileInfo(Arg).absoluteFilePath();
    if (!Files.isEmpty())
        QTimer::singleShot(0, &Window,
                           [&Window, Files] { zembra::Guarded([&] { Window.AddPaths(Files); }); });
    return App.exec();
}
