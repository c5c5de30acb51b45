#pragma once

// The realtime previewer: a small window, always on top, that shows the pictures a conversion
// hands over and is titled with each picture's time. The engine sees it only as an
// IPreviewWindow made by the factory that InstallPreviewerFactory puts in place, so the engine
// stays free of the window toolkit.

#include <atomic>
#include <cstdint>
#include <string>

#include <QPointer>
#include <QWidget>

#include "engine/PreviewWindow.h"
#include "util/Bitmap.h"

namespace zembra {

class TPreviewer : public IPreviewWindow {
  public:
    TPreviewer();
    TPreviewer(const TPreviewer&) = delete;
    TPreviewer& operator=(const TPreviewer&) = delete;
    // Destroys the window on the main thread (waiting for it there when called elsewhere).
    ~TPreviewer() override;

    // Shows the picture, creating the window on the first call; runs on the main thread and
    // waits for it. False once the user has closed the window, and then nothing is done.
    bool ShowFrame(const TBitmap& Picture, int32_t FrameNumber, int64_t PTS) override;

    bool Closed() const { return FClosed.load(); }
    int32_t FrameNumber() const { return FFrameNumber; }
    // The window once the first picture was shown, else nullptr. Main thread only.
    QWidget* Window() const;

  private:
    void UpdateWindow();  // main thread

    std::atomic<bool> FClosed{false};
    QPointer<QWidget> FForm;  // a TPreviewForm
    bool FFormCreated = false;
    const TBitmap* FPicture = nullptr;  // the caller's, only while ShowFrame runs
    int32_t FFrameNumber = 0;
    int64_t FPTS = 0;
};

// The caption for a picture time: "hh:mm:ss.zzz", or "N/A" for the library's missing time.
std::string PreviewCaption(int64_t PTS);

// Makes the engine create a TPreviewer whenever a conversion previews.
void InstallPreviewerFactory();

}  // namespace zembra
