#include "uploader/command_line.h"

namespace inkseal {
namespace {

constexpr char16_t kQuote = u'"';

bool IsBlankOrControl(char16_t c) { return c <= 32; }

}  // namespace

std::u16string CommandLineText(std::u16string_view commandLine) {
  size_t position = 0;
  bool quoted = false;
  for (; position < commandLine.size(); ++position) {
    const char16_t c = commandLine[position];
    if (c == kQuote) {
      quoted = !quoted;
    } else if (!quoted && IsBlankOrControl(c)) {
      break;
    }
  }
  while (position < commandLine.size() && IsBlankOrControl(commandLine[position])) ++position;
  return std::u16string(commandLine.substr(position));
}

std::u16string CommandLineTextFromArguments(const std::vector<std::u16string>& arguments) {
  // The program's own name stays out of the rule: its folder may hold blanks
  // or quotes that would otherwise eat into the document path.  A plain name
  // stands in for it, and the rule then applies to the arguments unchanged.
  std::u16string line = u"Ferrowend";
  for (size_t i = 1; i < arguments.size(); ++i) {
    line += u' ';
    line += arguments[i];
  }
  return CommandLineText(line);
}

}  // namespace inkseal
