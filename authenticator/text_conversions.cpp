#include "authenticator/text_conversions.h"

#include <stdexcept>
#include <vector>

#include "platform/codepage.h"
#include "platform/last_error.h"

namespace inkseal {
namespace {

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// Plain ASCII classification on purpose: a locale must never change what is sent.
bool IsUnreservedByte(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
         byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

}  // namespace

std::string FormEncode(const std::string& bytes) {
  std::string encoded;
  encoded.reserve(bytes.size());
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsUnreservedByte(byte)) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kUpperHexDigits[byte >> 4];
      encoded += kUpperHexDigits[byte & 0x0F];
    }
  }
  return encoded;
}

// Both conversions hand the terminator to the platform with the text, as a
// NUL-terminated call would, and drop it again from the result.
std::string WideToUtf8(const std::u16string& text) {
  const int count = static_cast<int>(text.size()) + 1;
  const int needed = platform::WideToMultiByte(platform::CodePage::Utf8, text.c_str(), count, nullptr, 0);
  if (needed == 0) throw std::runtime_error("Error in conversion.");
  std::vector<char> bytes(static_cast<size_t>(needed));
  const int written = platform::WideToMultiByte(platform::CodePage::Utf8, text.c_str(), count, bytes.data(), needed);
  if (written != needed) throw std::runtime_error("La falla!");
  return std::string(bytes.data(), bytes.size() - 1);
}

std::u16string Utf8ToWide(const std::string& bytes) {
  const int count = static_cast<int>(bytes.size()) + 1;
  const int needed = platform::MultiByteToWide(platform::CodePage::Utf8, 0, bytes.c_str(), count, nullptr, 0);
  if (needed == 0) {
    if (platform::LastError() == platform::kErrorNoUnicodeTranslation) {
      throw std::runtime_error("Invalid UTF-8 sequence.");
    }
    throw std::runtime_error("Error in conversion.");
  }
  std::vector<char16_t> text(static_cast<size_t>(needed));
  const int written =
      platform::MultiByteToWide(platform::CodePage::Utf8, 0, bytes.c_str(), count, text.data(), needed);
  if (written != needed) throw std::runtime_error("La falla!");
  return std::u16string(text.data(), text.size() - 1);
}

}  // namespace inkseal
