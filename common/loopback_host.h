// Whether a host names this machine, so that nothing sent to it leaves it.
#pragma once

#include <string>

namespace inkseal {

// "localhost" (in any case), an address in 127.0.0.0/8, or "[::1]" (also
// "::1" without a port), each with an optional ":port".
bool IsLoopbackHost(const std::u16string& hostAndPort);

}  // namespace inkseal
