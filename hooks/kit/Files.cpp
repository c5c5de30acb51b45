#include "hooks/kit/Files.h"

#include <Imlib2.h>
#include <gif_lib.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <mutex>
#include <utility>
#include <vector>

namespace zembra::hooks {

namespace {

bool IsFile(const std::string& Path) {
    struct stat S;
    return !Path.empty() && stat(Path.c_str(), &S) == 0 && S_ISREG(S.st_mode);
}

// The image library keeps one global drawing context. The converter configures modules one at
// a time, but another host might not, so every use of the library goes through this lock.
std::mutex& ImageLibraryLock() {
    static std::mutex Lock;
    return Lock;
}

bool IsGif(const std::string& Path) {
    char Magic[4] = {};
    std::ifstream In(Path, std::ios::binary);
    return In.read(Magic, 4) && std::memcmp(Magic, "GIF8", 4) == 0;
}

// The image library drops the transparent colour of GIF files, and a watermark needs it, so
// GIF files are read with the GIF library itself: the first picture, on the file's canvas.
bool LoadGif(const std::string& Path, TOverlay& Picture, std::string& Error) {
    int Code = 0;
    GifFileType* Gif = DGifOpenFileName(Path.c_str(), &Code);
    if (!Gif) {
        Error = "cannot read picture " + Path + " (" + GifErrorString(Code) + ")";
        return false;
    }
    bool Ok = DGifSlurp(Gif) == GIF_OK && Gif->ImageCount > 0 && Gif->SWidth > 0 && Gif->SHeight > 0;
    if (!Ok) Error = "cannot read picture " + Path + " (" + GifErrorString(Gif->Error) + ")";
    if (Ok) {
        const SavedImage& Image = Gif->SavedImages[0];
        const GifImageDesc& D = Image.ImageDesc;
        const ColorMapObject* Map = D.ColorMap ? D.ColorMap : Gif->SColorMap;
        GraphicsControlBlock Control;
        int Transparent = NO_TRANSPARENT_COLOR;
        if (DGifSavedExtensionToGCB(Gif, 0, &Control) == GIF_OK) Transparent = Control.TransparentColor;
        Picture.SetSize(Gif->SWidth, Gif->SHeight);
        Picture.AnchorX = Picture.AnchorY = 0;
        // The GIF library hands the rows over in display order, interlaced pictures too.
        for (int Row = 0; Map && Image.RasterBits && Row < D.Height; ++Row) {
            const int Y = D.Top + Row;
            if (Y < 0 || Y >= Picture.Height) continue;
            for (int C = 0; C < D.Width; ++C) {
                const int X = D.Left + C;
                if (X < 0 || X >= Picture.Width) continue;
                const int Index = Image.RasterBits[size_t(Row) * D.Width + C];
                if (Index == Transparent || Index >= Map->ColorCount) continue;
                const GifColorType& Colour = Map->Colors[Index];
                Picture.At(X, Y) = Argb(255, Colour.Red, Colour.Green, Colour.Blue);
            }
        }
    }
    DGifCloseFile(Gif, &Code);
    return Ok;
}

}  // namespace

std::string ModuleFolder() {
    Dl_info Info;
    if (!dladdr(reinterpret_cast<void*>(&ModuleFolder), &Info) || !Info.dli_fname) return "";
    std::string Path = Info.dli_fname;
    const size_t Slash = Path.rfind('/');
    if (Slash == std::string::npos) return "";
    return Slash == 0 ? "/" : Path.substr(0, Slash);
}

std::string FindModuleFile(const std::string& Name) {
    if (Name.empty()) return "";
    if (IsFile(Name)) return Name;
    if (Name[0] == '/') return "";
    const std::string Folder = ModuleFolder();
    if (Folder.empty()) return "";
    const std::string Beside = Folder + "/" + Name;
    return IsFile(Beside) ? Beside : "";
}

bool LoadPicture(const std::string& Path, TOverlay& Picture, std::string& Error) {
    if (IsGif(Path)) return LoadGif(Path, Picture, Error);
    std::lock_guard<std::mutex> G(ImageLibraryLock());
    int Errno = 0;
    Imlib_Image Image = imlib_load_image_with_errno_return(Path.c_str(), &Errno);
    if (!Image) {
        Error =
            "cannot read picture " + Path + " (" + (Errno ? imlib_strerror(Errno) : "unknown error") + ")";
        return false;
    }
    imlib_context_set_image(Image);
    const int W = imlib_image_get_width();
    const int H = imlib_image_get_height();
    const bool HasAlpha = imlib_image_has_alpha();
    const uint32_t* Data = imlib_image_get_data_for_reading_only();
    bool Ok = W > 0 && H > 0 && Data;
    if (Ok) {
        Picture.SetSize(W, H);
        Picture.AnchorX = Picture.AnchorY = 0;
        std::memcpy(Picture.Pixels.data(), Data, Picture.Pixels.size() * sizeof(uint32_t));
        if (!HasAlpha)
            for (uint32_t& P : Picture.Pixels) P |= 0xFF000000u;
    } else {
        Error = "picture " + Path + " has no pixels";
    }
    imlib_free_image_and_decache();
    return Ok;
}

std::string FindFont(const std::string& Name, bool Bold, bool& IsBoldFace) {
    IsBoldFace = false;
    if (!Name.empty()) {
        std::string Found = FindModuleFile(Name);
        if (Found.empty()) Found = FindModuleFile(Name + ".ttf");
        if (!Found.empty()) return Found;
    }
    if (Bold) {
        const std::string BoldFace = FindModuleFile(kDefaultBoldFontFile);
        if (!BoldFace.empty()) {
            IsBoldFace = true;
            return BoldFace;
        }
    }
    return FindModuleFile(kDefaultFontFile);
}

}  // namespace zembra::hooks
