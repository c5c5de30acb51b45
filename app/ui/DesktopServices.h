#pragma once

// What the window asks of the desktop over D-Bus: one notification, and showing a file in the
// file manager. Both are quiet when no service answers.

#include <QString>

namespace zembra {

// freedesktop notification; false when there is no session bus to send it on.
bool SendDesktopNotification(const QString& Summary, const QString& Body = QString());

// Asks the file manager to show File selected; without one (or without the file) the folder is
// opened through the desktop's handler. False when nothing could be asked.
bool ShowInFileManager(const QString& File, const QString& Folder);

}  // namespace zembra
