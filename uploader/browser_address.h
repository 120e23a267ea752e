// Which page addresses the uploader hands to the desktop to open.
#pragma once

#include <string_view>

namespace inkseal {

// True only for an absolute http:// or https:// address (the scheme in any
// case) with a host, an optional numeric port, and nothing but the
// characters an address may hold.  The value comes from the service's
// reply, so anyone on the network path may have written it: the shell would
// run a path, a share or a file: address as a program or open it as a
// document, and a blank or quote could split the browser's command line.
bool IsWebPageAddress(std::u16string_view address);

}  // namespace inkseal
