// The calling thread's last operating-system error, and the error numbers
// that the programs set themselves.  Each platform keeps to its own domain:
// Windows system error numbers on Windows, errno values on POSIX, so the
// description shown next to a number always belongs to it.
#pragma once

#include <cstdint>

namespace inkseal::platform {

uint32_t LastError();
void SetLastError(uint32_t code);

extern const uint32_t kErrorPathNotFound;          // Windows 3,    POSIX ENOENT
extern const uint32_t kErrorInvalidData;           // Windows 13,   POSIX EBADMSG
extern const uint32_t kErrorInvalidParameter;      // Windows 87,   POSIX EINVAL
extern const uint32_t kErrorInsufficientBuffer;    // Windows 122,  POSIX ENOBUFS
extern const uint32_t kErrorAlreadyExists;         // Windows 183,  POSIX EEXIST
extern const uint32_t kErrorFileTooLarge;          // Windows 223,  POSIX EFBIG
extern const uint32_t kErrorNoUnicodeTranslation;  // Windows 1113, POSIX EILSEQ
extern const uint32_t kErrorDocumentChanged;       // Windows 1006, POSIX ESTALE
// No handler for the address to open.  POSIX has no counterpart, so there it
// is Windows' own number with Windows' words (error_text_posix.cpp).
extern const uint32_t kErrorNoAssociation;         // Windows 1155, POSIX 1155

}  // namespace inkseal::platform
