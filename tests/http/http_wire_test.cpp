// What WinHttpClient puts on the wire, as the test service recorded it, and
// how redirects and a proxy carry the exchange.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/win_http_client.h"
#include "tests/http/test_service.h"

namespace inkseal {
namespace {

using test_service::RecordedCount;
using test_service::RecordedRequest;
using test_service::Url;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

int CountNamed(const std::vector<std::string>& lines, const std::string& name) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return Lower(line.substr(0, line.find(':'))) == Lower(name);
  }));
}

// The header lines besides the ones the platform adds itself.
std::vector<std::string> CallerLines(const std::vector<std::string>& lines) {
  std::vector<std::string> own;
  for (const std::string& line : lines) {
    const std::string name = Lower(line.substr(0, line.find(':')));
    if (name != "host" && name != "user-agent" && name != "connection" && name != "cache-control") {
      own.push_back(line);
    }
  }
  return own;
}

TEST(Wire, UploadLinesArriveUnchangedInOrderWithTheBodyAfterTheHead) {
  // The uploader's shape: empty lines between lines, none after the last.
  std::string body;
  for (int i = 0; i < 70000; ++i) body += static_cast<char>((i * 7) & 0xff);
  const std::string headers = "Content-Length: " + std::to_string(body.size()) +
                              "\r\nContent-Type: application/pdf\r\n\r\nConnection: keep-alive\r\n\r\n"
                              "Authorization: OAuth oauth_signature_method=\"PLAINTEXT\",oauth_token=\"t\"";
  WinHttpClient client(Url("http", "wire-put", "h=X-Open-Browser:%20https:%2F%2Fsign.example%2Fd%2F1"), nullptr);
  ASSERT_TRUE(client.AttachBody(body.data(), static_cast<uint32_t>(body.size())));
  ASSERT_TRUE(client.SetExtraHeaders(test_service::Widen(headers)));
  ASSERT_TRUE(client.Execute(u"PUT", false)) << client.ErrorCode();
  EXPECT_EQ(client.BrowserUrl(), u"https://sign.example/d/1");

  ASSERT_EQ(RecordedCount("wire-put"), 1);
  const test_service::Recorded request = RecordedRequest("wire-put", 1);
  EXPECT_EQ(request.requestLine, "PUT /t/wire-put/h=X-Open-Browser:%20https:%2F%2Fsign.example%2Fd%2F1 HTTP/1.1");
  const std::vector<std::string> expectedOwn = {
      "Content-Length: " + std::to_string(body.size()), "Content-Type: application/pdf",
      "Authorization: OAuth oauth_signature_method=\"PLAINTEXT\",oauth_token=\"t\""};
  EXPECT_EQ(CallerLines(request.headerLines), expectedOwn);
  EXPECT_EQ(CountNamed(request.headerLines, "Connection"), 1);
  EXPECT_EQ(Lower(*std::find_if(request.headerLines.begin(), request.headerLines.end(),
                                [](const std::string& l) { return Lower(l).rfind("connection:", 0) == 0; })),
            "connection: keep-alive");
  EXPECT_EQ(CountNamed(request.headerLines, "User-Agent"), 1);
  EXPECT_NE(std::find(request.headerLines.begin(), request.headerLines.end(), "User-Agent: WinHttpClient 1.0.9.9"),
            request.headerLines.end());
  EXPECT_EQ(CountNamed(request.headerLines, "Host"), 1);
  EXPECT_EQ(CountNamed(request.headerLines, "Accept"), 0);
  EXPECT_EQ(CountNamed(request.headerLines, "Expect"), 0);
  EXPECT_EQ(CountNamed(request.headerLines, "Transfer-Encoding"), 0);
  EXPECT_TRUE(request.body == body) << "body of " << request.body.size() << " bytes differs";
}

TEST(Wire, FormPostCarriesOnlyTheCallersContentTypeAndLength) {
  const std::string form = "email=a%40b.test&password=x+y";
  const std::string headers =
      "Content-Length: " + std::to_string(form.size()) + "\r\nContent-Type: application/x-www-form-urlencoded\r\n";
  WinHttpClient client(Url("https", "wire-post", "h=Content-Type:%20application%2Fjson/body=%7B%7D"), nullptr);
  client.AttachBody(form.data(), static_cast<uint32_t>(form.size()));
  client.SetExtraHeaders(test_service::Widen(headers));
  ASSERT_TRUE(client.Execute(u"POST", false)) << client.ErrorCode();
  EXPECT_EQ(client.ContentText(), u"{}");

  const test_service::Recorded request = RecordedRequest("wire-post", 1);
  EXPECT_EQ(request.requestLine.rfind("POST /t/wire-post/", 0), 0u);
  const std::vector<std::string> expectedOwn = {"Content-Length: " + std::to_string(form.size()),
                                                "Content-Type: application/x-www-form-urlencoded"};
  EXPECT_EQ(CallerLines(request.headerLines), expectedOwn);
  EXPECT_EQ(request.body, form);
}

