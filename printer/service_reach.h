// Whether the signature service can be reached now: a connection to the
// upload address's host and port (through the proxy GIO would use), made
// and closed again, sends nothing.  A retry that would only fail the way the
// last one did is thus never started, and shows the user nothing.
#pragma once

#include <chrono>
#include <string>

namespace inkseal::printer {

constexpr std::chrono::seconds kReachLimit{10};

// url: the upload address.  An address that is missing or that GIO cannot
// read counts as reachable: the uploader then says what is wrong with it.
bool ServiceReachable(const std::string& url, std::chrono::seconds limit = kReachLimit);

}  // namespace inkseal::printer
