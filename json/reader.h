// Reads a JSON document whose top level is an object from a byte stream.
//
// The whole input is first cut into tokens, then parsed; a scan error
// anywhere in the input is therefore reported before any parse error.
// Strings are taken byte for byte (no \u escapes, no encoding checks).
// Members read before a failure stay in the target object; callers discard
// it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

#include "json/elements.h"

namespace json {

class Reader {
 public:
  // A place in the input, every counter from 0: bytes consumed, line feeds
  // consumed, and bytes since the last line feed (a carriage return is a
  // column like any other byte).
  struct Location {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    std::uint32_t offset = 0;
  };

  // The input cannot be cut into tokens; `location` is where the tokenizer
  // stood when it gave up.
  class ScanException : public Exception {
   public:
    ScanException(const std::string& message, const Location& where)
        : Exception(message), location(where) {}
    Location location;
  };

  // The tokens do not form the expected document; the locations are the
  // begin and end of the offending token, or all 0 when the tokens ran out.
  class ParseException : public Exception {
   public:
    ParseException(const std::string& message, const Location& begin, const Location& end)
        : Exception(message), locationBegin(begin), locationEnd(end) {}
    Location locationBegin;
    Location locationEnd;
  };

  // The parser recurses once per nested object or array; input nested deeper
  // than this is refused with ParseException("Nesting too deep") at the
  // opening bracket that goes one level too far, long before the stack runs
  // out.  No real reply comes near it.
  static constexpr std::size_t kMaxNestingDepth = 512;

  // Fills the (empty) `object` from `stream`, which must hold exactly one
  // object and nothing after it but whitespace.  Throws ScanException or
  // ParseException.
  static void Read(Object& object, std::istream& stream);
};

}  // namespace json
