// Which page addresses the uploader hands to the desktop to open, and in
// what form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace inkseal {

// The address as the browser gets it, or absent when it is refused.
//
// Taken: an absolute http:// or https:// address (the scheme in any case)
// with a host, an optional numeric port, and nothing but the characters an
// address may hold.  The value comes from the service's reply, so anyone on
// the network path may have written it: the shell would run a path, a share
// or a file: address as a program or open it as a document, and a blank or
// quote could split the browser's command line.
//
// Handed on: printable ASCII only, the same on every platform.  A browser
// that reads its command line in the local code page may turn a fullwidth
// quote into a quote, so an international host goes in its "xn--" form and
// any other non-ASCII character percent-encoded as UTF-8.  Blanks, controls,
// invisible and direction-changing characters, and fullwidth forms in the
// host are refused wherever they stand.
std::optional<std::u16string> BrowserAddress(std::u16string_view address);

}  // namespace inkseal
