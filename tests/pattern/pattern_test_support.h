// Small helpers that run one pattern over one text and report what matched,
// so each test reads as pattern, text, expected outcome.
#pragma once

#include "http/regexp.h"

#include <string>

namespace inkseal::testing {

struct Found {
  bool matched = false;
  std::ptrdiff_t start = -1;  // offset of the match in the text
  std::u16string text;        // the matched text
};

Found Search(const std::u16string& pattern, const std::u16string& text, bool caseSensitive = true);

// The text of `group` in the first match, or "<none>" when there is no match
// or the group took no part in it.
std::u16string Group(const std::u16string& pattern, const std::u16string& text, int group,
                     bool caseSensitive = true);

PatternError Compile(const std::u16string& pattern, bool caseSensitive = true);

}  // namespace inkseal::testing
