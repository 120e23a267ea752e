// POSIX code pages: UTF-8 as the Unicode one, Windows-1252 as "ANSI", with the
// calling conventions of the Windows conversion functions (size queries with
// no output, 0 and the last error on failure, a count of -1 meaning "up to and
// including the terminating zero").
#include "platform/codepage.h"

#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "text/utf.h"
#include "text/windows1252.h"
#include "platform/last_error.h"

namespace inkseal::platform {
namespace {

constexpr char kDefaultCharacter = '?';

template <typename Unit>
int CopyOut(const std::basic_string<Unit>& converted, Unit* out, int outSize) {
  if (converted.size() > static_cast<size_t>(INT_MAX)) {
    SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  const int needed = static_cast<int>(converted.size());
  if (out == nullptr || outSize == 0) return needed;
  if (outSize < needed) {
    SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  std::memcpy(out, converted.data(), converted.size() * sizeof(Unit));
  return needed;
}

bool ValidArguments(const void* input, int count, int outSize) {
  if (input == nullptr || count == 0 || outSize < 0) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  return true;
}

std::string EncodeWindows1252(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (char16_t unit : text) {
    unsigned char byte;
    bytes.push_back(UnitToWindows1252(unit, byte) ? static_cast<char>(byte) : kDefaultCharacter);
  }
  return bytes;
}

}  // namespace

int MultiByteToWide(CodePage codePage, uint32_t flags, const char* bytes, int count,
                    char16_t* out, int outSize) {
  if (!ValidArguments(bytes, count, outSize)) return 0;
  const std::string_view input(bytes, count < 0 ? std::strlen(bytes) + 1 : static_cast<size_t>(count));
  switch (codePage) {
    case CodePage::Utf8:
      if ((flags & kErrInvalidChars) != 0 && !IsValidUtf8(input)) {
        SetLastError(kErrorNoUnicodeTranslation);
        return 0;
      }
      return CopyOut(Utf8ToUtf16(input), out, outSize);
    case CodePage::Ansi:
      // Every byte of Windows-1252 has a character, so nothing is invalid.
      return CopyOut(DecodeWindows1252(input), out, outSize);
  }
  SetLastError(kErrorInvalidParameter);
  return 0;
}

int WideToMultiByte(CodePage codePage, const char16_t* text, int count, char* out, int outSize) {
  if (!ValidArguments(text, count, outSize)) return 0;
  const std::u16string_view input(
      text, count < 0 ? std::char_traits<char16_t>::length(text) + 1 : static_cast<size_t>(count));
  switch (codePage) {
    case CodePage::Utf8:
      return CopyOut(Utf16ToUtf8(input), out, outSize);
    case CodePage::Ansi:
      return CopyOut(EncodeWindows1252(input), out, outSize);
  }
  SetLastError(kErrorInvalidParameter);
  return 0;
}

}  // namespace inkseal::platform
