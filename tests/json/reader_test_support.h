// Shared helpers for the reader tests: reading a text and catching the
// failure it is expected to raise.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>

#include "json/reader.h"

namespace json {

inline Object ReadText(const std::string& text) {
  std::istringstream stream(text);
  Object object;
  Reader::Read(object, stream);
  return object;
}

// The exception of type E raised by reading `text`; empty (and a test
// failure) when reading succeeds or raises something else.
template <typename E>
std::optional<E> FailureOf(const std::string& text, Object* target = nullptr) {
  std::istringstream stream(text);
  Object local;
  try {
    Reader::Read(target != nullptr ? *target : local, stream);
    ADD_FAILURE() << "read succeeded: " << text;
  } catch (const E& error) {
    return error;
  } catch (const std::exception& other) {
    ADD_FAILURE() << "unexpected failure \"" << other.what() << "\" for: " << text;
  }
  return std::nullopt;
}

inline std::string Where(const Reader::Location& at) {
  return std::to_string(at.line) + ":" + std::to_string(at.column) + "@" +
         std::to_string(at.offset);
}

}  // namespace json
