// Where the personal token is asked for: the host fixed when the program is
// built.  A build with test hooks also takes INKSEAL_SERVICE_HOST (host or
// host:port), but only a loopback host, so tests can reach a stand-in
// service; what the packages ship has no such override.
#pragma once

#include <string>

namespace inkseal {

// "https://" + host + "/api/v1/getpersonaltoken".
std::u16string TokenEndpointUrl();

}  // namespace inkseal