TEST(Wire, GetWithoutBodyCarriesNoLengthAndNoBody) {
  WinHttpClient client(Url("http", "wire-get", "body=x"), nullptr);
  ASSERT_TRUE(client.Execute(u"GET", false));
  const test_service::Recorded request = RecordedRequest("wire-get", 1);
  EXPECT_EQ(CallerLines(request.headerLines), std::vector<std::string>());
  EXPECT_EQ(request.body, "");
}

TEST(Redirects, FollowedUnlessStoppedAndOnlyTheFinalHeadersKept) {
  const std::string target = test_service::BaseUrl("http") + "/t/redirect-target/h=X-Final:%20yes/body=there";
  std::string encoded;
  for (char c : target) encoded += (c == '/') ? std::string("%2F") : std::string(1, c);

  WinHttpClient followed(Url("http", "redirect-from", "location=" + encoded + "/h=X-Open-Browser:%20https:%2F%2Fearly"),
                         nullptr);
  ASSERT_TRUE(followed.Execute(u"GET", false));
  EXPECT_EQ(followed.ContentText(), u"there");
  const std::string block = test_service::Narrow(followed.HeaderText());
  EXPECT_EQ(block.rfind("HTTP/1.1 200", 0), 0u) << block;
  EXPECT_NE(block.find("X-Final: yes"), std::string::npos);
  EXPECT_EQ(block.find("302"), std::string::npos) << block;
  EXPECT_EQ(followed.BrowserUrl(), u"") << "a field of the redirect response must not leak into the final one";
  EXPECT_EQ(RecordedCount("redirect-target"), 1);

  WinHttpClient stopped(Url("http", "redirect-stop", "location=" + encoded + "/body=moved"), nullptr);
  ASSERT_TRUE(stopped.Execute(u"GET", true));
  EXPECT_EQ(test_service::Narrow(stopped.HeaderText()).rfind("HTTP/1.1 302", 0), 0u);
  EXPECT_EQ(stopped.ContentText(), u"moved");
  EXPECT_EQ(RecordedCount("redirect-target"), 1);
}

TEST(Redirects, NeverFromHttpsDownToHttp) {
  const std::string target = test_service::BaseUrl("http") + "/t/downgrade-target/body=plain";
  std::string encoded;
  for (char c : target) encoded += (c == '/') ? std::string("%2F") : std::string(1, c);
  WinHttpClient client(Url("https", "downgrade-from", "location=" + encoded), nullptr);
  ASSERT_TRUE(client.Execute(u"GET", false)) << client.ErrorCode();
  EXPECT_EQ(test_service::Narrow(client.HeaderText()).rfind("HTTP/1.1 302", 0), 0u);
  EXPECT_EQ(RecordedCount("downgrade-target"), 0);
}

// Run by the runner a second time with a proxy configured for the user; skipped otherwise.
TEST(Proxy, ExchangeTravelsThroughTheUsersProxy) {
  if (std::getenv("INKSEAL_HTTP_VIA_PROXY") == nullptr) GTEST_SKIP() << "no proxy configured for this run";
  const std::string form = "a=1";
  WinHttpClient client(Url("http", "via-proxy", "body=proxied"), nullptr);
  client.AttachBody(form.data(), 3);
  client.SetExtraHeaders(u"Content-Length: 3\r\nContent-Type: text%2Fplain\r\n");
  ASSERT_TRUE(client.Execute(u"POST", false)) << client.ErrorCode();
  EXPECT_EQ(client.ContentText(), u"proxied");
  ASSERT_EQ(RecordedCount("via-proxy"), 1);
  const test_service::Recorded request = RecordedRequest("via-proxy", 1);
  EXPECT_EQ(CountNamed(request.headerLines, "Via"), 1) << request.raw;
  EXPECT_EQ(request.body, form);
}

}  // namespace
}  // namespace inkseal
