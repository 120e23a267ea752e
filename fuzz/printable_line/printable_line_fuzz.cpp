// What the backend makes of text others control before the scheduler reads
// it: whatever the bytes and the limit, one line of valid UTF-8 within the
// limit that holds no character the scheduler or a reader of its log could
// take for a line break, a control or a change of direction; and a backend
// line that starts with the backend's own prefix and ends at its one "\n".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "printer/backend_message.h"
#include "printer/printable_line.h"
#include "text/utf.h"

namespace {

bool Hidden(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
         c == 0x200E || c == 0x200F || c == 0x061C || c == 0xFEFF;
}

void CheckLine(const std::string& line, std::size_t limit) {
  if (line.size() > limit || !inkseal::IsValidUtf8(line)) __builtin_trap();
  const std::u16string wide = inkseal::Utf8ToUtf16(line);
  for (const char16_t unit : wide) {
    if (Hidden(unit)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace inkseal::printer;
  // The first byte picks a limit, the rest is the text.
  const std::size_t limit = size > 0 ? data[0] : kMaxShownBytes;
  const std::string_view text(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);
  CheckLine(PrintableLine(text, limit), limit);
  CheckLine(PrintableLine(text), kMaxShownBytes);
  const std::string line = BackendLine(Prefix::kError, text);
  if (line.rfind("ERROR: ", 0) != 0 || line.find('\n') != line.size() - 1) __builtin_trap();
  CheckLine(line.substr(0, line.size() - 1), kMaxMessageBytes + sizeof "ERROR: ");
  return 0;
}
