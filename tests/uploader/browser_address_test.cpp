#include "uploader/browser_address.h"

#include <gtest/gtest.h>

#include "text/utf.h"

namespace inkseal {
namespace {

TEST(IsWebPageAddress, TakesAbsoluteHttpAndHttpsAddressesWithAHost) {
  for (const char16_t* address :
       {u"https://sign.example.com/documents/17", u"http://127.0.0.1:8080/documents/1?x=1&y=%20#top",
        u"HTTPS://Sign.Example.com", u"https://[::1]:443/d", u"https://ada@sign.example.com/d",
        u"https://h:/d", u"https://b\u00FCro.example/d\u00E9"}) {
    EXPECT_TRUE(IsWebPageAddress(address)) << Utf16ToUtf8(address);
  }
}

TEST(IsWebPageAddress, RefusesEverythingTheShellWouldRunOrOpenAsAFile) {
  for (const char16_t* address :
       {u"", u"file:///etc/shadow", u"Z:\\tmp\\evil.bat", u"C:/Windows/system32/calc.exe",
        u"\\\\server\\share\\evil.bat", u"//server/share", u"/etc/passwd", u"evil.bat",
        u"javascript:alert(1)", u"ms-settings:", u"httpx://h/", u"http:/h/d", u"http:h", u"https://",
        u"https:///etc/passwd", u"https://:443/d", u"https://h:x/d", u"https://[]/d", u"https://@/d",
        u"https://h/a b", u"https://h/\"--x", u"https://h/a\\..\\b", u" https://h/", u"https://h/\r\nX: y",
        u"https://h/\u0085", u"https://h\\evil/"}) {
    EXPECT_FALSE(IsWebPageAddress(address)) << Utf16ToUtf8(address);
  }
}

}  // namespace
}  // namespace inkseal
