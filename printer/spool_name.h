// The file name a printed document gets in the agent's spool: the job's
// title, made safe to be one name in one folder and a whole command line.
#pragma once

#include <string>

namespace inkseal::printer {

// Every byte that could leave the folder, hide the file, break a command
// line or a message (path separators, control characters, quotes,
// backslashes, invalid UTF-8, leading dots) becomes "_"; letters of any
// script stay.  At most kMaxSpoolNameBytes, cut on a character boundary, and
// ending in ".pdf"; an empty title gives "document.pdf".
constexpr size_t kMaxSpoolNameBytes = 120;
std::string SpoolFileName(const std::string& title);

}  // namespace inkseal::printer
