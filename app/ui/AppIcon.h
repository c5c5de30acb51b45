#pragma once

// The application's icon, drawn rather than shipped as a picture: a record with a sound wave.

#include <QIcon>
#include <QImage>

namespace zembra {

// Safe on any thread (a QImage, not a pixmap).
QImage AppIconImage(int Size);
QIcon AppIcon();

}  // namespace zembra
