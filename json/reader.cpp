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

// Recursive descent over the token list.  Each token is dropped from the
// list as it is taken, so the memory of the tokens already parsed is reused
// for the document being built.
class Parser {
 public:
  explicit Parser(TokenList& list) : list_(list) {}

  bool AtEnd() const { return list_.tokens.empty(); }

  // Only after AtEnd() said false.
  const Token& Peek() const { return list_.tokens.front(); }

  std::string_view Text(const Token& token) const { return list_.Text(token); }

  Token TakeExpected(TokenKind kind) {
    if (AtEnd()) throw ParseException("Unexpected End of token stream", Location(), Location());
    const Token token = list_.tokens.front();
    list_.tokens.pop_front();
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
        throw UnexpectedToken(Peek());
    }
  }

  void ParseObject(Object& object) {
    const NestingLevel level(*this, TakeExpected(TokenKind::kObjectBegin));
    if (!AtEnd() && Peek().kind != TokenKind::kObjectEnd) {
      // After a comma another member must follow: a trailing comma fails on
      // the closing brace where a name is expected.
      for (;;) {
        const Token name = TakeExpected(TokenKind::kString);
        TakeExpected(TokenKind::kMemberAssign);
        Member member{std::string(Text(name)), UnknownElement()};
        ParseValue(member.element);
        try {
          object.Insert(std::move(member));
        } catch (const Exception&) {  // the one refusal Insert has: a duplicate name
          throw ParseException("Duplicate object member token: " + member.name,
                               name.locationBegin, name.locationEnd);
        }
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

  ParseException UnexpectedToken(const Token& token) const {
    return ParseException("Unexpected token: " + std::string(Text(token)), token.locationBegin,
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

  double ReadNumber(const Token& token) const {
    const NumberConversion number = ConvertNumber(Text(token));
    if (!number.converted) {
      throw ParseException(std::string("Unexpected character in NUMBER token: ") + number.unexpected,
                           token.locationBegin, token.locationEnd);
    }
    return number.value;
  }

  TokenList& list_;
  std::size_t depth_ = 0;
};

}  // namespace

void Reader::Read(Object& object, std::istream& stream) {
  TokenList tokens = Tokenize(stream);
  Parser parser(tokens);
  parser.ParseObject(object);
  if (!parser.AtEnd()) {
    const Token& extra = parser.Peek();
    throw ParseException("Expected End of token stream; found " + std::string(parser.Text(extra)),
                         extra.locationBegin, extra.locationEnd);
  }
}

}  // namespace json
