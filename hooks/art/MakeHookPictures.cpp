// Draws the pictures the hook modules use and writes them into the given folder:
//   imlib2.jpg     the overlay module's picture (a sunny disc on a blue field, framed)
//   QuarnHook.bmp  the demo module's picture (an emblem on pure white, white being its key)
//   watermark.gif  the watermark (a "Z" with a shadow on a transparent field)
// The JPEG and BMP files are written by the image library, the GIF by the GIF library.

#include <Imlib2.h>
#include <fcntl.h>
#include <gif_lib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

// Distance from (X, Y) to the segment from A to B.
double SegmentDistance(double X, double Y, double AX, double AY, double BX, double BY) {
    const double DX = BX - AX, DY = BY - AY;
    const double Length2 = DX * DX + DY * DY;
    double T = Length2 > 0 ? ((X - AX) * DX + (Y - AY) * DY) / Length2 : 0;
    T = std::clamp(T, 0.0, 1.0);
    const double PX = AX + T * DX - X, PY = AY + T * DY - Y;
    return std::sqrt(PX * PX + PY * PY);
}

bool SaveWithImageLibrary(const std::string& Path, const char* Format, int W, int H,
                          const std::function<uint32_t(int, int)>& Pixel) {
    Imlib_Image Image = imlib_create_image(W, H);
    if (!Image) return false;
    imlib_context_set_image(Image);
    imlib_image_set_has_alpha(0);
    uint32_t* Data = imlib_image_get_data();
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X) Data[Y * W + X] = 0xFF000000u | Pixel(X, Y);
    imlib_image_put_back_data(Data);
    imlib_image_set_format(Format);
    imlib_image_attach_data_value("quality", nullptr, 92, nullptr);
    int Error = 0;
    imlib_save_image_with_errno_return(Path.c_str(), &Error);
    imlib_free_image();
    if (Error) std::fprintf(stderr, "cannot write %s: %s\n", Path.c_str(), imlib_strerror(Error));
    return Error == 0;
}

uint32_t Rgb(double R, double G, double B) {
    auto C = [](double V) { return uint32_t(std::clamp(std::lround(V), 0L, 255L)); };
    return (C(R) << 16) | (C(G) << 8) | C(B);
}

bool MakeOverlayPicture(const std::string& Path) {
    constexpr int W = 96, H = 72;
    return SaveWithImageLibrary(Path, "jpg", W, H, [](int X, int Y) {
        if (X < 3 || Y < 3 || X >= W - 3 || Y >= H - 3) return Rgb(250, 250, 250);
        const double DX = X - W / 2.0 + 0.5, DY = Y - H / 2.0 + 0.5;
        const double D = std::sqrt(DX * DX + DY * DY);
        if (D < 24) return Rgb(255, 200 - D * 4, 40);
        return Rgb(30, 60 + Y, 160 + X / 2.0);
    });
}

bool MakeDemoPicture(const std::string& Path) {
    constexpr int S = 64;
    return SaveWithImageLibrary(Path, "bmp", S, S, [](int X, int Y) {
        const double DX = X - S / 2.0 + 0.5, DY = Y - S / 2.0 + 0.5;
        const double D = std::sqrt(DX * DX + DY * DY);
        // Hard edges only: a soft edge would leave near-white pixels that the key misses.
        if (D < 12) return Rgb(0, 40, 140);
        if (D < 20) return Rgb(250, 210, 0);
        if (D < 28) return Rgb(0, 40, 140);
        if (DX > 12 && DY > 12 && std::fabs(DX - DY) < 4) return Rgb(250, 210, 0);  // the tail of the Q
        return Rgb(255, 255, 255);
    });
}

bool MakeWatermark(const std::string& Path) {
    constexpr int W = 128, H = 64;
    constexpr int Transparent = 0;
    // Index 0 is the transparent field; indices 1..255 are grey levels 1..255.
    std::vector<GifColorType> Colours(256);
    Colours[0] = {128, 128, 128};
    for (int I = 1; I < 256; ++I) Colours[I] = {GifByteType(I), GifByteType(I), GifByteType(I)};
    auto InZ = [](double X, double Y) {
        const double Half = 5;
        return SegmentDistance(X, Y, 40, 12, 88, 12) < Half || SegmentDistance(X, Y, 88, 12, 40, 52) < Half ||
               SegmentDistance(X, Y, 40, 52, 88, 52) < Half;
    };
    std::vector<GifPixelType> Pixels(W * H, Transparent);
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X) {
            if (InZ(X + 0.5, Y + 0.5))
                Pixels[Y * W + X] = 230;
            else if (InZ(X - 2.5, Y - 2.5))
                Pixels[Y * W + X] = 40;  // the shadow, down and right
        }

    int Error = 0;
    // The GIF library would create the file readable by its owner only.
    const int File = open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    GifFileType* Gif = File >= 0 ? EGifOpenFileHandle(File, &Error) : nullptr;
    if (!Gif) {
        if (File >= 0) close(File);
        std::fprintf(stderr, "cannot write %s: %s\n", Path.c_str(), GifErrorString(Error));
        return false;
    }
    ColorMapObject* Map = GifMakeMapObject(256, Colours.data());
    EGifSetGifVersion(Gif, true);
    GraphicsControlBlock Control{DISPOSAL_UNSPECIFIED, false, 0, Transparent};
    GifByteType Extension[4];
    EGifGCBToExtension(&Control, Extension);
    bool Ok = Map && EGifPutScreenDesc(Gif, W, H, 8, Transparent, Map) == GIF_OK &&
              EGifPutExtension(Gif, GRAPHICS_EXT_FUNC_CODE, 4, Extension) == GIF_OK &&
              EGifPutImageDesc(Gif, 0, 0, W, H, false, nullptr) == GIF_OK;
    for (int Y = 0; Ok && Y < H; ++Y) Ok = EGifPutLine(Gif, Pixels.data() + Y * W, W) == GIF_OK;
    if (!Ok) std::fprintf(stderr, "cannot write %s: %s\n", Path.c_str(), GifErrorString(Gif->Error));
    if (EGifCloseFile(Gif, &Error) != GIF_OK) Ok = false;
    GifFreeMapObject(Map);
    return Ok;
}

}  // namespace

int main(int ArgCount, char** ArgVector) {
    if (ArgCount != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", ArgVector[0]);
        return 2;
    }
    const std::string Folder = ArgVector[1];
    const bool Ok = MakeOverlayPicture(Folder + "/imlib2.jpg") &&
                    MakeDemoPicture(Folder + "/QuarnHook.bmp") && MakeWatermark(Folder + "/watermark.gif");
    return Ok ? 0 : 1;
}
