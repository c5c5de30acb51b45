#include "app/ui/HelpViewer.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPixmap>
#include <QScreen>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

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
    connect(FBrowser, &QTextBrowser::sourceChanged, this, &THelpViewer::FitPictures);
    FBrowser->viewport()->installEventFilter(this);
    resize(760, 560);
}

bool THelpViewer::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == FBrowser->viewport() && Event->type() == QEvent::Resize) FitPictures();
    return QWidget::eventFilter(Watched, Event);
}

// The browser leaves Escape to its window, as a dialog's would close it.
void THelpViewer::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(Event);
}

namespace {

QSize NaturalSize(const QVariant& Resource) {
    if (Resource.canConvert<QImage>()) return Resource.value<QImage>().size();
    if (Resource.canConvert<QPixmap>()) return Resource.value<QPixmap>().size();
    if (Resource.canConvert<QByteArray>()) return QImage::fromData(Resource.toByteArray()).size();
    return {};
}

}  // namespace

void THelpViewer::FitPictures() {
    QTextDocument* Doc = FBrowser->document();
    // The page's own margins (the style sheet's body margin among them) come off the width too.
    const qreal Room = std::max<qreal>(40, FBrowser->viewport()->width() - 2 * Doc->documentMargin() - 48);
    struct TPicture {
        int Position, Length;
        QTextImageFormat Format;
    };
    std::vector<TPicture> Changed;
    for (QTextBlock Block = Doc->begin(); Block.isValid(); Block = Block.next())
        for (auto It = Block.begin(); !It.atEnd(); ++It) {
            const QTextFragment Fragment = It.fragment();
            if (!Fragment.charFormat().isImageFormat()) continue;
            QTextImageFormat Picture = Fragment.charFormat().toImageFormat();
            const QSize Natural =
                NaturalSize(Doc->resource(QTextDocument::ImageResource, QUrl(Picture.name())));
            if (Natural.isEmpty()) continue;
            const qreal Width = std::min<qreal>(Natural.width(), Room);
            if (std::abs(Picture.width() - Width) < 0.5) continue;
            Picture.setWidth(Width);
            Picture.setHeight(Natural.height() * Width / Natural.width());
            Changed.push_back({Fragment.position(), Fragment.length(), Picture});
        }
    QTextCursor Cursor(Doc);
    for (const TPicture& P : Changed) {
        Cursor.setPosition(P.Position);
        Cursor.setPosition(P.Position + P.Length, QTextCursor::KeepAnchor);
        Cursor.setCharFormat(P.Format);
    }
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
