#pragma once

#include <string>

#include "binding/FFmpegHeaders.h"

namespace zembra {

// Whether a muxer writes Picture (an attached picture with its packet) as the cover beside a
// sound of the muxer's own default coding: "" or what the muxer said. Tried on nothing, so that
// a picture the muxer refuses costs the output its cover, never its sound.
std::string CoverPictureRefusal(const AVOutputFormat* Format, const AVStream* Picture);

}  // namespace zembra
