// Writing a short record over the start of a file that its reader made
// beforehand (with room for it) and flushing it to disk: it needs no new
// space, so a full disk cannot lose it, and a write of a few bytes at the
// start of a file is never seen half-done.
#pragma once

#include <string>

namespace inkseal::platform {

// False with the last error set, also when path does not exist (no one
// asked for the record).
bool OverwriteFileStart(const std::u16string& path, const std::string& bytes);

}  // namespace inkseal::platform
