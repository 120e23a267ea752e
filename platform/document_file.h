// Reading the printed document.
#pragma once

#include <string>
#include <vector>

namespace inkseal::platform {

// Opens path for reading (text mode, sharing with everyone) and closes it
// again.  False with the last error set when it cannot be opened.
bool ProbeDocument(const std::u16string& path);

// Reads the whole file in binary mode, sharing with everyone.  False with the
// last error set when it cannot be opened or read whole, or when it is 2 GiB
// or larger (kErrorFileTooLarge): a signed 32-bit length could not announce it.
bool ReadDocument(const std::u16string& path, std::vector<char>& bytes);

}  // namespace inkseal::platform
