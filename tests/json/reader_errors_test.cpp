// Every failure of the reader: its exception type, exact message and
// locations (line:column@offset, all from 0).
#include <gtest/gtest.h>

#include <string>

#include "json/reader.h"
#include "reader_test_support.h"

namespace json {
namespace {

using ScanException = Reader::ScanException;
using ParseException = Reader::ParseException;

struct ScanCase {
  std::string input;
  std::string message;
  std::string at;
};

struct ParseCase {
  std::string input;
  std::string message;
  std::string begin;
  std::string end;
};

void ExpectScanFailures(const std::vector<ScanCase>& cases) {
  for (const ScanCase& expected : cases) {
    SCOPED_TRACE(expected.input);
    const auto error = FailureOf<ScanException>(expected.input);
    if (!error) continue;
    EXPECT_EQ(error->what(), expected.message);
    EXPECT_EQ(Where(error->location), expected.at);
  }
}

void ExpectParseFailures(const std::vector<ParseCase>& cases) {
  for (const ParseCase& expected : cases) {
    SCOPED_TRACE(expected.input);
    const auto error = FailureOf<ParseException>(expected.input);
    if (!error) continue;
    EXPECT_EQ(error->what(), expected.message);
    EXPECT_EQ(Where(error->locationBegin), expected.begin);
    EXPECT_EQ(Where(error->locationEnd), expected.end);
  }
}

TEST(ReaderScanErrors, CharactersThatStartNoToken) {
  ExpectScanFailures({
      {"{} x", "Unexpected character in stream: x", "0:3@3"},
      {"{\"n\":+1}", "Unexpected character in stream: +", "0:5@5"},
      {"{\"n\":.5}", "Unexpected character in stream: .", "0:5@5"},
      {"{\"n\":True}", "Unexpected character in stream: T", "0:5@5"},
      {"{\"n\":0x1}", "Unexpected character in stream: x", "0:6@6"},
      {"{\"n\":truex}", "Unexpected character in stream: x", "0:9@9"},
      {"\n\n  \xEF\xBB\xBF{}", "Unexpected character in stream: \xEF", "2:2@4"},
      // The message's C string ends at the NUL byte itself.
      {std::string("{\0}", 3), "Unexpected character in stream: ", "0:1@1"},
      // A scan error wins over the parse error earlier in the text.
      {"[1] }}} x", "Unexpected character in stream: x", "0:8@8"},
  });
}

TEST(ReaderScanErrors, KeywordsAndQuotesThatDoNotFollow) {
  ExpectScanFailures({
      {"{\"a\":tru", "Expected string: true", "0:8@8"},
      {"{\"a\":trUe}", "Expected string: true", "0:8@8"},
      {"{\"a\":fals", "Expected string: false", "0:9@9"},
      {"{\"a\":nul}", "Expected string: null", "0:9@9"},
      {"{\"a\":\"open", "Expected string: \"", "0:10@10"},
      // A backslash as the very last byte stays literal; the quote is missing.
      {"{\"a\":\"x\\", "Expected string: \"", "0:8@8"},
  });
}

TEST(ReaderScanErrors, EscapesOutsideTheTable) {
  ExpectScanFailures({
      {"{\"a\":\"\\u0041\"}", "Unrecognized escape sequence found in string: \\u", "0:8@8"},
      {"{\"a\":\"x\\a\"}", "Unrecognized escape sequence found in string: \\a", "0:9@9"},
      {"{\"a\\'\":1}", "Unrecognized escape sequence found in string: \\'", "0:5@5"},
  });
}

TEST(ReaderScanErrors, LinesAdvanceOnLineFeedsOnly) {
  ExpectScanFailures({
      // A raw line feed inside a string moves the line count.
      {"{\"a\":\"one\ntwo\", x}", "Unexpected character in stream: x", "1:6@16"},
      // A carriage return is just another column.
      {"{\r\n\r\"a\":1,\r\n  \r@}", "Unexpected character in stream: @", "2:3@15"},
      {"{\"a\":\"\\\n\"}", "Unrecognized escape sequence found in string: \\\n", "1:0@8"},
  });
}

TEST(ReaderParseErrors, TokensRunningOut) {
  ExpectParseFailures({
      {"", "Unexpected End of token stream", "0:0@0", "0:0@0"},
      {" \n\t ", "Unexpected End of token stream", "0:0@0", "0:0@0"},
      {"{", "Unexpected End of token stream", "0:0@0", "0:0@0"},
      {"{\"a\"", "Unexpected End of token stream", "0:0@0", "0:0@0"},
      {"{\"a\":1", "Unexpected End of token stream", "0:0@0", "0:0@0"},
      {"{\"a\":[1,", "Unexpected end of token stream", "0:0@0", "0:0@0"},
      {"{\"a\":", "Unexpected end of token stream", "0:0@0", "0:0@0"},
  });
}

TEST(ReaderParseErrors, TokensOfTheWrongKind) {
  ExpectParseFailures({
      {"[1]", "Unexpected token: [", "0:0@0", "0:1@1"},
      {"\"text\"", "Unexpected token: text", "0:0@0", "0:6@6"},
      {"{\"a\":1 \"b\":2}", "Unexpected token: b", "0:7@7", "0:10@10"},
      {"{\"a\":[1,]}", "Unexpected token: ]", "0:8@8", "0:9@9"},
      {"{\"a\":1,}", "Unexpected token: }", "0:7@7", "0:8@8"},
      {"{\"a\"::1}", "Unexpected token: :", "0:5@5", "0:6@6"},
      {"{1:2}", "Unexpected token: 1", "0:1@1", "0:2@2"},
      {"{\"a\":[1 2]}", "Unexpected token: 2", "0:8@8", "0:9@9"},
      {"{\"a\"\n:\n,}", "Unexpected token: ,", "2:0@7", "2:1@8"},
      // A token spanning a raw line feed ends on the next line.
      {"{\"a\":1 \"multi\nline\"}", "Unexpected token: multi\nline", "0:7@7", "1:5@19"},
      {"{\r\"a\":1,\r}", "Unexpected token: }", "0:9@9", "0:10@10"},
      {"{} {}", "Expected End of token stream; found {", "0:3@3", "0:4@4"},
      {"{}\n\"x\\ty\"", "Expected End of token stream; found x\ty", "1:0@3", "1:6@9"},
  });
}

TEST(ReaderParseErrors, DuplicateNamesPointAtTheSecondName) {
  ExpectParseFailures({
      {"{\"a\":1,\"a\":2}", "Duplicate object member token: a", "0:7@7", "0:10@10"},
      {"{\"o\":{\"k\":1,\n\"k\":[]}}", "Duplicate object member token: k", "1:0@13", "1:3@16"},
  });
  // Only within one object: the same name in separate objects is fine.
  EXPECT_EQ(ReadText("{\"a\":{\"a\":{\"a\":1}},\"b\":{\"a\":2}}").Size(), 2u);
}

TEST(ReaderParseErrors, NumberTokensThatAreNoNumber) {
  ExpectParseFailures({
      {"{\"n\":1.2.3}", "Unexpected character in NUMBER token: .", "0:5@5", "0:10@10"},
      {"{\"n\":1-2}", "Unexpected character in NUMBER token: -", "0:5@5", "0:8@8"},
      {"{\"n\":1e5e}", "Unexpected character in NUMBER token: e", "0:5@5", "0:9@9"},
      {"{\"n\":1e+-5}", "Unexpected character in NUMBER token: -", "0:5@5", "0:10@10"},
      {"{\"n\":-e5}", "Unexpected character in NUMBER token: e", "0:5@5", "0:8@8"},
      // The reading stops at once: the first character it left.
      {"{\"n\":-+1}", "Unexpected character in NUMBER token: +", "0:5@5", "0:8@8"},
      // Read whole but no number, or out of range: the last character.
      {"{\"n\":-}", "Unexpected character in NUMBER token: -", "0:5@5", "0:6@6"},
      {"{\"n\":1e}", "Unexpected character in NUMBER token: e", "0:5@5", "0:7@7"},
      {"{\"n\":1E+}", "Unexpected character in NUMBER token: +", "0:5@5", "0:8@8"},
      {"{\"n\":-.}", "Unexpected character in NUMBER token: .", "0:5@5", "0:7@7"},
      {"{\"n\":1e999}", "Unexpected character in NUMBER token: 9", "0:5@5", "0:10@10"},
      {"{\"n\":-2e308}", "Unexpected character in NUMBER token: 8", "0:5@5", "0:11@11"},
      {"{\"a\":[0,1e400]}", "Unexpected character in NUMBER token: 0", "0:8@8", "0:13@13"},
  });
}

std::string Nested(std::size_t depth, const std::string& leaf = "1") {
  std::string text = "{\"a\":";
  for (std::size_t level = 1; level < depth; ++level) text += level % 2 ? "[" : "{\"b\":";
  text += leaf;
  for (std::size_t level = depth - 1; level >= 1; --level) text += level % 2 ? "]" : "}";
  return text + "}";
}

TEST(ReaderParseErrors, NestingBeyondTheBoundIsRefused) {
  const std::size_t bound = Reader::kMaxNestingDepth;
  const Object deepest = ReadText(Nested(bound));
  // Copying, comparing and destroying the deepest accepted document works.
  const Object copy = deepest;
  EXPECT_EQ(copy, deepest);

  const auto error = FailureOf<ParseException>(Nested(bound + 1));
  ASSERT_TRUE(error);
  EXPECT_STREQ(error->what(), "Nesting too deep");
  // The refused bracket is the last of the opening run, just before the leaf.
  const std::string tooDeep = Nested(bound + 1);
  const std::size_t bracket = tooDeep.find_last_of("[{", tooDeep.find('1'));
  EXPECT_EQ(error->locationBegin.offset, bracket);
  EXPECT_EQ(error->locationEnd.offset, bracket + 1);

  // Far deeper input, as an attacker would send, fails the same way.
  std::string hostile = "{\"a\":" + std::string(1000000, '[');
  EXPECT_STREQ(FailureOf<ParseException>(hostile)->what(), "Nesting too deep");
}

}  // namespace
}  // namespace json
