// What the backend lets out of text that others control (an agent's reason,
// a job's title, a user or file name) before it reaches the scheduler, which
// reads every line of the backend's standard error and obeys some of them
// ("PPD:", "ATTR:", "STATE:") as root.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace inkseal::printer {

// Enough for any reason or name a reader of the log needs; far below the
// scheduler's 2047-byte line, however many such values one line holds.
constexpr size_t kMaxShownBytes = 200;

// text (UTF-8, possibly malformed) as one printable line of at most limit
// bytes of UTF-8: every character that is not printable (C0 and C1 controls,
// DEL, line and paragraph separators, bidirectional and other invisible
// format characters, private-use and non-characters) becomes "?", malformed
// bytes U+FFFD, and a longer text is cut on a character boundary and ends
// in "...".
std::string PrintableLine(std::string_view text, size_t limit = kMaxShownBytes);

}  // namespace inkseal::printer
