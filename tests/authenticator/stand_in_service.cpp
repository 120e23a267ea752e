#include "stand_in_service.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "http/win_http_client.h"
#include "text/utf.h"
#include "json/reader.h"

namespace inkseal::testing {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// One control request; fails the running test when the service is not reached.
std::string Exchange(const char16_t* verb, const std::string& path, const std::string& body) {
  WinHttpClient client(StandInService::Url(path), nullptr);
  client.certificateAuthorities = StandInService::Trust().authorityFile;
  client.AttachBody(body.data(), static_cast<uint32_t>(body.size()));
  client.SetExtraHeaders(u"Content-Length: " + Utf8ToUtf16(std::to_string(body.size())) +
                         u"\r\nContent-Type: application/json\r\n");
  EXPECT_TRUE(client.Execute(verb, false)) << "stand-in service not reached, error " << client.ErrorCode();
  return Utf16ToUtf8(client.ContentText());
}

std::string JsonQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}


}  // namespace

std::string ReceivedRequest::Header(const std::string& name) const {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  for (const auto& [n, v] : headers) {
    if (lower(n) == lower(name)) return v;
  }
  return "";
}

CertificateTrust StandInService::Trust() {
  const char* authority = std::getenv("INKSEAL_TEST_SERVICE_CA");
  CertificateTrust trust;
  trust.authorityFile = Utf8ToUtf16(authority == nullptr ? "" : authority);
  return trust;
}

std::string StandInService::HostAndPort() {
  const char* host = std::getenv("INKSEAL_TEST_SERVICE");
  return host == nullptr ? "" : host;
}

std::u16string StandInService::Url(const std::string& path) {
  return Utf8ToUtf16("https://" + HostAndPort() + path);
}

void StandInService::Reset() { Exchange(u"POST", "/_test/reset", ""); }

void StandInService::QueueReply(int status, const std::string& body) {
  Exchange(u"POST", "/_test/reply",
           "{\"status\":" + std::to_string(status) + ",\"headers\":[[\"Content-Type\",\"application/json; charset=utf-8\"]]," +
               "\"body_base64\":" + JsonQuoted(Base64Encode(body)) + "}");
}

std::vector<ReceivedRequest> StandInService::Requests() {
  // The log is a JSON list; the reader takes objects only, so wrap it.
  std::istringstream stream("{\"log\":" + Exchange(u"GET", "/_test/requests", "") + "}");
  json::Object root;
  json::Reader::Read(root, stream);
  std::vector<ReceivedRequest> requests;
  for (const json::UnknownElement& entry : root.Find("log")->element.Get<json::Array>()) {
    const auto& fields = entry.Get<json::Object>();
    auto text = [&](const char* name) { return fields.Find(name)->element.Get<json::String>().Value(); };
    ReceivedRequest request{text("method"), text("path"), {}, Base64Decode(text("body_base64"))};
    for (const json::UnknownElement& pair : fields.Find("headers")->element.Get<json::Array>()) {
      const auto& nameAndValue = pair.Get<json::Array>();
      auto it = nameAndValue.begin();
      const std::string name = it->Get<json::String>().Value();
      ++it;
      request.headers.emplace_back(name, it->Get<json::String>().Value());
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

std::string Base64Encode(const std::string& bytes) {
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int shift : {18, 12, 6, 0}) out += kAlphabet[(v >> shift) & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Base64Decode(const std::string& text) {
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    const char* at = std::strchr(kAlphabet, c);
    if (c == '=' || at == nullptr || c == '\0') continue;
    buffer = (buffer << 6) | static_cast<unsigned>(at - kAlphabet);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return out;
}

}  // namespace inkseal::testing
