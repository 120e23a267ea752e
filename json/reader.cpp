#include "json/reader.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "json/number_text.h"
#include "json/token.h"

namespace json {
namespace {

using Location = Reader::Location;
using ParseException = Reader::ParseException;

// Recursive descent over the token list; tokens are named by their index.
class Parser {
 public:
  explicit Parser(const TokenList& list) : list_(list) {}

  bool AtEnd() const { return next_ == list_.tokens.size(); }

  // Only after AtEnd() said false.
  std::size_t Next() const { return next_; }
  TokenKind PeekKind() const { return list_.tokens[next_].kind; }

  std::string_view Text(std::size_t token) const { return list_.Text(token); }

  std::size_t TakeExpected(TokenKind kind) {
    if (AtEnd()) throw ParseException("Unexpected End of token stream", Location(), Location());
    const std::size_t token = next_++;
    if (list_.tokens[token].kind != kind) throw Failure("Unexpected token: ", token);
    return token;
  }

  void ParseValue(UnknownElement& element) {
    if (AtEnd()) throw ParseException("Unexpected end of token stream", Location(), Location());
    switch (PeekKind()) {
      case TokenKind::kObjectBegin:
        ParseObject(element.Convert<Object>());
        break;
      case TokenKind::kArrayBegin:
        ParseArray(element.Convert<Array>());
        break;
      case TokenKind::kString:
        element.Convert<String>().Value() = Text(TakeExpected(TokenKind::kString));
        break;
      case TokenKind::kNumber:
        element.Convert<Number>().Value() = ReadNumber(TakeExpected(TokenKind::kNumber));
        break;
      case TokenKind::kBoolean:
        element.Convert<Boolean>().Value() = Text(TakeExpected(TokenKind::kBoolean)) == "true";
        break;
      case TokenKind::kNull:
        element.Convert<Null>();
        TakeExpected(TokenKind::kNull);
        break;
      default:
        throw Failure("Unexpected token: ", next_);
    }
  }

  void ParseObject(Object& object) {
    const NestingLevel level(*this, TakeExpected(TokenKind::kObjectBegin));
    if (!AtEnd() && PeekKind() != TokenKind::kObjectEnd) {
      // After a comma another member must follow: a trailing comma fails on
      // the closing brace where a name is expected.
      for (;;) {
        const std::size_t name = TakeExpected(TokenKind::kString);
        TakeExpected(TokenKind::kMemberAssign);
        Member member{std::string(Text(name)), UnknownElement()};
        ParseValue(member.element);
        try {
          object.Insert(std::move(member));
        } catch (const Exception&) {  // the one refusal Insert has: a duplicate name
          throw Failure("Duplicate object member token: ", name);
        }
        if (AtEnd() || PeekKind() != TokenKind::kNextElement) break;
        TakeExpected(TokenKind::kNextElement);
      }
    }
    TakeExpected(TokenKind::kObjectEnd);
  }

  void ParseArray(Array& array) {
    const NestingLevel level(*this, TakeExpected(TokenKind::kArrayBegin));
    if (!AtEnd() && PeekKind() != TokenKind::kArrayEnd) {
      for (;;) {
        ParseValue(*array.Insert(UnknownElement()));
        if (AtEnd() || PeekKind() != TokenKind::kNextElement) break;
        TakeExpected(TokenKind::kNextElement);
      }
    }
    TakeExpected(TokenKind::kArrayEnd);
  }

  // The failure `message` followed by the token's text, at the token.
  ParseException Failure(const char* message, std::size_t token) const {
    return FailureAt(message + std::string(Text(token)), token);
  }

  ParseException FailureAt(const std::string& message, std::size_t token) const {
    const Token& where = list_.tokens[token];
    return ParseException(message, list_.LocationOf(where.offsetBegin),
                          list_.LocationOf(where.offsetEnd));
  }

 private:
  // Counts one object or array being parsed; refuses the one that would go
  // deeper than the bound, before anything of it is built.
  class NestingLevel {
   public:
    NestingLevel(Parser& parser, std::size_t opening) : parser_(parser) {
      if (parser_.depth_ == Reader::kMaxNestingDepth) {
        throw parser_.FailureAt("Nesting too deep", opening);
      }
      ++parser_.depth_;
    }
    ~NestingLevel() { --parser_.depth_; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;

   private:
    Parser& parser_;
  };

  double ReadNumber(std::size_t token) const {
    const NumberConversion number = ConvertNumber(Text(token));
    if (!number.converted) {
      throw FailureAt(std::string("Unexpected character in NUMBER token: ") + number.unexpected,
                      token);
    }
    return number.value;
  }

  const TokenList& list_;
  std::size_t next_ = 0;
  std::size_t depth_ = 0;
};

}  // namespace

void Reader::Read(Object& object, std::istream& stream) {
  const TokenList tokens = Tokenize(stream);
  Parser parser(tokens);
  parser.ParseObject(object);
  if (!parser.AtEnd()) throw parser.Failure("Expected End of token stream; found ", parser.Next());
}

}  // namespace json
