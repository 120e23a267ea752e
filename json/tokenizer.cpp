#include <string_view>

#include "json/token.h"

namespace json {
namespace {

using Location = Reader::Location;

constexpr std::string_view kWhitespace = " \t\n\v\f\r";
constexpr std::string_view kNumberCharacters = "0123456789.eE-+";

// The caller's stream read straight from its buffer: a JSON reply is read
// byte by byte, and going through the buffer avoids the per-call sentry of
// istream::get and peek.
class InputStream {
 public:
  explicit InputStream(std::istream& stream) : stream_(stream) {
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
    const char taken = std::istream::traits_type::to_char_type(buffer_->sbumpc());
    ++location_.offset;
    if (taken == '\n') {
      ++location_.line;
      location_.column = 0;
    } else {
      ++location_.column;
    }
    return taken;
  }

  const Location& Where() const { return location_; }

 private:
  std::istream& stream_;
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

std::string MatchString(InputStream& input) {
  MatchExpected(input, "\"");
  std::string text;
  while (!input.AtEnd() && input.Peek() != '"') {
    char next = input.Take();
    if (next == '\\' && !input.AtEnd()) next = TranslateEscape(input.Take(), input);
    text.push_back(next);
  }
  MatchExpected(input, "\"");
  return text;
}

std::string MatchNumber(InputStream& input) {
  std::string text;
  while (!input.AtEnd() && kNumberCharacters.find(input.Peek()) != std::string_view::npos) {
    text.push_back(input.Take());
  }
  return text;
}

// Matches `literal` and returns it as the token text.
std::string MatchLiteral(InputStream& input, std::string_view literal) {
  MatchExpected(input, literal);
  return std::string(literal);
}

void SkipWhitespace(InputStream& input) {
  while (!input.AtEnd() && kWhitespace.find(input.Peek()) != std::string_view::npos) {
    input.Take();
  }
}

}  // namespace

Tokens Tokenize(std::istream& stream) {
  InputStream input(stream);
  Tokens tokens;
  for (;;) {
    SkipWhitespace(input);
    if (input.AtEnd()) break;

    Token token;
    token.locationBegin = input.Where();
    const char next = input.Peek();
    switch (next) {
      case '{': token.kind = TokenKind::kObjectBegin; token.text = MatchLiteral(input, "{"); break;
      case '}': token.kind = TokenKind::kObjectEnd; token.text = MatchLiteral(input, "}"); break;
      case '[': token.kind = TokenKind::kArrayBegin; token.text = MatchLiteral(input, "["); break;
      case ']': token.kind = TokenKind::kArrayEnd; token.text = MatchLiteral(input, "]"); break;
      case ',': token.kind = TokenKind::kNextElement; token.text = MatchLiteral(input, ","); break;
      case ':': token.kind = TokenKind::kMemberAssign; token.text = MatchLiteral(input, ":"); break;
      case '"': token.kind = TokenKind::kString; token.text = MatchString(input); break;
      case 't': token.kind = TokenKind::kBoolean; token.text = MatchLiteral(input, "true"); break;
      case 'f': token.kind = TokenKind::kBoolean; token.text = MatchLiteral(input, "false"); break;
      case 'n': token.kind = TokenKind::kNull; token.text = MatchLiteral(input, "null"); break;
      default:
        if (next == '-' || (next >= '0' && next <= '9')) {
          token.kind = TokenKind::kNumber;
          token.text = MatchNumber(input);
          break;
        }
        // The byte is left unread, so the location points before it.
        throw Reader::ScanException(std::string("Unexpected character in stream: ") + next,
                                    input.Where());
    }
    token.locationEnd = input.Where();
    tokens.push_back(std::move(token));
  }
  input.MarkEnd();
  return tokens;
}

}  // namespace json
