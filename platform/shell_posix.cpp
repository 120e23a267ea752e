// The desktop shell on Linux: xdg-open opens an address with the user's
// default handler (and honours $BROWSER).
#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

#include "text/utf.h"
#include "platform/last_error.h"

extern char** environ;

namespace inkseal::platform {
namespace {

constexpr char kOpener[] = "xdg-open";

// xdg-open's documented exit codes, as the nearest system error.
uint32_t RefusalError(int status) {
  if (!WIFEXITED(status)) return ECANCELED;
  switch (WEXITSTATUS(status)) {
    case 1: return EINVAL;  // bad address or arguments
    case 2: return ENOENT;  // the file named does not exist
    case 3: return ENOENT;  // no tool to open it with
    default: return ECANCELED;
  }
}

}  // namespace

ComScope::ComScope() = default;
ComScope::~ComScope() = default;

bool ShellOpen(const std::u16string& address) {
  const std::string target = Utf16ToUtf8(address);
  char* const argv[] = {const_cast<char*>(kOpener), const_cast<char*>(target.c_str()), nullptr};
  pid_t pid = -1;
  const int error = ::posix_spawnp(&pid, kOpener, nullptr, nullptr, argv, environ);
  if (error != 0) {
    SetLastError(static_cast<uint32_t>(error));
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) != pid) {
    if (errno != EINTR) return false;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  SetLastError(RefusalError(status));
  return false;
}

std::u16string TrimCharacters(const std::u16string& text, const std::u16string& chars) {
  const size_t first = text.find_first_not_of(chars);
  if (first == std::u16string::npos) return {};
  const size_t last = text.find_last_not_of(chars);
  return text.substr(first, last - first + 1);
}

}  // namespace inkseal::platform
