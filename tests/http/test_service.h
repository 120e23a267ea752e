// Access to the loopback test service that run_with_service.py starts for
// these tests: its base URLs and the requests it recorded, byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "http/win_http_client.h"

namespace inkseal {

// Lets the tests look at what the client keeps privately.
class WinHttpClientProbe {
 public:
  static std::string BodyBytesWithTerminator(const WinHttpClient& client) {
    return std::string(reinterpret_cast<const char*>(client.bodyBytes.get()), client.bodyLength + 1);
  }
  static uint32_t BodyLength(const WinHttpClient& client) { return client.bodyLength; }
  static std::u16string Charset(const WinHttpClient& client) { return client.charset; }
  static uint32_t ContentLength(const WinHttpClient& client) { return client.contentLength; }
};

namespace test_service {

// Base URL ("http://127.0.0.1:port") of one listener: "http", "https",
// "https_expired", "https_wrong_name", "http_other" (plain http on a second
// port), "closed" (nothing listens there).
std::string BaseUrl(const std::string& listener);

// The address of a scripted exchange: /t/<tag>/<directives...>.
std::u16string Url(const std::string& listener, const std::string& tag, const std::string& directives = "");

// One request as the service received it.
struct Recorded {
  std::string requestLine;
  std::vector<std::string> headerLines;  // without their CR LF
  std::string body;
  std::string raw;
};

// How many requests arrived for a tag, and the n-th of them (from 1).
int RecordedCount(const std::string& tag);
Recorded RecordedRequest(const std::string& tag, int n);

// Lines of a header block (CR LF separated), the empty ones left out.
std::vector<std::string> LinesOf(const std::u16string& block);

std::string Narrow(const std::u16string& ascii);

// Sets (or, with an empty value, removes) a variable of this process's
// environment, where the client under test reads its test-only settings.
void SetEnvironment(const std::string& name, const std::string& value);
std::u16string Widen(const std::string& ascii);

}  // namespace test_service
}  // namespace inkseal
