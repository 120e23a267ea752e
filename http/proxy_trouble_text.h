// The words that tell the user which proxy stood between the program and
// the service when an exchange failed there.
#pragma once

#include <string>

#include "platform/http_transport.h"

namespace inkseal {

// One line ending in "\n", to go before the failure's own text; empty when
// no proxy was at fault.
std::u16string ProxyTroubleText(const platform::HttpProxyTrouble& trouble);

}  // namespace inkseal
