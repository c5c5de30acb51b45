#pragma once

// One entry-point table per library. Every call into a library goes through these:
// lavc.avcodec_open2(...), lavf.av_read_frame(...), and so on.

#include "binding/EntryPointLists.h"
#include "binding/FFmpegHeaders.h"
#include "myutil/MyUtil.h"

namespace zembra {

#define ZEMBRA_TABLE_MEMBER(Name) decltype(&::Name) Name = nullptr;

struct TAVCodecTable {
    ZEMBRA_AVCODEC_ENTRY_POINTS(ZEMBRA_TABLE_MEMBER)
};
struct TAVDeviceTable {
    ZEMBRA_AVDEVICE_ENTRY_POINTS(ZEMBRA_TABLE_MEMBER)
};
struct TAVFilterTable {
    ZEMBRA_AVFILTER_ENTRY_POINTS(ZEMBRA_TABLE_MEMBER)
};
struct TAVFormatTable {
    ZEMBRA_AVFORMAT_ENTRY_POINTS(ZEMBRA_TABLE_MEMBER)
};
struct TAVUtilTable {
    ZEMBRA_AVUTIL_ENTRY_POINTS(ZEMBRA_TABLE_MEMBER)
};
struct TSwScaleTable {
    ZEMBRA_SWSCALE_ENTRY_POINTS(ZEMBRA_TABLE_MEMBER)
};
struct TMyUtilTable {
    ZEMBRA_MYUTIL_ENTRY_POINTS(ZEMBRA_TABLE_MEMBER)
};
struct TSwResampleTable {
    ZEMBRA_SWRESAMPLE_ENTRY_POINTS(ZEMBRA_TABLE_MEMBER)
};

#undef ZEMBRA_TABLE_MEMBER

extern TAVCodecTable lavc;
extern TAVDeviceTable lavd;
extern TAVFilterTable lavfi;
extern TAVFormatTable lavf;
extern TAVUtilTable lavu;
extern TSwScaleTable lsws;
extern TMyUtilTable myutil;
extern TSwResampleTable lswr;

}  // namespace zembra
