#pragma once

// Options handed to the libraries as a dictionary. A call takes the entries it knows and leaves
// the rest; a clip treats any leftover as a mistake rather than passing over it.

#include <string>

#include "binding/FFmpegHolders.h"
#include "tests/media/TestMedia.h"

namespace zembra::testmedia {

// "" or the error.
std::string FillDictionary(const TOptions& Options, TDictionary& Dictionary);
// The names still in Dictionary, comma-separated; "" when every option was taken.
std::string LeftoverNames(const TDictionary& Dictionary);

}  // namespace zembra::testmedia
