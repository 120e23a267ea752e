// The one way the backend writes to its standard error, which the scheduler
// reads line by line: the prefix says what the scheduler does with a line
// (logs it, or for STATE changes the printer's state), so it is always one
// of the backend's own, and what follows is one printable line, bounded well
// below the scheduler's 2047 bytes, so that nothing in it can start a line
// of its own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace inkseal::printer {

enum class Prefix { kDebug, kInfo, kWarning, kError, kState };

// Also below PIPE_BUF, so that one write puts the whole line in the pipe even
// while the backend's parent and its child both write.
constexpr size_t kMaxMessageBytes = 1000;

// "<PREFIX>: <message as a printable line>\n".
std::string BackendLine(Prefix prefix, std::string_view message);

// Writes BackendLine(prefix, message) to standard error in one write.
void Say(Prefix prefix, std::string_view message);

}  // namespace inkseal::printer
