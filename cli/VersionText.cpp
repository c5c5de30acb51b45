#include "cli/VersionText.h"

#include "app/LicenceNotice.h"
#include "binding/EntryPoints.h"
#include "util/StringUtils.h"

namespace zembra::cli {

namespace {

std::string LibraryLine(const char* Name, unsigned (*Version)()) {
    if (!Version) return Format("%-14s not loaded\n", Name);
    const unsigned V = Version();
    return Format("%-14s %u.%u.%u\n", Name, AV_VERSION_MAJOR(V), AV_VERSION_MINOR(V), AV_VERSION_MICRO(V));
}

}  // namespace

std::string VersionText() {
    return std::string("zembra-cli ") + ZEMBRA_VERSION + "\n" +
           LibraryLine("libavutil", lavu.avutil_version) + LibraryLine("libavcodec", lavc.avcodec_version) +
           LibraryLine("libavformat", lavf.avformat_version) +
           LibraryLine("libavfilter", lavfi.avfilter_version) +
           LibraryLine("libswscale", lsws.swscale_version) +
           LibraryLine("libswresample", lswr.swresample_version) + "\n" + LicenceNotice();
}

}  // namespace zembra::cli
