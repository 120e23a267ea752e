#include "json/reader.h"

#include <cstddef>
#include <utility>

#include "json/number_text.h"
#include "json/token.h"

namespace json {
namespace {

using Location = Reader::Location;
using ParseException = Reader::ParseException;

// Recursive descent over the token list.  Tokens are taken in order and
// never revisited, so string texts are moved out rather than copied.
class Parser {
 public:
  explicit Parser(Tokens& tokens) : tokens_(tokens) {}

  bool AtEnd() const { return next_ == tokens_.size(); }

  // Only after AtEnd() said false.
  const Token& Peek() const { return tokens_[next_]; }

  Token& TakeExpected(TokenKind kind) {
    if (AtEnd()) throw ParseException("Unexpected End of token stream", Location(), Location());
    Token& token = tokens_[next_++];
    if (token.kind != kind) throw UnexpectedToken(token);
    return token;
  }

  void ParseValue(UnknownElement& element) {
    if (AtEnd()) throw ParseException("Unexpected end of token stream", Location(), Location());
    switch (Peek().kind) {
      case TokenKind::kObjectBegin:
        ParseObject(element.Convert<Object>());
        break;
      case TokenKind::kArrayBegin:
        ParseArray(element.Convert<Array>());
        break;
      case TokenKind::kString:
        element.Convert<String>().Value() = std::move(TakeExpected(TokenKind::kString).text);
        break;
      case TokenKind::kNumber:
        element.Convert<Number>().Value() = ReadNumber(TakeExpected(TokenKind::kNumber));
        break;
      case TokenKind::kBoolean:
        element.Convert<Boolean>().Value() = TakeExpected(TokenKind::kBoolean).text == "true";
        break;
      case TokenKind::kNull:
        element.Convert<Null>();
        TakeExpected(TokenKind::kNull);
        break;
      default:
        throw UnexpectedToken(Peek());
    }
  }

  void ParseObject(Object& object) {
    const NestingLevel level(*this, TakeExpected(TokenKind::kObjectBegin));
    if (!AtEnd() && Peek().kind != TokenKind::kObjectEnd) {
      // After a comma another member must follow: a trailing comma fails on
      // the closing brace where a name is expected.
      for (;;) {
        Token& name = TakeExpected(TokenKind::kString);
        TakeExpected(TokenKind::kMemberAssign);
        Member member{std::move(name.text), UnknownElement()};
        ParseValue(member.element);
        if (object.Find(member.name) != object.end()) {
          throw ParseException("Duplicate object member token: " + member.name,
                               name.locationBegin, name.locationEnd);
        }
        object.Insert(std::move(member));
        if (AtEnd() || Peek().kind != TokenKind::kNextElement) break;
        TakeExpected(TokenKind::kNextElement);
      }
    }
    TakeExpected(TokenKind::kObjectEnd);
  }

  void ParseArray(Array& array) {
    const NestingLevel level(*this, TakeExpected(TokenKind::kArrayBegin));
    if (!AtEnd() && Peek().kind != TokenKind::kArrayEnd) {
      for (;;) {
        ParseValue(*array.Insert(UnknownElement()));
        if (AtEnd() || Peek().kind != TokenKind::kNextElement) break;
        TakeExpected(TokenKind::kNextElement);
      }
    }
    TakeExpected(TokenKind::kArrayEnd);
  }

  static ParseException UnexpectedToken(const Token& token) {
    return ParseException("Unexpected token: " + token.text, token.locationBegin,
                          token.locationEnd);
  }

 private:
  // Counts one object or array being parsed; refuses the one that would go
  // deeper than the bound, before anything of it is built.
  class NestingLevel {
   public:
    NestingLevel(Parser& parser, const Token& opening) : parser_(parser) {
      if (parser_.depth_ == Reader::kMaxNestingDepth) {
        throw ParseException("Nesting too deep", opening.locationBegin, opening.locationEnd);
      }
      ++parser_.depth_;
    }
    ~NestingLevel() { --parser_.depth_; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;

   private:
    Parser& parser_;
  };

  static double ReadNumber(const Token& token) {
    const NumberConversion number = ConvertNumber(token.text);
    if (!number.converted) {
      throw ParseException(std::string("Unexpected character in NUMBER token: ") + number.unexpected,
                           token.locationBegin, token.locationEnd);
    }
    return number.value;
  }

  Tokens& tokens_;
  std::size_t next_ = 0;
  std::size_t depth_ = 0;
};

}  // namespace

void Reader::Read(Object& object, std::istream& stream) {
  Tokens tokens = Tokenize(stream);
  Parser parser(tokens);
  parser.ParseObject(object);
  if (!parser.AtEnd()) {
    const Token& extra = parser.Peek();
    throw ParseException("Expected End of token stream; found " + extra.text, extra.locationBegin,
                         extra.locationEnd);
  }
}

}  // namespace json
