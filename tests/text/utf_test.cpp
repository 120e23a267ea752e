#include "text/utf.h"

#include <gtest/gtest.h>

namespace inkseal {
namespace {

TEST(Utf, RoundTripsEveryPlane) {
  const std::u16string text = u"a\u00e9\u20ac\U0001F600z";
  EXPECT_EQ(Utf16ToUtf8(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
}

TEST(Utf, MalformedBytesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");          // cut sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");        // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80x"), u"\uFFFDx");  // encoded surrogate
  EXPECT_FALSE(IsValidUtf8("\xFF"));
  EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9"));
}

TEST(Utf, LoneSurrogateIsReplacedNotDropped) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace inkseal
