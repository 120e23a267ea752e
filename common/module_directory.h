// Where a program's own executable lives: the administrator's settings file
// and the authenticator are looked for there.
#pragma once

#include <optional>
#include <string>

namespace inkseal {

// Everything up to and including the last separator of the executable's full
// file name.  Absent when there is no separator, or only one at the very start.
std::optional<std::u16string> ModuleDirectory(const std::u16string& moduleFileName,
                                              char16_t separator);

// The running program's own folder, as ModuleDirectory gives it; absent when
// the program's path cannot be found.
std::optional<std::u16string> OwnModuleDirectory();

}  // namespace inkseal
