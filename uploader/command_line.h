// The uploader's whole command-line text is one document path, not a list of
// arguments: a printer driver hands over a path that may hold blanks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace inkseal {

// The process command line without the program name and the blanks after it.
// The name runs up to the first character of code 32 or below; a double quote
// opens or closes a stretch in which such characters do not end it.  The rest,
// trailing blanks included, is returned whole.
std::u16string CommandLineText(std::u16string_view commandLine);

// The same text for a program started with an argument vector (POSIX): the
// arguments after the program's own name, joined by single blanks, so that an
// unquoted path with blanks arrives whole.
std::u16string CommandLineTextFromArguments(const std::vector<std::u16string>& arguments);

}  // namespace inkseal
