// zembra: the window. Files named on the command line (as a desktop entry's %F hands them
// over) are added once the window is up; --version prints the version and the licence instead,
// --help the usage.

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/LicenceNotice.h"
#include "app/ui/MainWindow.h"
#include "app/ui/ZembraApplication.h"
#include "util/OpenFileLimit.h"

namespace {

// The icon theme's (installed under /usr, or the user's own theme); otherwise the rendered picture
// found from the program's real folder: share/ beside bin/ in a build, two levels up once
// installed in lib/zembra/.
QIcon ApplicationIcon() {
    const QString Picture = QStringLiteral("/share/icons/hicolor/48x48/apps/" ZEMBRA_APP_ID ".png");
    const QDir Folder(QCoreApplication::applicationDirPath());
    QIcon Fallback;
    for (const char* Up : {"/..", "/../.."}) {
        const QString Candidate = QDir::cleanPath(Folder.path() + Up + Picture);
        if (QFileInfo::exists(Candidate)) {
            Fallback = QIcon(Candidate);
            break;
        }
    }
    return QIcon::fromTheme(QStringLiteral(ZEMBRA_APP_ID), Fallback);
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before the application object exists, which needs a display: a terminal without
    // one, or a packaging tool, may ask too.
    for (int I = 1; I < argc; ++I) {
        if (std::strcmp(argv[I], "--version") == 0) {
            std::fputs(("zembra " ZEMBRA_VERSION "\n\n" + zembra::LicenceNotice()).c_str(), stdout);
            return 0;
        }
        if (std::strcmp(argv[I], "--help") == 0 || std::strcmp(argv[I], "-h") == 0) {
            std::fputs(
                "usage: zembra [FILE...]\n"
                "Opens the window and adds each FILE, asking for its settings; a FILE that is a\n"
                "folder adds the media files below it. zembra-cli converts without a window.\n"
                "\n"
                "  -h, --help    this text\n"
                "  --version     the program's version and the licence\n",
                stdout);
            return 0;
        }
    }
    // A dropped music library is thousands of files; the session's default limit is far lower.
    zembra::RaiseOpenFileLimit();
    zembra::TZembraApplication App(argc, argv);
    // Wayland desktops match the window to its desktop entry (and so its icon) by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(ZEMBRA_APP_ID));
    QApplication::setWindowIcon(ApplicationIcon());
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
