#include "app/ui/DesktopServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <QVariantMap>

namespace zembra {

namespace {
// Long enough for a file manager to start on activation, short enough not to feel hung.
constexpr int kFileManagerTimeoutMs = 3000;
}  // namespace

bool SendDesktopNotification(const QString& Summary, const QString& Body) {
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected()) return false;
    QDBusMessage Call =
        QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications", "Notify");
    Call << QString("Zembra") << 0u << QString("zembra") << Summary << Body << QStringList() << QVariantMap()
         << -1;
    // Not waited for: a desktop without a notification service simply shows nothing.
    return Bus.send(Call);
}

bool ShowInFileManager(const QString& File, const QString& Folder) {
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!File.isEmpty() && QFileInfo(File).isFile() && Bus.isConnected()) {
        QDBusMessage Call =
            QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                           "org.freedesktop.FileManager1", "ShowItems");
        Call << QStringList{QUrl::fromLocalFile(File).toString()} << QString();
        const QDBusMessage Reply = Bus.call(Call, QDBus::Block, kFileManagerTimeoutMs);
        if (Reply.type() == QDBusMessage::ReplyMessage) return true;
    }
    if (Folder.isEmpty() || !QFileInfo(Folder).isDir()) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(Folder));
}

}  // namespace zembra
