#include "printer/printable_line.h"

#include <string>

#include "text/utf.h"

namespace inkseal::printer {
namespace {

constexpr char kStandIn[] = "?";
constexpr char kCutMark[] = "...";

struct Range {
  char32_t first, last;
};

// Characters that show nothing, or change how what follows them shows: a
// reader of the log must see the text as the scheduler stored it.
constexpr Range kHidden[] = {
    {0x0000, 0x001F}, {0x007F, 0x009F},  // C0, DEL, C1 (NEL among them)
    {0x00AD, 0x00AD},                    // soft hyphen
    {0x0600, 0x0605}, {0x061C, 0x061C}, {0x06DD, 0x06DD}, {0x070F, 0x070F}, {0x08E2, 0x08E2},
    {0x180E, 0x180E},
    {0x200B, 0x200F},                    // zero-width characters, LRM, RLM
    {0x2028, 0x202E},                    // line and paragraph separators, bidi embeddings
    {0x2060, 0x206F},                    // word joiner, invisible operators, bidi isolates
    {0xD800, 0xDFFF},                    // surrogates that pair with nothing
    {0xE000, 0xF8FF},                    // private use
    {0xFDD0, 0xFDEF},                    // non-characters
    {0xFEFF, 0xFEFF},                    // byte order mark
    {0xFFF9, 0xFFFB},                    // interlinear annotation
    {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
    {0xE0000, 0xE007F},                  // tags
    {0xF0000, 0x10FFFF},                 // supplementary private use
};

bool Hidden(char32_t c) {
  if ((c & 0xFFFE) == 0xFFFE) return true;  // U+xxFFFE and U+xxFFFF of every plane
  for (const Range& range : kHidden) {
    if (c >= range.first && c <= range.last) return true;
  }
  return false;
}

}  // namespace

std::string PrintableLine(std::string_view text, size_t limit) {
  const std::u16string wide = Utf8ToUtf16(text);
  std::string line;
  size_t i = 0;
  // Where the cut mark goes if the text turns out too long.
  size_t markAt = 0;
  const size_t mark = sizeof kCutMark - 1;
  while (i < wide.size()) {
    const size_t start = i;
    const char32_t c = NextCodePoint(wide, i);
    const std::string shown = Hidden(c) ? kStandIn : Utf16ToUtf8(std::u16string_view(wide).substr(start, i - start));
    if (line.size() + shown.size() > limit) {
      line.resize(markAt);
      if (limit >= mark) line += kCutMark;
      return line;
    }
    line += shown;
    if (line.size() + mark <= limit) markAt = line.size();
  }
  return line;
}

}  // namespace inkseal::printer
