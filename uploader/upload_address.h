// Whether an upload address may carry the user's credentials.
#pragma once

#include <string>

namespace inkseal {

// True for a plain http:// address whose host is not this machine: the
// Authorization value carries both secrets in PLAINTEXT, which is safe only
// over TLS or when nothing leaves the machine.  False for https, for
// loopback hosts (localhost, 127.0.0.0/8, [::1]), and for an address that
// cannot be split, which the exchange itself then reports.
bool SendsCredentialsInClear(const std::u16string& uploadUrl);

}  // namespace inkseal
