#include "text/utf.h"

namespace inkseal {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at bytes[i]; returns the code point or -1 and
// advances i past what was consumed (at least one byte).
long DecodeOne(std::string_view bytes, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int extra;
  long cp;
  long minimum;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1; cp = lead & 0x1F; minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2; cp = lead & 0x0F; minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3; cp = lead & 0x07; minimum = 0x10000;
  } else {
    ++i;
    return -1;
  }
  size_t k = i + 1;
  for (int n = 0; n < extra; ++n, ++k) {
    if (k >= bytes.size() || (byte(k) & 0xC0) != 0x80) {
      i = k;
      return -1;
    }
    cp = (cp << 6) | (byte(k) & 0x3F);
  }
  i = k;
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  return cp;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const long cp = DecodeOne(bytes, i);
    if (cp < 0) {
      out.push_back(kReplacement);
    } else if (cp >= 0x10000) {
      const long v = cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    if (DecodeOne(bytes, i) < 0) return false;
  }
  return true;
}

char32_t NextCodePoint(std::u16string_view text, size_t& i) {
  const char32_t unit = text[i++];
  if (unit >= 0xD800 && unit <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
    return 0x10000 + ((unit - 0xD800) << 10) + (text[i++] - 0xDC00);
  }
  return unit;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp >= 0xD800 && cp <= 0xDFFF) cp = kReplacement;  // a lone surrogate has no UTF-8 form
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf8(out, NextCodePoint(text, i));
  return out;
}

}  // namespace inkseal
