#include "uploader/browser_address.h"

#include <gtest/gtest.h>

#include "text/utf.h"

namespace inkseal {
namespace {

TEST(BrowserAddress, TakesAbsoluteHttpAndHttpsAddressesWithAHostAsTheyAre) {
  for (const char16_t* address :
       {u"https://sign.example.com/documents/17", u"http://127.0.0.1:8080/documents/1?x=1&y=%20#top",
        u"HTTPS://Sign.Example.com", u"https://[::1]:443/d", u"https://ada@sign.example.com/d",
        u"https://h:/d", u"https://h./x"}) {
    EXPECT_EQ(BrowserAddress(address), std::u16string(address)) << Utf16ToUtf8(address);
  }
}

TEST(BrowserAddress, HandsOnOnlyAsciiInternationalHostsAsPunycodeTheRestPercentEncoded) {
  EXPECT_EQ(BrowserAddress(u"https://B\u00DCro.example/d\u00E9?q=\u4F8B#\U0001F512"),
            u"https://xn--bro-hoa.example/d%C3%A9?q=%E4%BE%8B#%F0%9F%94%92");
  EXPECT_EQ(BrowserAddress(u"http://m\u00FCnchen.\u4F8B\u3048:8080/"), u"http://xn--mnchen-3ya.xn--r8jz45g:8080/");
  EXPECT_EQ(BrowserAddress(u"https://\u00FC@h/"), u"https://%C3%BC@h/");
  // A fullwidth quote or slash in the path cannot become a quote or slash
  // once encoded.
  EXPECT_EQ(BrowserAddress(u"http://example.com/\uFF02--foo=\uFF0F"),
            u"http://example.com/%EF%BC%82--foo=%EF%BC%8F");
}

TEST(BrowserAddress, RefusesEverythingTheShellWouldRunOrOpenAsAFile) {
  for (const char16_t* address :
       {u"", u"file:///etc/shadow", u"Z:\\tmp\\evil.bat", u"C:/Windows/system32/calc.exe",
        u"\\\\server\\share\\evil.bat", u"//server/share", u"/etc/passwd", u"evil.bat",
        u"javascript:alert(1)", u"ms-settings:", u"httpx://h/", u"http:/h/d", u"http:h", u"https://",
        u"https:///etc/passwd", u"https://:443/d", u"https://h:x/d", u"https://[]/d", u"https://@/d",
        u"https://h/a b", u"https://h/\"--x", u"https://h/a\\..\\b", u" https://h/", u"https://h/\r\nX: y",
        u"https://h/\u0085", u"https://h\\evil/", u"https://a..b/", u"https://.h/"}) {
    EXPECT_EQ(BrowserAddress(address), std::nullopt) << Utf16ToUtf8(address);
  }
}

TEST(BrowserAddress, RefusesBlanksInvisibleAndDirectionCharactersAnywhereAndLookalikesInTheHost) {
  for (const char16_t* address :
       {u"http://example.com/\uFF02\u3000--foo=\uFF02", u"https://h/a\u00A0b", u"https://h/\u2028x",
        u"https://h/\u202Efdp.exe", u"https://h/\uFEFF", u"https://h/\u200Bx", u"https://h\u00A0/",
        u"https://example.com\uFF0Fevil/", u"https://example\uFF0Ecom/", u"https://example\u3002com/",
        u"https://\uFF45xample.com/", u"https://h/\xD800x"}) {
    EXPECT_EQ(BrowserAddress(address), std::nullopt) << Utf16ToUtf8(address);
  }
}

}  // namespace
}  // namespace inkseal
