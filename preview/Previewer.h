#pragma once

// The realtime previewer: a small window that shows the pictures a conversion hands over and is
// titled with each picture's time. It sits beside the main window rather than over it, stays in
// the program's own stack of windows (never above other programs), and keeps below any box the
// program shows. The engine sees it only as an IPreviewWindow made by the factory that
// InstallPreviewerFactory puts in place, so the engine stays free of the window toolkit.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QSize>
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

// The size of a preview's picture area: the picture scaled down, keeping its shape, to fit a
// third of the screen's width and height; never enlarged.
QSize PreviewClientSize(QSize Picture, QSize Screen);

// Where a preview's frame of the given size goes: beside Owner (right, left, below, above)
// where the screen has room, clear of the previews already open (Taken), else in a free corner;
// nullopt when no place is free. Owner may be empty (no main window).
std::optional<QPoint> FreePreviewPlace(const QRect& Screen, const QRect& Owner, QSize Frame,
                                       const std::vector<QRect>& Taken);

// The frame of a preview whose picture area would like to be Client, with the window system's
// Frame around it: at a free place (see above), shrunk (down to half) when only a smaller one
// finds one; failing that, full size in the screen corner that covers least of the others.
QRect PlacePreview(const QRect& Screen, const QRect& Owner, QSize Client, const QMargins& Frame,
                   const std::vector<QRect>& Taken);

// Makes the engine create a TPreviewer whenever a conversion previews; Owner (the main window)
// is the window the previews keep clear of.
void InstallPreviewerFactory(QWidget* Owner = nullptr);

}  // namespace zembra
