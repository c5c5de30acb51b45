#include "util/SpecialFiles.h"

#include <sys/stat.h>

#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

bool IsSpecialFile(const std::u16string& FileName) {
    struct stat St {};
    if (FileName.empty() || ::stat(FileSystemName(FileName).c_str(), &St) != 0) return false;
    return S_ISFIFO(St.st_mode) || S_ISCHR(St.st_mode) || S_ISSOCK(St.st_mode);
}

std::string SpecialFileText(const std::u16string& FileName) {
    return Utf16ToUtf8(FileName) + " is not a regular file";
}

}  // namespace zembra
