// Values picked out of a raw response header block, and the check that an
// HTML page arrived whole.  The block has the shape the platform delivers:
// status line, then "Name: value" lines, each ended by CR LF.  Each value is
// found by a text pattern over the whole block, so it is found in whichever
// line it stands; a pattern that finds nothing leaves its field untouched.
#pragma once

#include <cstdint>
#include <string>

#include "platform/http_transport.h"

namespace inkseal {

// The first "charset=" value made of letters, digits, '-' and '_'.
void PickCharset(const std::u16string& headerBlock, std::u16string& charset);

// The X-Open-Browser header's value, to the end of its line.  The name may
// be in any case but must be followed by a colon and exactly one space.
void PickBrowserUrl(const std::u16string& headerBlock, std::u16string& browserUrl);

// The Content-Length header's value.  A value beyond 32 bits is left alone.
void PickContentLength(const std::u16string& headerBlock, uint32_t& contentLength);

// False only when the text holds "<html>" but no "</html>" (any case).
bool PageIsComplete(const std::u16string& contentText);

// The response's raw header block; false (block unchanged) when it cannot
// be read.
bool QueryHeaderBlock(platform::HttpRequestState& request, std::u16string& block);

}  // namespace inkseal
