#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/last_error.h"

namespace inkseal::platform {
namespace {

std::u16string Decode(CodePage codePage, uint32_t flags, const std::string& bytes) {
  const int needed = MultiByteToWide(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (needed <= 0) return u"<failed>";
  std::u16string text(static_cast<size_t>(needed), u'\0');
  EXPECT_EQ(MultiByteToWide(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), text.data(), needed),
            needed);
  return text;
}

std::string Encode(CodePage codePage, const std::u16string& text) {
  const int needed = WideToMultiByte(codePage, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (needed <= 0) return "<failed>";
  std::string bytes(static_cast<size_t>(needed), '\0');
  EXPECT_EQ(WideToMultiByte(codePage, text.data(), static_cast<int>(text.size()), bytes.data(), needed), needed);
  return bytes;
}

TEST(CodePage, Utf8DecodesEveryPlaneAndKeepsZeroBytes) {
  EXPECT_EQ(Decode(CodePage::Utf8, 0, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), u"a\u00e9\u20ac\U0001F600");
  // A body handed over with its terminator, as the HTTP client does.
  EXPECT_EQ(Decode(CodePage::Utf8, 0, std::string("ok\0", 3)), std::u16string(u"ok\0", 3));
  EXPECT_EQ(Encode(CodePage::Utf8, u"\u00e9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(CodePage, CountOfMinusOneIncludesTheTerminator) {
  char16_t out[8] = {};
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, 0, "abc", -1, out, 8), 4);
  EXPECT_EQ(std::u16string(out), u"abc");
  char bytes[8] = {};
  EXPECT_EQ(WideToMultiByte(CodePage::Utf8, u"xy", -1, bytes, 8), 3);
  EXPECT_EQ(std::string(bytes), "xy");
}

TEST(CodePage, MalformedUtf8IsReplacedUnlessRefusalIsAsked) {
  const std::string bad = "a\xFF" "b";
  EXPECT_EQ(Decode(CodePage::Utf8, 0, bad), u"a\uFFFD" u"b");
  SetLastError(0);
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, kErrInvalidChars, bad.data(), 3, nullptr, 0), 0);
  EXPECT_EQ(LastError(), kErrorNoUnicodeTranslation);
}

TEST(CodePage, AnsiIsWindows1252BothWays) {
  EXPECT_EQ(Decode(CodePage::Ansi, kPrecomposed, "\x80\x8A\x9F\xE9"), u"\u20ac\u0160\u0178\u00e9");
  // Every byte has a character and comes back unchanged, the five bytes the
  // code page leaves undefined included.
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string text = Decode(CodePage::Ansi, kPrecomposed, all);
  ASSERT_EQ(text.size(), all.size());
  EXPECT_EQ(text[0x81 - 1], u'\u0081');
  EXPECT_EQ(text[0x9D - 1], u'\u009D');
  EXPECT_EQ(Encode(CodePage::Ansi, text), all);
}

TEST(CodePage, CharactersTheAnsiCodePageLacksBecomeQuestionMarks) {
  EXPECT_EQ(Encode(CodePage::Ansi, u"a\u4e2d\u20acb"), "a?\x80" "b");
}

TEST(CodePage, RefusesTooSmallBuffersAndEmptyInput) {
  char16_t small[2];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, 0, "abcd", 4, small, 2), 0);
  EXPECT_EQ(LastError(), kErrorInsufficientBuffer);
  char bytes[1];
  SetLastError(0);
  EXPECT_EQ(WideToMultiByte(CodePage::Ansi, u"ab", 2, bytes, 1), 0);
  EXPECT_EQ(LastError(), kErrorInsufficientBuffer);
  SetLastError(0);
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, 0, "", 0, nullptr, 0), 0);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
}

}  // namespace
}  // namespace inkseal::platform
