// What WinHttpClient puts on the wire, as the test service recorded it, and
// how redirects and a proxy carry the exchange.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/win_http_client.h"
#include "platform/http_transport.h"
#include "platform/last_error.h"
#include "tests/http/test_service.h"

namespace inkseal {
namespace {

using test_service::RecordedCount;
using test_service::RecordedRequest;
using test_service::PiecewiseBody;
using test_service::Url;

// "127.0.0.1:port" of a listener, as the Host line names it.
std::string HostField(const std::string& listener) {
  const std::string base = test_service::BaseUrl(listener);
  return base.substr(base.find("://") + 3);
}

// The header lines besides Host, which has a place of its own on each
// platform (last from WinHTTP, first from libcurl), and the Host line alone.
std::vector<std::string> WithoutHost(const std::vector<std::string>& lines, std::vector<std::string>& hosts) {
  std::vector<std::string> rest;
  for (const std::string& line : lines) (line.rfind("Host:", 0) == 0 ? hosts : rest).push_back(line);
  return rest;
}

void ExpectHead(const test_service::Recorded& request, const std::vector<std::string>& expected,
                const std::string& listener) {
  std::vector<std::string> hosts;
  EXPECT_EQ(WithoutHost(request.headerLines, hosts), expected);
  EXPECT_EQ(hosts, std::vector<std::string>{"Host: " + HostField(listener)});
}

// Both platforms send the same head: the caller's lines unchanged and in
// order, then User-Agent and (unless the caller gave one) Connection, and a
// Host line; nothing else (no Accept, Expect or second Content-Length).
TEST(Wire, UploadHeadIsTheCallersLinesThenAgentAndHostWithTheBodyAfter) {
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
  const std::vector<std::string> expected = {
      "Content-Length: " + std::to_string(body.size()),
      "Content-Type: application/pdf",
      "Connection: keep-alive",
      "Authorization: OAuth oauth_signature_method=\"PLAINTEXT\",oauth_token=\"t\"",
      "User-Agent: WinHttpClient 1.0.9.9"};
  ExpectHead(request, expected, "http");
  EXPECT_TRUE(request.body == body) << "body of " << request.body.size() << " bytes differs";
}

// A body read piece by piece, in pieces that do not divide it evenly; it may
// fail after a given number of bytes, as a document that changed does.
// A streamed body arrives byte for byte after the caller's head; one whose
// source fails part way ends the exchange with the source's own error, and
// the server never receives a whole request (no partial body passes for the
// document, and no retry sends it again).
TEST(Wire, StreamedBodyArrivesWholeOrTheRequestIsNeverCompleted) {
  std::string body;
  for (int i = 0; i < 300000; ++i) body += static_cast<char>((i * 13) ^ (i >> 9));
  const std::u16string headers = test_service::Widen("Content-Length: " + std::to_string(body.size()) +
                                                     "\r\nContent-Type: application/pdf\r\n");
  for (const char* scheme : {"http", "https"}) {
    const std::string tag = std::string("streamed-") + scheme;
    PiecewiseBody whole(body, body.size());
    WinHttpClient client(Url(scheme, tag, "h=X-Open-Browser:%20https:%2F%2Fsign.example%2Fd%2F2"), nullptr);
    client.certificateAuthorities = test_service::ServiceAuthorities();
    ASSERT_TRUE(client.AttachBody(whole));
    client.SetExtraHeaders(headers);
    ASSERT_TRUE(client.Execute(u"PUT", false)) << scheme << " " << client.ErrorCode();
    EXPECT_EQ(client.BrowserUrl(), u"https://sign.example/d/2");
    ASSERT_EQ(RecordedCount(tag), 1) << scheme;
    EXPECT_TRUE(RecordedRequest(tag, 1).body == body) << scheme;

    const std::string brokenTag = std::string("streamed-broken-") + scheme;
    PiecewiseBody broken(body, body.size() / 2);
    WinHttpClient failing(Url(scheme, brokenTag, ""), nullptr);
    failing.certificateAuthorities = test_service::ServiceAuthorities();
    ASSERT_TRUE(failing.AttachBody(broken));
    failing.SetExtraHeaders(headers);
    EXPECT_FALSE(failing.Execute(u"PUT", false)) << scheme;
    EXPECT_EQ(failing.ErrorCode(), platform::kErrorDocumentChanged) << scheme;
    EXPECT_EQ(RecordedCount(brokenTag), 0) << scheme;
  }
}

TEST(Wire, FormPostCarriesOnlyTheCallersContentTypeAndLength) {
  const std::string form = "email=a%40b.test&password=x+y";
  const std::string headers =
      "Content-Length: " + std::to_string(form.size()) + "\r\nContent-Type: application/x-www-form-urlencoded\r\n";
  WinHttpClient client(Url("https", "wire-post", "h=Content-Type:%20application%2Fjson/body=%7B%7D"), nullptr);
  client.certificateAuthorities = test_service::ServiceAuthorities();
  client.AttachBody(form.data(), static_cast<uint32_t>(form.size()));
  client.SetExtraHeaders(test_service::Widen(headers));
  ASSERT_TRUE(client.Execute(u"POST", false)) << client.ErrorCode();
  EXPECT_EQ(client.ContentText(), u"{}");

  const test_service::Recorded request = RecordedRequest("wire-post", 1);
  EXPECT_EQ(request.requestLine, "POST /t/wire-post/h=Content-Type:%20application%2Fjson/body=%7B%7D HTTP/1.1");
  const std::vector<std::string> expected = {"Content-Length: " + std::to_string(form.size()),
                                             "Content-Type: application/x-www-form-urlencoded",
                                             "User-Agent: WinHttpClient 1.0.9.9", "Connection: Keep-Alive"};
  ExpectHead(request, expected, "https");
  EXPECT_EQ(request.body, form);
}

TEST(Wire, GetWithoutBodyCarriesNoLengthAndNoBody) {
  WinHttpClient client(Url("http", "wire-get", "body=x"), nullptr);
  ASSERT_TRUE(client.Execute(u"GET", false));
  const test_service::Recorded request = RecordedRequest("wire-get", 1);
  EXPECT_EQ(request.requestLine, "GET /t/wire-get/body=x HTTP/1.1");
  ExpectHead(request, {"User-Agent: WinHttpClient 1.0.9.9", "Connection: Keep-Alive"}, "http");
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
  client.certificateAuthorities = test_service::ServiceAuthorities();
  EXPECT_FALSE(client.Execute(u"GET", false));
  EXPECT_EQ(client.ErrorCode(), platform::kHttpErrorRedirectFailed);
  EXPECT_EQ(RecordedCount("downgrade-target"), 0);
}

// Run by the runner a second time with a proxy configured for the user; skipped otherwise.
TEST(Proxy, ExchangeTravelsThroughTheConfiguredProxy) {
  if (std::getenv("INKSEAL_HTTP_VIA_PROXY") == nullptr) GTEST_SKIP() << "no proxy configured for this run";
  const std::string form = "a=1";
  WinHttpClient client(Url("http", "via-proxy", "body=proxied"), nullptr);
  client.AttachBody(form.data(), 3);
  client.SetExtraHeaders(u"Content-Length: 3\r\nContent-Type: text/plain\r\n");
  ASSERT_TRUE(client.Execute(u"POST", false)) << client.ErrorCode();
  EXPECT_EQ(client.ContentText(), u"proxied");
  ASSERT_EQ(RecordedCount("via-proxy"), 1);
  const test_service::Recorded request = RecordedRequest("via-proxy", 1);
  // tinyproxy names itself in a Via line on the way through.
  EXPECT_EQ(std::count_if(request.headerLines.begin(), request.headerLines.end(),
                          [](const std::string& line) { return line.rfind("Via: ", 0) == 0; }),
            1)
      << request.raw;
  EXPECT_EQ(request.body, form);
}

}  // namespace
}  // namespace inkseal
