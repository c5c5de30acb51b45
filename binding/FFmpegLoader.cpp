#include "binding/FFmpegLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cassert>
#include <climits>
#include <cmath>
#include <vector>

#include "binding/EntryPointTables.h"
#include "binding/EntryPoints.h"
#include "util/MainThread.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

namespace {

const TLibraryItem kLibraries[kLibraryCount] = {
    {libAVCodec, u"avcodec", LIBAVCODEC_VERSION_MAJOR, FillAVCodec, ClearAVCodec},
    {libAVDevice, u"avdevice", LIBAVDEVICE_VERSION_MAJOR, FillAVDevice, ClearAVDevice},
    {libAVFilter, u"avfilter", LIBAVFILTER_VERSION_MAJOR, FillAVFilter, ClearAVFilter},
    {libAVFormat, u"avformat", LIBAVFORMAT_VERSION_MAJOR, FillAVFormat, ClearAVFormat},
    {libAVUtil, u"avutil", LIBAVUTIL_VERSION_MAJOR, FillAVUtil, ClearAVUtil},
    {libSwScale, u"swscale", LIBSWSCALE_VERSION_MAJOR, FillSwScale, ClearSwScale},
    {libMyUtil, u"myutil", -1, FillMyUtil, ClearMyUtil},
    {libSDL, u"SDL", -1, FillSDL, ClearSDL},
    {libSwResample, u"swresample", LIBSWRESAMPLE_VERSION_MAJOR, FillSwResample, ClearSwResample},
};

bool ValidIndex(int Index) {
    return Index >= 0 && Index < kLibraryCount;
}

}  // namespace

TFFmpegLoader::TFFmpegLoader() = default;

std::u16string TFFmpegLoader::LibraryFileName(int Index) const {
    if (!ValidIndex(Index)) return {};
    const TLibraryItem& Item = kLibraries[Index];
    std::u16string Name = u"lib" + std::u16string(Item.BaseName) + u".so";
    if (Item.Version >= 0) Name += u"." + Utf8ToUtf16(std::to_string(Item.Version));
    return Name;
}

bool TFFmpegLoader::LoadLibraryItem(int Index) {
    if (!ValidIndex(Index)) {
        FLastError = Format("Unknown library index %d", Index);
        return false;
    }
    TLibraryStatus& Status = FStatus[Index];
    const std::u16string Name = LibraryFileName(Index);
    if (!Status.Module) {
        std::u16string Folder = ExtractFilePathW(Name);
        std::u16string File = Name.substr(Folder.size());
        if (Folder.empty() && !FLibraryPath.empty()) Folder = IncludeTrailingPathDelimiterW(FLibraryPath);
        std::string ErrorText;
        void* Module = OpenLibraryFile(Folder, File, ErrorText);
        if (!Module) {
            FLastError =
                Format("Load library %s error: %s", Utf16ToUtf8(Folder + File).c_str(), ErrorText.c_str());
            return false;
        }
        Status.Module = Module;
        Status.Path = Utf16ToUtf8(FileExistsW(Folder + File) ? Folder + File : File);
    }
    if (!Status.Filled) {
        try {
            kLibraries[Index].Fill(Utf16ToUtf8(Name), Status.Module);
            Status.Filled = true;
        } catch (const std::exception& E) {
            FLastError = E.what();
        }
    }
    if (!Status.Filled) UnloadLibraryItem(Index);
    const bool Result = Status.Filled;
    if (Result && Index == libAVUtil && FLogHook && FLogCallbackInstaller) FLogCallbackInstaller();
    if (Result && Index == libAVFormat && FProtocolRegistration) FProtocolRegistration();
    return Result;
}

bool TFFmpegLoader::LoadLibrarySet(TLibrarySet Set) {
    assert(Set != 0 && "empty library set");
    for (int I = 0; I < kLibraryCount; ++I) {
        if (!(Set & (TLibrarySet(1) << I))) continue;
        if (!LoadLibraryItem(I)) {
            UnloadLibrarySet(Set);
            return false;
        }
    }
    return true;
}

bool TFFmpegLoader::IsLoaded(int Index) const {
    return ValidIndex(Index) && FStatus[Index].Module != nullptr && FStatus[Index].Filled;
}

bool TFFmpegLoader::AllLoaded(TLibrarySet Set) const {
    assert(Set != 0 && "empty library set");
    for (int I = 0; I < kLibraryCount; ++I)
        if ((Set & (TLibrarySet(1) << I)) && !IsLoaded(I)) return false;
    return true;
}

