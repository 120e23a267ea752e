// The tokenizer's output: the input cut into tokens, each with its text and
// where it begins and ends.
#pragma once

#include <cstddef>
#include <cstdint>
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
  Reader::Location locationBegin;
  Reader::Location locationEnd;
  // Where the token's text starts in TokenList::texts; it runs up to where
  // the next token's starts.
  std::uint32_t textBegin;
  TokenKind kind;
};

// All tokens of an input.  Their texts share one buffer instead of a string
// each: a large reply has hundreds of thousands of tokens, and small, plain
// tokens keep the list compact (the list, not the document, is what dominates
// the reader's memory).  A deque grows without moving what it holds.
struct TokenList {
  std::deque<Token> tokens;
  // Strings: the content with escapes resolved, without the quotes.
  // Numbers: the raw run of number characters.  Others: the literal text.
  std::string texts;

  std::string_view Text(std::size_t index) const {
    const std::size_t begin = tokens[index].textBegin;
    const std::size_t end = index + 1 < tokens.size() ? tokens[index + 1].textBegin : texts.size();
    return std::string_view(texts).substr(begin, end - begin);
  }
};

// Reads `stream` to its end.  Throws Reader::ScanException, or
// std::length_error for more than 4 GiB of token text.
TokenList Tokenize(std::istream& stream);

}  // namespace json
