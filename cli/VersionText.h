#pragma once

#include <string>

namespace zembra::cli {

// "--version": the program's version, then each loaded media library's, one a line, then after an
// empty line the copyright and the licence.
std::string VersionText();

}  // namespace zembra::cli
