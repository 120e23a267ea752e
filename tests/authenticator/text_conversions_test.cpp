// Percent-encoding of the login form and the conversions around it.
#include "authenticator/text_conversions.h"

#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>

#include "authenticator/token_request.h"

namespace inkseal {
namespace {

TEST(FormEncodeTest, KeepsExactlyTheUnreservedAsciiBytesAndEscapesEveryOtherByte) {
  int kept = 0;
  for (int value = 0; value < 256; ++value) {
    const std::string byte(1, static_cast<char>(value));
    const std::string encoded = FormEncode(byte);
    const bool unreserved = (value < 128 && std::isalnum(value)) || byte == "-" || byte == "." || byte == "_" ||
                            byte == "~";
    if (unreserved) {
      ++kept;
      EXPECT_EQ(encoded, byte);
    } else {
      char expected[4];
      std::snprintf(expected, sizeof expected, "%%%02X", value);
      EXPECT_EQ(encoded, expected) << "byte " << value;
    }
  }
  EXPECT_EQ(kept, 26 + 26 + 10 + 4);
}

TEST(FormEncodeTest, SeparatorsCannotSplitTheFormAndUtf8BytesAreEscapedOneByOne) {
  EXPECT_EQ(FormEncode("a b"), "a%20b");
  EXPECT_EQ(FormEncode("p&w=1+2"), "p%26w%3D1%2B2");
  EXPECT_EQ(FormEncode("\xC3\xA9"), "%C3%A9");
  EXPECT_EQ(FormEncode(std::string("\0z", 2)), "%00z");
  EXPECT_EQ(FormEncode(""), "");
}

TEST(TextConversionTest, Utf8RoundTripsTheWholeRangeIncludingSurrogatePairs) {
  const std::u16string text = u"A\u00E9\u20AC\U0001F512z";
  const std::string bytes = WideToUtf8(text);
  EXPECT_EQ(bytes, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x94\x92z");
  EXPECT_EQ(Utf8ToWide(bytes), text);
  EXPECT_EQ(WideToUtf8(u""), "");
  EXPECT_EQ(Utf8ToWide(""), u"");
}

TEST(TextConversionTest, MalformedUtf8BecomesReplacementCharactersInsteadOfFailing) {
  const std::u16string text = Utf8ToWide("a\xFF" "b");
  EXPECT_EQ(text.front(), u'a');
  EXPECT_EQ(text.back(), u'b');
  EXPECT_NE(text.find(u'\uFFFD'), std::u16string::npos);
}

TEST(TextConversionTest, EmbeddedNulsAreKeptNotCut) {
  const std::string bytes("a\0b", 3);
  EXPECT_EQ(Utf8ToWide(bytes), std::u16string(u"a\0b", 3));
  EXPECT_EQ(WideToUtf8(std::u16string(u"a\0b", 3)), bytes);
}

TEST(LoginFormTest, AllThreeFieldsAreAlwaysSentEncodedInOrder) {
  EXPECT_EQ(EncodedFormText({u"a b", u"x&y=z", u""}), u"email=a%20b&password=x%26y%3Dz&totp=");
  EXPECT_EQ(EncodedFormText({u"\u00E9@x", u"p", u"424242"}), u"email=%C3%A9%40x&password=p&totp=424242");
}

TEST(LoginFormTest, HeadersAnnounceTheExactByteCount) {
  EXPECT_EQ(FormHeaders(0), u"Content-Length: 0\r\nContent-Type: application/x-www-form-urlencoded\r\n");
  EXPECT_EQ(FormHeaders(1234567), u"Content-Length: 1234567\r\nContent-Type: application/x-www-form-urlencoded\r\n");
}

}  // namespace
}  // namespace inkseal
