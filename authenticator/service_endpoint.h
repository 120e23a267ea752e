// Where the personal token is asked for.  The host is fixed when the program
// is built; the environment variable INKSEAL_SERVICE_HOST (host or
// host:port) overrides it for staging and tests.
#pragma once

#include <string>

namespace inkseal {

// "https://" + host + "/api/v1/getpersonaltoken".
std::u16string TokenEndpointUrl();

}  // namespace inkseal
