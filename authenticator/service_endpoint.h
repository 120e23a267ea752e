// Where the personal token is asked for.  The host is fixed when the program
// is built; the environment variable INKSEAL_SERVICE_HOST (host or
// host:port) overrides it for tests, but only with a loopback host: the
// user's password goes to the built-in host or to this machine, nowhere else.
#pragma once

#include <string>

namespace inkseal {

// "https://" + host + "/api/v1/getpersonaltoken".
std::u16string TokenEndpointUrl();

// "localhost", an address in 127.0.0.0/8 or "[::1]" (also "::1" without a
// port), each with an optional ":port".
bool IsLoopbackHost(const std::u16string& hostAndPort);

}  // namespace inkseal
