#pragma once

// The custom hook's drawing on a 24-bit bitmap: the text in the step's font (the system's
// nearest to "Tahoma"), the icon in the lower right corner, then the flip. Runs on the
// conversion's thread and touches no widget.

#include <QImage>

#include "app/HookSchedule.h"
#include "util/Bitmap.h"

namespace zembra {

void DrawCustomHookStep(TBitmap& Bitmap, const TCustomHookStep& Step, const QImage& Icon);

}  // namespace zembra
