#pragma once

// What the application's exception box says, and with which icon.

#include <exception>
#include <string>

namespace zembra {

// The message, with "." appended when it is not empty and its last character sorts after "."
// ("Failed!" stays, "Failed" becomes "Failed.").
std::string ExceptionBoxText(const std::string& Message);

// Engine exceptions are the user's input going wrong (a warning); anything else is ours (an
// error).
enum class TBoxIcon { Warning, Error };
TBoxIcon ExceptionBoxIcon(const std::exception& E);

}  // namespace zembra
