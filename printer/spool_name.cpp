#include "printer/spool_name.h"

#include <cstddef>

namespace inkseal::printer {
namespace {

constexpr char kExtension[] = ".pdf";
constexpr char kUntitled[] = "document";
constexpr char kReplacement = '_';

// Length of the valid UTF-8 sequence at text[i], or 0 (overlong forms,
// surrogates and values past U+10FFFF are invalid).
size_t Utf8SequenceLength(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  unsigned int value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
      (length == 4 && (value < 0x10000 || value > 0x10FFFF)))
    return 0;
  // C1 controls and the line and paragraph separators break lines as well.
  if ((value >= 0x80 && value <= 0x9F) || value == 0x2028 || value == 0x2029) return 0;
  return length;
}

bool IsUnsafeAscii(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == '"' || c == '\'' || c == '`' || c == '$';
}

bool EndsWithPdf(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == kExtension;
}

}  // namespace

std::string SpoolFileName(const std::string& title) {
  std::string name;
  for (size_t i = 0; i < title.size();) {
    const unsigned char c = static_cast<unsigned char>(title[i]);
    if (c < 0x80) {
      name.push_back(IsUnsafeAscii(c) ? kReplacement : static_cast<char>(c));
      ++i;
      continue;
    }
    const size_t length = Utf8SequenceLength(title, i);
    if (length == 0) {
      name.push_back(kReplacement);
      ++i;
    } else {
      name.append(title, i, length);
      i += length;
    }
  }
  // Blanks at the ends are invisible in a file name; dots in front hide it
  // (and "." or ".." would name a folder).
  const size_t first = name.find_first_not_of(' ');
  const size_t last = name.find_last_not_of(' ');
  name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
  for (char& c : name) {
    if (c != '.') break;
    c = kReplacement;
  }
  if (EndsWithPdf(name)) name.resize(name.size() - 4);
  if (name.empty()) name = kUntitled;
  const size_t room = kMaxSpoolNameBytes - (sizeof kExtension - 1);
  if (name.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return name + kExtension;
}

}  // namespace inkseal::printer
