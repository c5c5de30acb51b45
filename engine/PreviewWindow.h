#pragma once

// The realtime preview window as the engine sees it. The window itself belongs to the
// application (it needs a windowing toolkit); the application installs a factory, and without
// one previews are simply not shown.

#include <cstdint>
#include <functional>
#include <memory>

#include "util/Bitmap.h"

namespace zembra {

class IPreviewWindow {
  public:
    virtual ~IPreviewWindow() = default;
    // Shows the picture (called on a worker thread; the window work happens on the main
    // thread). False once the user has closed the window: the engine then stops previewing.
    virtual bool ShowFrame(const TBitmap& Picture, int32_t FrameNumber, int64_t PTS) = 0;
};

using TPreviewWindowFactory = std::function<std::unique_ptr<IPreviewWindow>()>;

// Installed once by the application; an empty function removes it.
void SetPreviewWindowFactory(TPreviewWindowFactory Factory);
// A new window, or nullptr when no factory is installed.
std::unique_ptr<IPreviewWindow> CreatePreviewWindow();

}  // namespace zembra
