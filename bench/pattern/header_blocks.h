// Response header blocks shaped as WinHTTP delivers them: status line, one
// "Name: value" line per header, each ended by CR LF, then an empty line.
#pragma once

#include <cstddef>
#include <string>

namespace inkseal::bench {

// A typical upload reply of about 1 Ki characters.
std::u16string ReplyHeaderBlock();

// About `characters` characters: the reply's header lines repeated with
// changing values (cookies, request ids, lengths), as a proxy chain or a
// misbehaving server might send them.
std::u16string LargeHeaderBlock(std::size_t characters);

}  // namespace inkseal::bench
