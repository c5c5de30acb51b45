#pragma once

// What both programs' --version print after their versions: who holds the copyright and under
// which licence, so that whoever has a copy learns what they may do with it.

#include <string>

namespace zembra {

// Lines ending in a line feed, the licence named by its SPDX identifier.
std::string LicenceNotice();

}  // namespace zembra
