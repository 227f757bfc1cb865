#pragma once
// The tool's exception root. Every failure the user may see is an exception
// carrying the tool's own message text (UTF-8, as all core text), byte for
// byte.
#include <stdexcept>
#include <string>

namespace kx {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A read outside the bounds of an image, a file or a resource.
class EReadError : public Exception {
 public:
  using Exception::Exception;
};

// "Cannot open file %s" and other stream failures.
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace kx
