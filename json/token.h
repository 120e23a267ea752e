// The tokenizer's output: the input cut into tokens, each with its text and
// where it begins and ends.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <deque>

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
  Reader::Location locationBegin;
  Reader::Location locationEnd;
  // The token's text, as a slice of TokenList::texts.
  std::size_t textBegin;
  std::size_t textEnd;
};

// All tokens of an input.  Their texts share one buffer instead of a string
// each: a large reply has hundreds of thousands of tokens, and small, plain
// tokens keep the list compact.  A deque grows without moving what it holds
// and lets the parser release tokens from the front as it goes.
struct TokenList {
  std::deque<Token> tokens;
  // Strings: the content with escapes resolved, without the quotes.
  // Numbers: the raw run of number characters.  Others: the literal text.
  std::string texts;

  std::string_view Text(const Token& token) const {
    return std::string_view(texts).substr(token.textBegin, token.textEnd - token.textBegin);
  }
};

// Reads `stream` to its end.  Throws Reader::ScanException.
TokenList Tokenize(std::istream& stream);

}  // namespace json
