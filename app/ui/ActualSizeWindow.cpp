#include "app/ui/ActualSizeWindow.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

namespace zembra {

TActualSizeWindow::TActualSizeWindow(const QImage& Picture, const QString& PTS, QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("%1x%2 PTS: %3").arg(Picture.width()).arg(Picture.height()).arg(PTS));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Picture.size());
    auto* Image = new QLabel(this);
    Image->setPixmap(QPixmap::fromImage(Picture));
    Image->setGeometry(0, 0, Picture.width(), Picture.height());
    // Let clicks on the picture reach the window.
    Image->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Enter presses this invisible default button; Escape rejects the dialog by itself.
    auto* Close = new QPushButton(this);
    Close->setGeometry(0, 0, 0, 0);
    Close->setDefault(true);
    connect(Close, &QPushButton::clicked, this, &QDialog::reject);
    if (const QScreen* Screen = QGuiApplication::primaryScreen()) {
        QRect Frame(QPoint(0, 0), Picture.size());
        Frame.moveCenter(Screen->availableGeometry().center());
        move(Frame.topLeft());
    }
}

void TActualSizeWindow::mouseReleaseEvent(QMouseEvent* Event) {
    if (Event->button() == Qt::LeftButton) {
        reject();
        return;
    }
    QDialog::mouseReleaseEvent(Event);
}

}  // namespace zembra
