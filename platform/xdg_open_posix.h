// The fallback of the browser step on Linux: xdg-open, for desktops where
// GIO knows no handler for an address (a bare session, $BROWSER).
#pragma once

#include <string>

namespace inkseal::platform {

// Hands address (UTF-8) to xdg-open.  True when it accepted it; false with
// the last error set when it refused, when it is not installed (then no
// handler exists at all: kErrorNoAssociation) or could not be started.
bool OpenWithXdgOpen(const std::string& address);

}  // namespace inkseal::platform
