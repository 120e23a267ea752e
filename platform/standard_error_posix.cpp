#include "platform/standard_error.h"

#include <cstdio>
#include <string>

#include "text/utf.h"

namespace inkseal::platform {

void WriteStandardErrorLine(const std::u16string& line) {
  const std::string bytes = Utf16ToUtf8(line) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

}  // namespace inkseal::platform
