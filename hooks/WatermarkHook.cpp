// The watermark module (watermark.so). Arguments: -f picture (the watermark; transparent parts
// of it leave the frame alone), -m mode (0 or 1, default 0). The picture is stretched over the
// whole frame.
//   Mode 0, shade: the picture's brightness above or below mid-grey lightens or darkens the
//   frame by that amount; colours of the frame stay, so the mark looks pressed into the video.
//   Mode 1, tint: the picture's own colours are laid over the frame at half strength.

#include <exception>
#include <memory>

#include "hooks/kit/Files.h"
#include "hooks/kit/Module.h"
#include "hooks/kit/Overlay.h"

namespace zembra::hooks {
namespace {

constexpr const char* kName = "watermark";
// A stretched copy is kept per frame size; beyond this many pixels a frame is left alone
// rather than allocate without bound.
constexpr long long kMaxFramePixels = 1LL << 26;

struct TContext {
    TOverlay Picture;
    int Mode = 0;
    TOverlay Stretched;
    int StretchedWidth = -1, StretchedHeight = -1;
};

int Configure(void** Context, int ArgCount, char* ArgVector[]) {
    auto C = std::make_unique<TContext>();
    std::string PictureName;
    TArgReader Args(ArgCount, ArgVector);
    std::string Name, Value, Error;
    while (Args.Next(Name, Value, Error)) {
        if (Name == "-f") {
            PictureName = Value;
        } else if (Name == "-m") {
            long long M = 0;
            if (!ParseInteger(Value, M) || (M != 0 && M != 1)) {
                Complain(kName, "mode (-m) must be 0 or 1, not '" + Value + "'");
                return -1;
            }
            C->Mode = int(M);
        } else {
            Complain(kName, "unknown option " + Name);
            return -1;
        }
    }
    if (!Error.empty()) {
        Complain(kName, Error);
        return -1;
    }
    if (PictureName.empty()) {
        Complain(kName, "no watermark picture (-f)");
        return -1;
    }
    const std::string Path = FindModuleFile(PictureName);
    if (Path.empty()) {
        Complain(kName, "picture " + PictureName + " not found");
        return -1;
    }
    if (!LoadPicture(Path, C->Picture, Error)) {
        Complain(kName, Error);
        return -1;
    }
    *Context = C.release();
    return 0;
}

}  // namespace
}  // namespace zembra::hooks

using namespace zembra::hooks;

ZEMBRA_HOOK_EXPORT int Configure(void** Context, int ArgCount, char* ArgVector[], int /*HighIndex*/) {
    if (!Context) return -1;
    try {
        return zembra::hooks::Configure(Context, ArgCount, ArgVector);
    } catch (const std::exception& E) {
        Complain(kName, E.what());
        return -1;
    }
}

ZEMBRA_HOOK_EXPORT void Process(void* Context, TZembraHookPicture* Picture, int PixelFormat, int Width,
                                int Height, int64_t /*PTS*/) {
    auto* C = static_cast<TContext*>(Context);
    if (!C || !IsSupportedFormat(PixelFormat) || Width <= 0 || Height <= 0) return;
    if (static_cast<long long>(Width) * Height > kMaxFramePixels) return;
    if (Width != C->StretchedWidth || Height != C->StretchedHeight) {
        try {
            C->Stretched = ScaleOverlay(C->Picture, Width, Height);
        } catch (const std::bad_alloc&) {
            C->StretchedWidth = C->StretchedHeight = -1;
            return;
        }
        C->StretchedWidth = Width;
        C->StretchedHeight = Height;
    }
    if (C->Mode == 0)
        DrawOverlay(C->Stretched, Picture, PixelFormat, Width, Height, 0, 0, TBlend::Shade);
    else
        DrawOverlay(C->Stretched, Picture, PixelFormat, Width, Height, 0, 0, TBlend::Mix, 128);
}

ZEMBRA_HOOK_EXPORT void Release(void* Context) {
    delete static_cast<TContext*>(Context);
}