void TFFmpegLoader::UnloadLibraryItem(int Index) {
    if (!ValidIndex(Index)) return;
    TLibraryStatus& Status = FStatus[Index];
    if (Status.Filled) {
        kLibraries[Index].Clear();
        Status.Filled = false;
    }
    if (Status.Module) {
        ::dlclose(Status.Module);
        Status.Module = nullptr;
        Status.Path.clear();
    }
}

void TFFmpegLoader::UnloadLibrarySet(TLibrarySet Set) {
    assert(Set != 0 && "empty library set");
    for (int I = 0; I < kLibraryCount; ++I)
        if (Set & (TLibrarySet(1) << I)) UnloadLibraryItem(I);
}

std::string TFFmpegLoader::LoadedFrom(int Index) const {
    return ValidIndex(Index) ? FStatus[Index].Path : "";
}

TFFmpegLoader& FFLoader() {
    static TFFmpegLoader Loader;
    return Loader;
}

std::u16string DefaultLibraryFolder() {
    std::vector<char> Buf(PATH_MAX + 1);
    const ssize_t N = ::readlink("/proc/self/exe", Buf.data(), Buf.size() - 1);
    if (N <= 0) return u"LibAV";
    const std::u16string Exe = Utf8ToUtf16(std::string(Buf.data(), static_cast<size_t>(N)));
    return ExtractFilePathW(Exe) + u"LibAV";
}

TCriticalSection& CodecLock() {
    static TCriticalSection Lock;
    return Lock;
}

TCodecLockGuard::TCodecLockGuard() {
    if (IsMainThread())
        WaitInMainThread([] { return CodecLock().TryEnter(); });
    else
        CodecLock().Enter();
}

TCodecLockGuard::~TCodecLockGuard() {
    CodecLock().Leave();
}

void* LoadEntryPoint(const std::string& LibraryFileName, void* Module, const char* Name) {
    ::dlerror();
    void* Address = ::dlsym(Module, Name);
    if (!Address) {
        const char* Error = ::dlerror();
        throw FFmpegLoadError(Format("Load function %s@%s error: %s", Name, LibraryFileName.c_str(),
                                     Error ? Error : "not found"));
    }
    return Address;
}

void* OpenLibraryFile(const std::u16string& Folder, const std::u16string& FileName, std::string& ErrorText) {
    ::dlerror();
    void* Module = nullptr;
    // A file in the folder is loaded by its full path; its own dependencies resolve to the
    // libraries already loaded or through the default search.
    if (!Folder.empty() && FileExistsW(IncludeTrailingPathDelimiterW(Folder) + FileName))
        Module = ::dlopen(FileSystemName(IncludeTrailingPathDelimiterW(Folder) + FileName).c_str(),
                          RTLD_NOW | RTLD_LOCAL);
    else
        Module = ::dlopen(FileSystemName(FileName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!Module) {
        const char* Error = ::dlerror();
        ErrorText = Error ? Error : "unknown error";
    }
    return Module;
}

int ClipInt(int Value, int Low, int High) {
    if (Value < Low) return Low;
    if (Value > High) return High;
    return Value;
}

AVRational DoubleToRational(double Value, int Maximum) {
    if (std::isnan(Value)) return AVRational{0, 0};
    // Beyond the int range no denominator helps; this also keeps the numerator below 2^63.
    if (std::fabs(Value) > static_cast<double>(INT_MAX) + 3.0) return AVRational{Value < 0 ? -1 : 1, 0};
    int Exponent = static_cast<int>(std::nearbyint(std::log(std::fabs(Value) + 1e-20) / std::log(2.0)));
    if (Exponent < 0) Exponent = 0;
    // The shift is taken modulo 32 but done in 64 bits: a 32-bit 1 << 31 would be negative and
    // flip the sign of values near 2^30.
    const int64_t Den = int64_t(1) << ((61 - Exponent) & 31);
    const int64_t Num = static_cast<int64_t>(std::nearbyint(Value * static_cast<double>(Den) + 0.5));
    if (!lavu.av_reduce) throw std::logic_error("DoubleToRational needs avutil loaded");
    AVRational R{0, 1};
    lavu.av_reduce(&R.num, &R.den, Num, Den, Maximum);
    return R;
}

}  // namespace zembra
