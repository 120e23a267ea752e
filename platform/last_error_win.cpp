#include "platform/last_error.h"

#include <windows.h>

namespace inkseal::platform {

uint32_t LastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

const uint32_t kErrorPathNotFound = ERROR_PATH_NOT_FOUND;
const uint32_t kErrorInvalidData = ERROR_INVALID_DATA;
const uint32_t kErrorInvalidParameter = ERROR_INVALID_PARAMETER;
const uint32_t kErrorInsufficientBuffer = ERROR_INSUFFICIENT_BUFFER;
const uint32_t kErrorAlreadyExists = ERROR_ALREADY_EXISTS;
const uint32_t kErrorFileTooLarge = ERROR_FILE_TOO_LARGE;
const uint32_t kErrorNoUnicodeTranslation = ERROR_NO_UNICODE_TRANSLATION;
// "The volume for a file has been externally altered so that the opened
// file is no longer valid."
const uint32_t kErrorDocumentChanged = ERROR_FILE_INVALID;
const uint32_t kErrorNoAssociation = ERROR_NO_ASSOCIATION;

}  // namespace inkseal::platform
