#include "header_blocks.h"

#include <string>

namespace inkseal::bench {
namespace {

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The header lines of one reply; `n` varies the values between copies.
std::string HeaderLines(unsigned n) {
  const std::string id = std::to_string(100000 + n * 7919);
  return "Date: Tue, 08 Dec 2026 16:15:41 GMT\r\n"
         "Server: nginx/1.22.1\r\n"
         "Content-Type: application/json; charset=utf-8\r\n"
         "Content-Length: " + std::to_string(181 + n) + "\r\n"
         "Connection: keep-alive\r\n"
         "Cache-Control: no-store, no-cache, must-revalidate, max-age=0\r\n"
         "Pragma: no-cache\r\n"
         "Vary: Accept-Encoding, Origin\r\n"
         "X-Request-Id: 6f1c2e9a-" + id + "-4b8e-9d2f-3a7c5e1b0d44\r\n"
         "X-Runtime: 0.084213\r\n"
         "Strict-Transport-Security: max-age=31536000; includeSubDomains\r\n"
         "X-Content-Type-Options: nosniff\r\n"
         "X-Frame-Options: SAMEORIGIN\r\n"
         "Referrer-Policy: strict-origin-when-cross-origin\r\n"
         "Set-Cookie: _session_id=" + id + "a9f3c1e7b2d84f6a0c5e9b1d3f7a2c8e; path=/; secure; HttpOnly; SameSite=Lax\r\n"
         "Set-Cookie: locale=en; path=/; expires=Wed, 08 Dec 2027 16:15:41 GMT\r\n"
         "ETag: W/\"" + id + "e3b0c44298fc1c149afbf4c8996fb924\"\r\n"
         "X-Open-Browser: https://sign.inkseal.app/documents/" + id + "/sign?lang=en&source=printer\r\n"
         "Access-Control-Allow-Origin: https://sign.inkseal.app\r\n"
         "Access-Control-Expose-Headers: X-Open-Browser, X-Request-Id\r\n"
         "Via: 1.1 proxy.internal (squid/5.7)\r\n";
}

}  // namespace

std::u16string ReplyHeaderBlock() {
  return Widen("HTTP/1.1 201 Created\r\n" + HeaderLines(0) + "\r\n");
}

std::u16string LargeHeaderBlock(std::size_t characters) {
  std::string block = "HTTP/1.1 201 Created\r\n";
  for (unsigned n = 0; block.size() + 2 < characters; ++n) block += HeaderLines(n);
  return Widen(block + "\r\n");
}

}  // namespace inkseal::bench
