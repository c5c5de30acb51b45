#include "app/ui/HelpViewer.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
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

void THelpViewer::ShowTopic(const QString& Folder, const QString& Topic) {
    if (!QFileInfo(Folder).isDir()) throw std::runtime_error(kHelpFolderMissing);
    const QString Page = QDir(Folder).filePath(Topic);
    if (!QFileInfo(Page).isFile()) throw std::runtime_error(kHelpTopicMissing);
    FBrowser->setSearchPaths({Folder});
    FBrowser->setSource(QUrl::fromLocalFile(Page));
    show();
    raise();
    activateWindow();
}

}  // namespace zembra
