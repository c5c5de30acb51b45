#include "app/ui/HelpViewer.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

#include "app/ui/AppIcon.h"

namespace zembra {

THelpViewer::THelpViewer(QWidget* Parent) : QWidget(Parent, Qt::Window), FBrowser(new QTextBrowser(this)) {
    setObjectName("HelpViewer");
    setWindowTitle("Zembra Help");
    setWindowIcon(AppIcon());
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->addWidget(FBrowser);
    // Pages link to one another; anything outside the manual goes to the desktop's browser.
    FBrowser->setOpenLinks(true);
    FBrowser->setOpenExternalLinks(true);
    resize(760, 560);
}

void THelpViewer::PlaceOnScreen() {
    // Centred over the main window, but never beyond the screen it is on: the window manager
    // would otherwise keep the parent's corner and push the rest off the edge.
    const QWidget* Over = parentWidget() ? parentWidget()->window() : nullptr;
    const QScreen* Screen = Over && Over->screen() ? Over->screen() : QGuiApplication::primaryScreen();
    if (!Screen) return;
    const QRect Area = Screen->availableGeometry();
    QRect Frame(QPoint(), size().boundedTo(Area.size() - QSize(40, 60)));
    Frame.moveCenter(Over ? Over->frameGeometry().center() : Area.center());
    Frame.moveLeft(
        std::clamp(Frame.left(), Area.left(), std::max(Area.left(), Area.right() - Frame.width())));
    Frame.moveTop(
        std::clamp(Frame.top(), Area.top(), std::max(Area.top(), Area.bottom() - Frame.height() - 30)));
    setGeometry(Frame);
}

void THelpViewer::ShowTopic(const QString& Folder, const QString& Topic) {
    if (!QFileInfo(Folder).isDir()) throw std::runtime_error(kHelpFolderMissing);
    const QString Page = QDir(Folder).filePath(Topic);
    if (!QFileInfo(Page).isFile()) throw std::runtime_error(kHelpTopicMissing);
    FBrowser->setSearchPaths({Folder});
    FBrowser->setSource(QUrl::fromLocalFile(Page));
    if (!isVisible()) PlaceOnScreen();
    show();
    raise();
    activateWindow();
}

}  // namespace zembra
