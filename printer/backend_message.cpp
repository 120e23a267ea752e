#include "printer/backend_message.h"

#include <unistd.h>

#include <cerrno>

#include "printer/printable_line.h"

namespace inkseal::printer {
namespace {

const char* Word(Prefix prefix) {
  switch (prefix) {
    case Prefix::kDebug:
      return "DEBUG";
    case Prefix::kInfo:
      return "INFO";
    case Prefix::kWarning:
      return "WARNING";
    case Prefix::kError:
      return "ERROR";
    case Prefix::kState:
      return "STATE";
  }
  return "ERROR";
}

}  // namespace

std::string BackendLine(Prefix prefix, std::string_view message) {
  return std::string(Word(prefix)) + ": " + PrintableLine(message, kMaxMessageBytes) + "\n";
}

void Say(Prefix prefix, std::string_view message) {
  const std::string line = BackendLine(prefix, message);
  while (::write(STDERR_FILENO, line.data(), line.size()) < 0 && errno == EINTR) {
  }
}

}  // namespace inkseal::printer
