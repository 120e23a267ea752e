#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "json/token.h"

namespace json {
namespace {

using Location = Reader::Location;

// Membership of a byte in a small set, answered by one table lookup.
class ByteSet {
 public:
  explicit constexpr ByteSet(std::string_view members) {
    for (const char member : members) contains_[static_cast<unsigned char>(member)] = true;
  }
  constexpr bool Contains(char byte) const { return contains_[static_cast<unsigned char>(byte)]; }

 private:
  bool contains_[256] = {};
};

constexpr ByteSet kWhitespace(" \t\n\v\f\r");
constexpr ByteSet kNumberCharacters("0123456789.eE-+");

// Places in the input are 32-bit counters; an input that would overflow
// them is refused rather than given wrong locations.
constexpr std::uint32_t kMostBytes = std::numeric_limits<std::uint32_t>::max();

// The caller's stream read straight from its buffer: a JSON reply is read
// byte by byte, and going through the buffer avoids the per-call sentry of
// istream::get and peek.
class InputStream {
 public:
  // Records in `lineStarts` the offset after each line feed taken.
  InputStream(std::istream& stream, std::vector<std::uint32_t>& lineStarts)
      : stream_(stream), lineStarts_(lineStarts) {
    const std::istream::sentry ready(stream, /*noskipws=*/true);
    if (ready) buffer_ = stream.rdbuf();
  }

  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // Leaves the stream in the state an ordinary read to its end would.
  void MarkEnd() {
    if (buffer_ != nullptr) stream_.setstate(std::ios::eofbit);
  }

  bool AtEnd() const {
    return buffer_ == nullptr ||
           std::istream::traits_type::eq_int_type(buffer_->sgetc(),
                                                  std::istream::traits_type::eof());
  }

  // Only after AtEnd() said false.
  char Peek() const { return std::istream::traits_type::to_char_type(buffer_->sgetc()); }

  char Take() {
    if (location_.offset == kMostBytes) throw std::length_error("JSON text too large");
    const char taken = std::istream::traits_type::to_char_type(buffer_->sbumpc());
    ++location_.offset;
    if (taken == '\n') {
      ++location_.line;
      location_.column = 0;
      lineStarts_.push_back(location_.offset);
    } else {
      ++location_.column;
    }
    return taken;
  }

  const Location& Where() const { return location_; }

 private:
  std::istream& stream_;
  std::vector<std::uint32_t>& lineStarts_;
  std::streambuf* buffer_ = nullptr;  // none when the stream was not readable
  Location location_;
};

void MatchExpected(InputStream& input, std::string_view expected) {
  for (const char wanted : expected) {
    if (input.AtEnd() || input.Take() != wanted) {
      throw Reader::ScanException("Expected string: " + std::string(expected), input.Where());
    }
  }
}

char TranslateEscape(char escaped, const InputStream& input) {
  switch (escaped) {
    case '"': return '"';
    case '/': return '/';
    case '\\': return '\\';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default:
      // Includes \u: Unicode escapes are not supported, and refusing them is
      // safer than passing six literal bytes on as if they were text.
      throw Reader::ScanException(
          std::string("Unrecognized escape sequence found in string: \\") + escaped,
          input.Where());
  }
}

void MatchString(InputStream& input, std::string& text) {
  MatchExpected(input, "\"");
  while (!input.AtEnd() && input.Peek() != '"') {
    char next = input.Take();
    if (next == '\\' && !input.AtEnd()) next = TranslateEscape(input.Take(), input);
    text.push_back(next);
  }
  MatchExpected(input, "\"");
}

void MatchNumber(InputStream& input, std::string& text) {
  while (!input.AtEnd() && kNumberCharacters.Contains(input.Peek())) text.push_back(input.Take());
}

void MatchLiteral(InputStream& input, std::string_view literal, std::string& text) {
  MatchExpected(input, literal);
  text += literal;
}

void SkipWhitespace(InputStream& input) {
  while (!input.AtEnd() && kWhitespace.Contains(input.Peek())) input.Take();
}

// Reads one token, whose first byte is `next`, appending its text to `text`.
TokenKind MatchToken(InputStream& input, char next, std::string& text) {
  switch (next) {
    case '{': MatchLiteral(input, "{", text); return TokenKind::kObjectBegin;
    case '}': MatchLiteral(input, "}", text); return TokenKind::kObjectEnd;
    case '[': MatchLiteral(input, "[", text); return TokenKind::kArrayBegin;
    case ']': MatchLiteral(input, "]", text); return TokenKind::kArrayEnd;
    case ',': MatchLiteral(input, ",", text); return TokenKind::kNextElement;
    case ':': MatchLiteral(input, ":", text); return TokenKind::kMemberAssign;
    case '"': MatchString(input, text); return TokenKind::kString;
    case 't': MatchLiteral(input, "true", text); return TokenKind::kBoolean;
    case 'f': MatchLiteral(input, "false", text); return TokenKind::kBoolean;
    case 'n': MatchLiteral(input, "null", text); return TokenKind::kNull;
    default:
      if (next == '-' || (next >= '0' && next <= '9')) {
        MatchNumber(input, text);
        return TokenKind::kNumber;
      }
      // The byte is left unread, so the location points before it.
      throw Reader::ScanException(std::string("Unexpected character in stream: ") + next,
                                  input.Where());
  }
}

}  // namespace

TokenList Tokenize(std::istream& stream) {
  TokenList list;
  InputStream input(stream, list.lineStarts);
  for (;;) {
    SkipWhitespace(input);
    if (input.AtEnd()) break;
    Token token;
    token.offsetBegin = input.Where().offset;
    // The texts are never longer than the input, so their size fits too.
    token.textBegin = static_cast<std::uint32_t>(list.texts.size());
    token.kind = MatchToken(input, input.Peek(), list.texts);
    token.offsetEnd = input.Where().offset;
    list.tokens.push_back(token);
  }
  input.MarkEnd();
  return list;
}

}  // namespace json
