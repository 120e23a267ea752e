// Picking the charset, the browser URL and the content length out of a raw
// header block, and the HTML page check.
#include <gtest/gtest.h>

#include "http/header_fields.h"

namespace inkseal {
namespace {

const std::u16string kBlock =
    u"HTTP/1.1 200 OK\r\n"
    u"Date: Tue, 08 Dec 2026 16:00:00 GMT\r\n"
    u"content-type: text/html; CHARSET=UTF-8\r\n"
    u"X-Open-Browser: https://sign.example/documents/42?view=1\r\n"
    u"Content-Length: 1234\r\n"
    u"X-Later: charset=ISO-8859-1\r\n"
    u"\r\n";

TEST(PickCharset, FirstUsableValueAsWrittenUpToItsEnd) {
  std::u16string charset = u"previous";
  PickCharset(kBlock, charset);
  EXPECT_EQ(charset, u"UTF-8");

  charset.clear();
  PickCharset(u"HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n\r\n", charset);
  EXPECT_EQ(charset, u"ISO-8859-1");

  // The value ends at the first character outside letters, digits, '-', '_'.
  charset.clear();
  PickCharset(u"HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf_8;q=1\r\n\r\n", charset);
  EXPECT_EQ(charset, u"utf_8");

  // A quoted value is no value; a later plain one still counts.
  charset = u"kept";
  PickCharset(u"HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n\r\n", charset);
  EXPECT_EQ(charset, u"kept");
  PickCharset(u"HTTP/1.1 200 OK\r\nA: charset=\"x\"\r\nB: charset=koi8-r\r\n\r\n", charset);
  EXPECT_EQ(charset, u"koi8-r");

  PickCharset(u"HTTP/1.1 200 OK\r\n\r\n", charset);
  EXPECT_EQ(charset, u"koi8-r");
  PickCharset(u"", charset);
  EXPECT_EQ(charset, u"koi8-r");
}

TEST(PickBrowserUrl, ValueOfItsOwnLineOnly) {
  std::u16string url;
  PickBrowserUrl(kBlock, url);
  EXPECT_EQ(url, u"https://sign.example/documents/42?view=1");

  url.clear();
  PickBrowserUrl(u"HTTP/1.1 200 OK\r\nx-open-browser: http://a.example/b c\r\nNext: line\r\n\r\n", url);
  EXPECT_EQ(url, u"http://a.example/b c");

  // Last header line of the block: still only up to its line end.
  url.clear();
  PickBrowserUrl(u"HTTP/1.1 200 OK\r\nX-OPEN-BROWSER: https://z.example/\r\n\r\n", url);
  EXPECT_EQ(url, u"https://z.example/");
}

TEST(PickBrowserUrl, ExactlyOneSpaceAfterTheColonAndAWordCharacterFirst) {
  std::u16string url = u"kept";
  PickBrowserUrl(u"HTTP/1.1 200 OK\r\nX-Open-Browser:  https://two.spaces/\r\n\r\n", url);
  EXPECT_EQ(url, u"kept");
  PickBrowserUrl(u"HTTP/1.1 200 OK\r\nX-Open-Browser:https://no.space/\r\n\r\n", url);
  EXPECT_EQ(url, u"kept");
  PickBrowserUrl(u"HTTP/1.1 200 OK\r\nX-Open-Browser: /relative\r\n\r\n", url);
  EXPECT_EQ(url, u"kept");
  PickBrowserUrl(u"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n", url);
  EXPECT_EQ(url, u"kept");
}

TEST(PickContentLength, DecimalValueAndNothingElse) {
  uint32_t length = 7;
  PickContentLength(kBlock, length);
  EXPECT_EQ(length, 1234u);

  PickContentLength(u"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", length);
  EXPECT_EQ(length, 1234u);

  PickContentLength(u"HTTP/1.1 200 OK\r\ncontent-length: 4294967295\r\n\r\n", length);
  EXPECT_EQ(length, 4294967295u);

  // Beyond 32 bits the value would wrap into nonsense: it is not taken.
  PickContentLength(u"HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\n", length);
  EXPECT_EQ(length, 4294967295u);
}

TEST(PageIsComplete, OnlyAnOpenedButUnclosedPageFails) {
  EXPECT_TRUE(PageIsComplete(u""));
  EXPECT_TRUE(PageIsComplete(u"{\"status\":\"ok\"}"));
  EXPECT_TRUE(PageIsComplete(u"<HTML><BODY>done</BODY></HTML>"));
  EXPECT_TRUE(PageIsComplete(u"</html> before <html>"));
  EXPECT_FALSE(PageIsComplete(u"<html><body>cut off"));
  EXPECT_FALSE(PageIsComplete(u"<Html>\r\n<p>half</p>"));
  EXPECT_FALSE(PageIsComplete(u"<html></htm"));
}

}  // namespace
}  // namespace inkseal
