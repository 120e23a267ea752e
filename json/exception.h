// The one error type of the JSON value model; the reader's exceptions derive
// from it, so a caller that only wants "did it work" catches json::Exception.
#pragma once

#include <stdexcept>
#include <string>

namespace json {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace json
