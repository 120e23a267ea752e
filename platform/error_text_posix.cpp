// Error descriptions on POSIX: the C library's text for an errno value, ended
// with a line break as the Windows message table's texts are.  A number the
// library does not know has no description at all, rather than a made-up
// "Unknown error" text that would pass for one.
#include "platform/error_text.h"

#include <string.h>

#include <climits>

#include "text/utf.h"
#include "platform/last_error.h"
#include "platform/winhttp_messages.h"

namespace inkseal::platform {
namespace {

constexpr size_t kErrorTextCapacity = 256;
// Windows' words for the one number of its own this platform sets, so that
// the message reads the same on both.
constexpr char16_t kNoAssociationText[] =
    u"No application is associated with the specified file for this operation.\n";

bool IsKnownErrno(uint32_t code) {
  return code <= static_cast<uint32_t>(INT_MAX) && strerrordesc_np(static_cast<int>(code)) != nullptr;
}

}  // namespace

std::u16string SystemErrorText(uint32_t code) {
  if (code == kErrorNoAssociation) return kNoAssociationText;
  if (!IsKnownErrno(code)) return {};
  // strerror_r in the user's language (the GNU form returns the text it chose).
  char buffer[kErrorTextCapacity];
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return Utf8ToUtf16(text) + u"\n";
}

std::u16string HttpErrorText(uint32_t code) {
  if (const char16_t* text = WinHttpMessageText(code)) return text;
  return SystemErrorText(code);
}

}  // namespace inkseal::platform
