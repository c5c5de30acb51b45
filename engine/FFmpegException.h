#pragma once

#include <stdexcept>
#include <string>

namespace zembra {

// The only exception the engine raises: a message text and nothing else.
class FFmpegException : public std::runtime_error {
  public:
    explicit FFmpegException(const std::string& Message) : std::runtime_error(Message) {}
};

// The run-time library's conversion errors ("'abc' is not a valid integer value").
class EConvertError : public std::runtime_error {
  public:
    explicit EConvertError(const std::string& Message) : std::runtime_error(Message) {}
};

}  // namespace zembra
