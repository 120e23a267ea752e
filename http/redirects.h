// How the client follows a redirect itself, hop by hop, instead of leaving
// it to the platform: the platforms disagree on which request lines travel
// to the new address, and a caller's credentials must reach no one but the
// origin they were meant for.
#pragma once

#include <cstdint>
#include <string>

#include "platform/http_transport.h"

namespace inkseal {

// Hops followed before the exchange fails, as the platform's own default.
constexpr int kMaxRedirectHops = 10;

// A response that sends the request elsewhere: 301, 302, 303, 307, 308.
bool IsRedirectStatus(uint32_t status);

// The status code and the Location value (empty when none) of a raw header
// block ("HTTP/1.1 302 Found\r\nLocation: ...\r\n...").
uint32_t StatusOf(const std::u16string& headerBlock);
std::u16string LocationOf(const std::u16string& headerBlock);

// The absolute URL a Location value names, read against the URL that was
// answered: absolute, scheme-relative ("//host/..."), absolute-path or
// relative-path, with spaces, controls and non-ASCII characters escaped.
// Empty when the location is empty.
std::u16string ResolveLocation(const std::u16string& base, const std::u16string& location);

// Same scheme, host (ignoring case) and port.
bool SameOrigin(const platform::HttpUrlParts& a, const platform::HttpUrlParts& b);

// The verb the next hop uses: a 303 turns every verb into GET, a 301 or 302
// turns POST into GET (what browsers and WinHTTP do); 307 and 308 keep it.
// A verb that changes leaves the body behind.
const char16_t* VerbAfterRedirect(uint32_t status, const char16_t* verb);

// The caller's header lines for the next hop: without Authorization when it
// leaves the original origin, without the body's Content-Length and
// Content-Type when the body stays behind.
std::u16string HeaderLinesForHop(const std::u16string& lines, bool keepsAuthorization,
                                 bool keepsBody);

}  // namespace inkseal
