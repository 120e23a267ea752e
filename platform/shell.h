// The desktop shell: opening an address, and the shell's string helpers.
#pragma once

#include <string>

namespace inkseal::platform {

// COM for the calling thread, for as long as the object lives (nothing on POSIX).
class ComScope {
 public:
  ComScope();
  ~ComScope();
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
#ifdef _WIN32
  bool initialized_ = false;
#endif
};

// Asks the desktop to "open" address (the default browser for a web page).
// True on success; false with the last error set when the shell refused.
bool ShellOpen(const std::u16string& address);

// Removes every character of chars from both ends of text (StrTrimW).
std::u16string TrimCharacters(const std::u16string& text, const std::u16string& chars);

}  // namespace inkseal::platform
