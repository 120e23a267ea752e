#include "uploader/authenticator_file.h"

namespace inkseal {
const char16_t kAuthenticatorFileName[] = u"Brantwick";
}  // namespace inkseal
