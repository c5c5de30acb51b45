#pragma once

#include <string>

namespace zembra {

// Whether a name is a pipe, a character device or a socket: opening one can block for good
// (a FIFO waits for its writer) and reading it eats what another program sends. Such names are
// refused as inputs before anything opens them. A name that is missing, a plain file, a folder,
// a block device or a link to one of those is not special.
bool IsSpecialFile(const std::u16string& FileName);

// The refusal's text: "NAME is not a regular file".
std::string SpecialFileText(const std::u16string& FileName);

}  // namespace zembra
