// Access to the loopback test service that run_with_service.py starts for
// these tests: its base URLs and the requests it recorded, byte for byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "http/win_http_client.h"
#include "platform/last_error.h"

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
  static uint32_t SecurityFlags(const WinHttpClient& client) { return client.securityFlags; }
};

namespace test_service {

// Base URL ("http://127.0.0.1:port") of one listener: "http", "https",
// "https_expired", "https_wrong_name", "http_other" (plain http on a second
// port), "http_throttled" (a small receive window, for throttle=),
// "closed" (nothing listens there).
std::string BaseUrl(const std::string& listener);

// The service's throwaway authority, which a client trusts as the programs
// do when the settings file beside them names it.
std::u16string ServiceAuthorities();

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

// A body read in small pieces, as the uploader streams a document; reading
// beyond failAfter bytes fails as a document changed on disk would.
class PiecewiseBody : public RequestBody {
 public:
  PiecewiseBody(const std::string& bytes, size_t failAfter) : bytes(bytes), failAfter(failAfter) {}
  void Rewind() override { position = 0; }
  bool ReadPiece(uint8_t* buffer, size_t capacity, size_t& count) override {
    count = std::min({capacity, bytes.size() - position, size_t{4093}});
    if (position + count > failAfter) {
      platform::SetLastError(platform::kErrorDocumentChanged);
      return false;
    }
    std::copy_n(bytes.data() + position, count, buffer);
    position += count;
    return true;
  }

 private:
  const std::string& bytes;
  const size_t failAfter;
  size_t position = 0;
};

// The most memory this process has held at once, in bytes.
size_t PeakMemoryBytes();

// Sets (or, with an empty value, removes) a variable of this process's
// environment, where the client under test reads its test-only settings.
void SetEnvironment(const std::string& name, const std::string& value);
std::u16string Widen(const std::string& ascii);

}  // namespace test_service
}  // namespace inkseal
