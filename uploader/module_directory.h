// Where the uploader's own executable lives: its settings file and the
// authenticator are looked for there.
#pragma once

#include <optional>
#include <string>

namespace inkseal {

// Everything up to and including the last separator of the executable's full
// file name.  Absent when there is no separator, or only one at the very start.
std::optional<std::u16string> ModuleDirectory(const std::u16string& moduleFileName,
                                              char16_t separator);

}  // namespace inkseal
