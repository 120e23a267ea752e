// The process environment.
#pragma once

#include <string>

namespace inkseal::platform {

// The value of an environment variable; empty when it is unset or empty.
std::u16string EnvironmentVariable(const std::u16string& name);

}  // namespace inkseal::platform
