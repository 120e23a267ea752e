// The tokenizer's output: the input cut into tokens, each with its text and
// where it begins and ends.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "json/reader.h"

namespace json {

enum class TokenKind : unsigned char {
  kObjectBegin,
  kObjectEnd,
  kArrayBegin,
  kArrayEnd,
  kNextElement,
  kMemberAssign,
  kString,
  kNumber,
  kBoolean,
  kNull,
};

struct Token {
  TokenKind kind;
  // Strings: the content with escapes resolved, without the quotes.
  // Numbers: the raw run of number characters.  Others: the literal text.
  std::string text;
  Reader::Location locationBegin;
  Reader::Location locationEnd;
};

using Tokens = std::vector<Token>;

// Reads `stream` to its end.  Throws Reader::ScanException.
Tokens Tokenize(std::istream& stream);

}  // namespace json
