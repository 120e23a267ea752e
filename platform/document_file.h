// Reading the printed document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace inkseal::platform {

// A whole document in memory, held in a buffer that can be handed on
// without a copy.  After a successful read data is never null, even for an
// empty document, and holds at least size + 1 bytes.
struct DocumentBytes {
  std::unique_ptr<uint8_t[]> data;
  uint32_t size = 0;
};

// Opens path for reading (text mode, sharing with everyone) and closes it
// again.  False with the last error set when it cannot be opened.
bool ProbeDocument(const std::u16string& path);

// Reads the whole file in binary mode, sharing with everyone.  False with the
// last error set (and bytes empty) when it cannot be opened or read whole, or
// when it is 2 GiB or larger (kErrorFileTooLarge): a signed 32-bit length
// could not announce it.
bool ReadDocument(const std::u16string& path, DocumentBytes& bytes);

}  // namespace inkseal::platform
