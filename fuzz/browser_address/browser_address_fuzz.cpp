// What the uploader hands the shell comes from the service's reply: any
// UTF-16 text is either refused or becomes printable ASCII that the check
// takes again unchanged, so nothing the shell or a browser's command line
// could split or reinterpret gets through.
#include <cstddef>
#include <cstdint>
#include <string>

#include "uploader/browser_address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string address;
  for (std::size_t i = 0; i + 1 < size; i += 2) address += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  const auto page = inkseal::BrowserAddress(address);
  if (!page) return 0;
  for (const char16_t c : *page) {
    if (c < 0x21 || c > 0x7E) __builtin_trap();
  }
  if (inkseal::BrowserAddress(*page) != page) __builtin_trap();
  return 0;
}
