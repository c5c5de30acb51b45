#include "app/ExceptionText.h"

#include "engine/FFmpegException.h"

namespace zembra {

std::string ExceptionBoxText(const std::string& Message) {
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > static_cast<unsigned char>('.'))
        return Message + ".";
    return Message;
}

TBoxIcon ExceptionBoxIcon(const std::exception& E) {
    return dynamic_cast<const FFmpegException*>(&E) ? TBoxIcon::Warning : TBoxIcon::Error;
}

}  // namespace zembra
