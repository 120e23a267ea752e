#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

#include "json/reader.h"
#include "reader_test_support.h"

namespace json {
namespace {

const UnknownElement& MemberOf(const Object& object, const std::string& name) {
  const auto found = object.Find(name);
  if (found == object.end()) throw std::runtime_error("no member " + name);
  return found->element;
}

double NumberIn(const std::string& text) {
  return MemberOf(ReadText(text), "n").Get<Number>().Value();
}

TEST(Reader, BuildsEveryValueTypeInDocumentOrder) {
  const Object document = ReadText(
      " {\"s\":\"text\", \"n\":12.5, \"t\":true, \"f\":false, \"z\":null,"
      "  \"a\":[1, \"two\", [], {}], \"o\":{\"inner\":{\"deep\":[null]}}, \"e\":{} }");
  std::string order;
  for (const Member& member : document) order += member.name;
  EXPECT_EQ(order, "sntfzaoe");
  EXPECT_EQ(MemberOf(document, "s").Get<String>().Value(), "text");
  EXPECT_EQ(MemberOf(document, "n").Get<Number>().Value(), 12.5);
  EXPECT_TRUE(MemberOf(document, "t").Get<Boolean>().Value());
  EXPECT_FALSE(MemberOf(document, "f").Get<Boolean>().Value());
  EXPECT_NO_THROW(MemberOf(document, "z").Get<Null>());

  const Array& array = MemberOf(document, "a").Get<Array>();
  ASSERT_EQ(array.Size(), 4u);
  auto item = array.begin();
  EXPECT_EQ(item++->Get<Number>().Value(), 1.0);
  EXPECT_EQ(item++->Get<String>().Value(), "two");
  EXPECT_TRUE(item++->Get<Array>().Empty());
  EXPECT_TRUE(item->Get<Object>().Empty());

  const Object& inner = MemberOf(MemberOf(document, "o").Get<Object>(), "inner").Get<Object>();
  EXPECT_NO_THROW(MemberOf(inner, "deep").Get<Array>().begin()->Get<Null>());
  EXPECT_TRUE(MemberOf(document, "e").Get<Object>().Empty());
  EXPECT_TRUE(ReadText("{}").Empty());
}

TEST(Reader, AcceptsAllSixWhitespaceBytesBetweenTokens) {
  EXPECT_EQ(ReadText(" \t\n\v\f\r{ \t\n\v\f\r\"a\"\r\n:\f1\v}\t\n").Size(), 1u);
}

TEST(Reader, ResolvesEveryEscapeAndPassesOtherBytesUnchanged) {
  const std::string raw = "{\"e\":\"\\\"\\/\\\\\\b\\f\\n\\r\\t\",\"r\":\"\xC3\xA9\xFF\x01\t\n\"}";
  const Object document = ReadText(raw);
  EXPECT_EQ(MemberOf(document, "e").Get<String>().Value(), "\"/\\\b\f\n\r\t");
  EXPECT_EQ(MemberOf(document, "r").Get<String>().Value(), "\xC3\xA9\xFF\x01\t\n");

  const std::string withNul("{\"z\":\"a\0b\"}", 11);
  EXPECT_EQ(MemberOf(ReadText(withNul), "z").Get<String>().Value(), std::string("a\0b", 3));
  // Names go through the same path as values.
  const Object escapedName = ReadText("{\"a\\tb\":1}");
  EXPECT_NE(escapedName.Find("a\tb"), escapedName.end());
}

TEST(Reader, ConvertsNumbersAsAClassicLocaleStreamWould) {
  EXPECT_EQ(NumberIn("{\"n\":-0.5e1}"), -5.0);
  EXPECT_EQ(NumberIn("{\"n\":007}"), 7.0);
  EXPECT_EQ(NumberIn("{\"n\":1E+2}"), 100.0);
  EXPECT_EQ(NumberIn("{\"n\":25e-2}"), 0.25);
  EXPECT_EQ(NumberIn("{\"n\":1.}"), 1.0);
  EXPECT_EQ(NumberIn("{\"n\":-.5}"), -0.5);
  EXPECT_EQ(NumberIn("{\"n\":0.1}"), 0.1);  // correctly rounded
  EXPECT_EQ(NumberIn("{\"n\":9007199254740993}"), 9007199254740992.0);
  EXPECT_EQ(NumberIn("{\"n\":1.7976931348623157e308}"), 1.7976931348623157e308);
  // Too small for a double: zero of the same sign, as the stream reads it.
  EXPECT_EQ(NumberIn("{\"n\":1e-999}"), 0.0);
  EXPECT_TRUE(std::signbit(NumberIn("{\"n\":-1e-999}")));
  EXPECT_FALSE(std::signbit(NumberIn("{\"n\":0.000e999999999999}")));
}

TEST(Reader, KeepsMembersReadBeforeAFailure) {
  Object target;
  FailureOf<Reader::ParseException>("{\"a\":1,\"b\":{\"c\":2},\"d\":}", &target);
  ASSERT_EQ(target.Size(), 2u);
  EXPECT_EQ(MemberOf(target, "a").Get<Number>().Value(), 1.0);
  EXPECT_EQ(target, ReadText("{\"a\":1,\"b\":{\"c\":2}}"));

  Object duplicated;
  FailureOf<Reader::ParseException>("{\"a\":1,\"a\":2}", &duplicated);
  ASSERT_EQ(duplicated.Size(), 1u);
  EXPECT_EQ(MemberOf(duplicated, "a").Get<Number>().Value(), 1.0);
}

TEST(Reader, StreamHandling) {
  // Reading starts wherever the stream stands; locations count from there.
  std::istringstream prefixed("junk{} x");
  prefixed.ignore(4);
  Object object;
  try {
    Reader::Read(object, prefixed);
    FAIL();
  } catch (const Reader::ScanException& error) {
    EXPECT_EQ(Where(error.location), "0:3@3");
  }

  std::istringstream complete("{}");
  Reader::Read(object, complete);
  EXPECT_TRUE(complete.eof());

  // A stream that already failed holds no readable input, rather than
  // being read forever or read past its failure.
  std::istringstream failed("{}");
  failed.setstate(std::ios::failbit);
  try {
    Reader::Read(object, failed);
    FAIL();
  } catch (const Reader::ParseException& failure) {
    EXPECT_STREQ(failure.what(), "Unexpected End of token stream");
  }
}

TEST(Reader, ReadsLargeObjectsWithUniqueNames) {
  std::string text = "{";
  for (int i = 0; i < 20000; ++i) text += (i ? ",\"" : "\"") + std::to_string(i) + "\":" + std::to_string(i);
  text += "}";
  const Object document = ReadText(text);
  ASSERT_EQ(document.Size(), 20000u);
  EXPECT_EQ(MemberOf(document, "19999").Get<Number>().Value(), 19999.0);
  EXPECT_EQ(document.begin()->name, "0");
}

}  // namespace
}  // namespace json
