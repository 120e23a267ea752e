// The authenticator's executable, looked for beside the uploader.
#pragma once

#include <cstdint>

namespace inkseal {

extern const char16_t kAuthenticatorFileName[];  // "Brantwick.exe" on Windows, "Brantwick" on POSIX

// The authenticator's exit code when it has stored the credentials.
constexpr uint32_t kAuthenticatorStoredCredentials = 1;

}  // namespace inkseal
