// zembra-screenshot FILE.png: saves the whole X screen named by DISPLAY as a PNG picture, for
// the end-to-end tests to look at what a user would have seen.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: zembra-screenshot FILE.png\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication App(argc, argv);
    QScreen* Screen = QGuiApplication::primaryScreen();
    const QPixmap Picture = Screen ? Screen->grabWindow(0) : QPixmap();
    if (Picture.isNull()) {
        std::fputs("zembra-screenshot: the screen could not be read\n", stderr);
        return 1;
    }
    if (!Picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "zembra-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
