#include "app/ui/DesktopServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>
#include <QVariantMap>

namespace zembra {

namespace {

// Only a bus the desktop has started: asking for the session bus without one makes the D-Bus
// library try to launch one for the display, which a notification is not worth.
bool SessionBusAdvertised() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString Runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !Runtime.isEmpty() && QFileInfo::exists(Runtime + "/bus");
}

// Long enough for a file manager to start on activation, short enough not to feel hung.
constexpr int kFileManagerTimeoutMs = 3000;
}  // namespace

bool SendDesktopNotification(const QString& Summary, const QString& Body) {
    if (!SessionBusAdvertised()) return false;
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected()) return false;
    QDBusMessage Call =
        QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications", "Notify");
    // The installed icon and desktop entry share the program's id; the server finds the icon
    // by that name and groups the notification with the program's entry.
    const QString Id =
        QGuiApplication::desktopFileName().isEmpty() ? QString("zembra") : QGuiApplication::desktopFileName();
    QVariantMap Hints;
    Hints.insert("desktop-entry", Id);
    Call << QString("Zembra") << 0u << Id << Summary << Body << QStringList() << Hints << -1;
    // Not waited for: a desktop without a notification service simply shows nothing.
    return Bus.send(Call);
}

bool ShowInFileManager(const QString& File, const QString& Folder) {
    if (!File.isEmpty() && QFileInfo(File).isFile() && SessionBusAdvertised()) {
        QDBusConnection Bus = QDBusConnection::sessionBus();
        QDBusMessage Call =
            QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                           "org.freedesktop.FileManager1", "ShowItems");
        Call << QStringList{QUrl::fromLocalFile(File).toString()} << QString();
        if (Bus.isConnected() &&
            Bus.call(Call, QDBus::Block, kFileManagerTimeoutMs).type() == QDBusMessage::ReplyMessage)
            return true;
    }
    if (Folder.isEmpty() || !QFileInfo(Folder).isDir()) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(Folder));
}

}  // namespace zembra
