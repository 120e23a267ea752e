#include "platform/last_error.h"

#include <cerrno>

namespace inkseal::platform {

uint32_t LastError() { return static_cast<uint32_t>(errno); }
void SetLastError(uint32_t code) { errno = static_cast<int>(code); }

const uint32_t kErrorPathNotFound = ENOENT;
const uint32_t kErrorInvalidData = EBADMSG;
const uint32_t kErrorInvalidParameter = EINVAL;
const uint32_t kErrorInsufficientBuffer = ENOBUFS;
const uint32_t kErrorAlreadyExists = EEXIST;
const uint32_t kErrorFileTooLarge = EFBIG;
const uint32_t kErrorNoUnicodeTranslation = EILSEQ;
// The file is no longer the one that was opened and read.
const uint32_t kErrorDocumentChanged = ESTALE;
// Far above every errno value, so it cannot be taken for one.
const uint32_t kErrorNoAssociation = 1155;

}  // namespace inkseal::platform
