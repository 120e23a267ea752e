// The tokenizer's output: the input cut into tokens, each with its text and
// where it begins and ends.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>
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
  // Where the token begins and ends, as input offsets; TokenList::LocationOf
  // turns them into full locations.
  std::uint32_t offsetBegin;
  std::uint32_t offsetEnd;
  // Where the token's text starts in TokenList::texts; it runs up to where
  // the next token's starts.
  std::uint32_t textBegin;
  TokenKind kind;
};

// All tokens of an input.  The list, not the document, dominates the
// reader's memory, so tokens are kept small: their texts share one buffer,
// and their places are bare offsets, with lines and columns recovered from
// the offsets of the line starts only when an error reports them.  A deque
// grows without moving what it holds.
struct TokenList {
  std::deque<Token> tokens;
  // Strings: the content with escapes resolved, without the quotes.
  // Numbers: the raw run of number characters.  Others: the literal text.
  std::string texts;
  // The offset just after each line feed of the input, ascending.
  std::vector<std::uint32_t> lineStarts;

  std::string_view Text(std::size_t index) const {
    const std::size_t begin = tokens[index].textBegin;
    const std::size_t end = index + 1 < tokens.size() ? tokens[index + 1].textBegin : texts.size();
    return std::string_view(texts).substr(begin, end - begin);
  }

  Reader::Location LocationOf(std::uint32_t offset) const {
    const auto nextLine = std::upper_bound(lineStarts.begin(), lineStarts.end(), offset);
    Reader::Location location;
    location.offset = offset;
    location.line = static_cast<std::uint32_t>(nextLine - lineStarts.begin());
    location.column = offset - (nextLine == lineStarts.begin() ? 0 : *(nextLine - 1));
    return location;
  }
};

// Reads `stream` to its end.  Throws Reader::ScanException, or
// std::length_error for an input of 4 GiB or more.
TokenList Tokenize(std::istream& stream);

}  // namespace json
