// Servers that redirect elsewhere, answer without end or trickle: the
// caller's credentials and body go only where they belong, and neither
// memory nor time runs away.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "http/win_http_client.h"
#include "platform/http_transport.h"
#include "tests/http/test_service.h"

namespace inkseal {
namespace {

using test_service::RecordedCount;
using test_service::PiecewiseBody;
using test_service::RecordedRequest;
using test_service::Url;

constexpr char kBody[] = "abcde";
constexpr char16_t kUploadLines[] =
    u"Authorization: OAuth oauth_signature=\"secret\"\r\nContent-Length: 5\r\nContent-Type: application/pdf\r\n";

// A "location=" directive sending the request to another scripted exchange.
std::string LocationTo(const std::string& listener, const std::string& tag, const std::string& directives) {
  std::string encoded;
  for (char c : test_service::BaseUrl(listener) + "/t/" + tag + "/" + directives) {
    encoded += (c == '/') ? std::string("%2F") : std::string(1, c);
  }
  return "location=" + encoded;
}

bool HasField(const test_service::Recorded& request, const std::string& name) {
  return std::any_of(request.headerLines.begin(), request.headerLines.end(),
                     [&](const std::string& line) { return line.rfind(name + ":", 0) == 0; });
}

TEST(HostileRedirects, AuthorizationStaysWithItsOriginAndTheBodyWithItsVerb) {
  struct Case {
    const char* status;
    const char16_t* verb;
    const char* listener;  // where the redirect points
    const char* verbThere;
    bool bodyThere;
  };
  const Case cases[] = {
      {"302", u"PUT", "http_other", "PUT", true},
      {"301", u"POST", "http_other", "GET", false},
      {"302", u"POST", "http", "GET", false},
      {"303", u"PUT", "http_other", "GET", false},
      {"307", u"POST", "http_other", "POST", true},
      {"308", u"PUT", "http", "PUT", true},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string from = "hop-from-" + std::to_string(index);
    const std::string to = "hop-to-" + std::to_string(index++);
    SCOPED_TRACE(from);
    WinHttpClient client(Url("http", from, std::string("status=") + c.status + "/" +
                                               LocationTo(c.listener, to, "body=arrived")),
                         nullptr);
    client.AttachBody(kBody, 5);
    client.SetExtraHeaders(kUploadLines);
    ASSERT_TRUE(client.Execute(c.verb, false)) << client.ErrorCode();
    EXPECT_EQ(client.ContentText(), u"arrived");

    ASSERT_EQ(RecordedCount(to), 1);
    const test_service::Recorded there = RecordedRequest(to, 1);
    EXPECT_EQ(there.requestLine.rfind(std::string(c.verbThere) + " /t/" + to, 0), 0u) << there.requestLine;
    const bool sameOrigin = std::string(c.listener) == "http";
    EXPECT_EQ(HasField(there, "Authorization"), sameOrigin) << there.raw;
    EXPECT_EQ(HasField(there, "Content-Length"), c.bodyThere) << there.raw;
    EXPECT_EQ(HasField(there, "Content-Type"), c.bodyThere) << there.raw;
    EXPECT_EQ(there.body, c.bodyThere ? kBody : "");
  }
}

TEST(HostileRedirects, EndlessChainFailsAfterTheHopLimit) {
  WinHttpClient client(Url("http_other", "hop-loop", "self=1"), nullptr);
  EXPECT_FALSE(client.Execute(u"GET", false));
  EXPECT_EQ(client.ErrorCode(), platform::kHttpErrorRedirectFailed);
  EXPECT_EQ(RecordedCount("hop-loop"), 11);
}

TEST(HostileReplies, EndlessOrOversizedBodyIsCutAtItsLimitAndFailsWithAReason) {
  constexpr uint32_t kLimit = 16u << 20;
  for (const char* directives : {"endless=1", "size=17825792"}) {
    const std::string tag = std::string("huge-body-") + (directives[0] == 'e' ? "endless" : "announced");
    WinHttpClient body(Url("http", tag, directives), nullptr);
    EXPECT_FALSE(body.Execute(u"PUT", false)) << directives;
    EXPECT_EQ(body.ErrorCode(), platform::kErrorFileTooLarge) << directives;
    EXPECT_EQ(WinHttpClientProbe::BodyLength(body), kLimit) << directives;
    EXPECT_EQ(RecordedCount(tag), 1) << directives;
  }
#ifndef __SANITIZE_ADDRESS__  // which keeps freed blocks back and shadows every byte
  EXPECT_LT(test_service::PeakMemoryBytes(), size_t{100} << 20);
#endif

  // Wine's WinHTTP reads a header block without bound and takes no limit
  // (Windows' own stops at 64 KiB by default), so there only the body is.
  if (std::getenv("INKSEAL_HTTP_UNDER_WINE") != nullptr) return;
  WinHttpClient head(Url("http", "endless-head", "endlesshead=1"), nullptr);
  EXPECT_FALSE(head.Execute(u"PUT", false));
  EXPECT_EQ(head.ErrorCode(), platform::kHttpErrorHeaderSizeOverflow);
}

TEST(HostileReplies, TricklingBodyEndsAtTheResponseDeadline) {
  // Without the deadline every byte, arriving well within the receive
  // time-out, would keep the exchange going for the service's full minute.
  test_service::SetEnvironment("INKSEAL_TEST_RESPONSE_DEADLINE_MS", "3000");
  WinHttpClient client(Url("http", "trickle", "trickle=0.5"), nullptr);
  const bool completed = client.Execute(u"PUT", false);
  test_service::SetEnvironment("INKSEAL_TEST_RESPONSE_DEADLINE_MS", "");
  EXPECT_FALSE(completed);
  EXPECT_EQ(client.ErrorCode(), platform::kHttpErrorTimeout);
  EXPECT_EQ(RecordedCount("trickle"), 1);
  EXPECT_LT(WinHttpClientProbe::BodyLength(client), 20u);
}

TEST(HostileReplies, StalledHeadEndsAtTheWaitLimitOnEveryPlatform) {
  // Wine's WinHTTP fixes the wait for the head when the request goes out;
  // set later, the limit would leave it waiting until the server gives up.
  test_service::SetEnvironment("INKSEAL_TEST_RESPONSE_DEADLINE_MS", "2000");
  WinHttpClient client(Url("http", "stalled-head", "stallfirst=20/body=late"), nullptr);
  client.Execute(u"GET", false);  // a later attempt may or may not be answered
  test_service::SetEnvironment("INKSEAL_TEST_RESPONSE_DEADLINE_MS", "");
  EXPECT_EQ(client.ErrorCode(), platform::kHttpErrorTimeout);
}

TEST(HostileReplies, ReplyThatIsNotHttpIsAnInvalidResponse) {
  WinHttpClient client(Url("http", "not-http", "garbage=1"), nullptr);
  EXPECT_FALSE(client.Execute(u"PUT", false));
  EXPECT_EQ(client.ErrorCode(), platform::kHttpErrorInvalidServerResponse);
}

// A slow uplink: the throttled port takes the body at 256 KiB/s through a
// small window, so well over the (shortened) wait for the reply is still
// on its way after the client's last write.  The wait counts only from
// when the body has left; a server that then stays silent ends the
// exchange at that wait, and the body it got whole is not sent again.
TEST(SlowUplink, BodyStillLeavingIsNeverCutNorSentTwiceButSilenceAfterwardsEnds) {
  const std::string document(1u << 20, 'd');
  const std::u16string headers =
      test_service::Widen("Content-Length: " + std::to_string(document.size()) + "\r\nContent-Type: application/pdf\r\n");
  test_service::SetEnvironment("INKSEAL_TEST_RESPONSE_DEADLINE_MS", "2000");
  // Under Wine the socket takes the whole MiB at once and WinHTTP shows
  // nothing of its send queue, so there only the silence is tried.
  const bool underWine = std::getenv("INKSEAL_HTTP_UNDER_WINE") != nullptr;
  for (const bool answered : {true, false}) {
    if (answered && underWine) continue;
    const std::string tag = answered ? "slow-uplink" : "silent-after-body";
    PiecewiseBody body(document, document.size());
    WinHttpClient client(answered ? Url("http_throttled", tag, "throttle=262144/body=stored")
                                  : Url("http", tag, "stallfirst=20/body=late"),
                         nullptr);
    client.AttachBody(body);
    client.SetExtraHeaders(headers);
    EXPECT_EQ(client.Execute(u"PUT", false), answered) << tag << " " << client.ErrorCode();
    EXPECT_EQ(client.ContentText(), answered ? u"stored" : u"") << tag;
    if (!answered) {
      EXPECT_EQ(client.ErrorCode(), platform::kHttpErrorTimeout);
    }
    EXPECT_EQ(RecordedCount(tag), 1) << tag;
    EXPECT_EQ(RecordedRequest(tag, 1).body.size(), document.size()) << tag;
  }
  test_service::SetEnvironment("INKSEAL_TEST_RESPONSE_DEADLINE_MS", "");
}

}  // namespace
}  // namespace inkseal
