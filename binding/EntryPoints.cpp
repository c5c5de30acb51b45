#include "binding/EntryPoints.h"

#include "binding/EntryPointTables.h"
#include "binding/FFmpegLoader.h"

namespace zembra {

TAVCodecTable lavc;
TAVDeviceTable lavd;
TAVFilterTable lavfi;
TAVFormatTable lavf;
TAVUtilTable lavu;
TSwScaleTable lsws;
TMyUtilTable myutil;
TSwResampleTable lswr;

// A table is filled into a copy and published only when every name was found, so a failed
// load never leaves entries pointing into a module that is about to be freed.
#define ZEMBRA_FILL_ENTRY(Name) \
    Table.Name = reinterpret_cast<decltype(Table.Name)>(LoadEntryPoint(FileName, Module, #Name));

#define ZEMBRA_DEFINE_TABLE_FUNCTIONS(Suffix, TableType, Global, List) \
    void Fill##Suffix(const std::string& FileName, void* Module) {     \
        TableType Table;                                               \
        List(ZEMBRA_FILL_ENTRY) Global = Table;                        \
    }                                                                  \
    void Clear##Suffix() {                                             \
        Global = TableType{};                                          \
    }

ZEMBRA_DEFINE_TABLE_FUNCTIONS(AVCodec, TAVCodecTable, lavc, ZEMBRA_AVCODEC_ENTRY_POINTS)
ZEMBRA_DEFINE_TABLE_FUNCTIONS(AVFilter, TAVFilterTable, lavfi, ZEMBRA_AVFILTER_ENTRY_POINTS)
ZEMBRA_DEFINE_TABLE_FUNCTIONS(AVFormat, TAVFormatTable, lavf, ZEMBRA_AVFORMAT_ENTRY_POINTS)
ZEMBRA_DEFINE_TABLE_FUNCTIONS(AVUtil, TAVUtilTable, lavu, ZEMBRA_AVUTIL_ENTRY_POINTS)
ZEMBRA_DEFINE_TABLE_FUNCTIONS(SwScale, TSwScaleTable, lsws, ZEMBRA_SWSCALE_ENTRY_POINTS)
ZEMBRA_DEFINE_TABLE_FUNCTIONS(MyUtil, TMyUtilTable, myutil, ZEMBRA_MYUTIL_ENTRY_POINTS)
ZEMBRA_DEFINE_TABLE_FUNCTIONS(SwResample, TSwResampleTable, lswr, ZEMBRA_SWRESAMPLE_ENTRY_POINTS)

// avdevice still has a register call; the other libraries register everything themselves.
void FillAVDevice(const std::string& FileName, void* Module) {
    TAVDeviceTable Table;
    ZEMBRA_AVDEVICE_ENTRY_POINTS(ZEMBRA_FILL_ENTRY)
    Table.avdevice_register_all();
    lavd = Table;
}
void ClearAVDevice() {
    lavd = TAVDeviceTable{};
}

// SDL is bound by name only; nothing of it is ever called.
void FillSDL(const std::string& FileName, void* Module) {
    (void)FileName;
    (void)Module;
}
void ClearSDL() {}

}  // namespace zembra
