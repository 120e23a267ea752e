// The one matching operation the HTTP client uses: compile pattern, scan the
// whole text and collect capture groups 0..groupCount-1 of every match.
#pragma once

#include <string>
#include <vector>

namespace inkseal {

bool FindPatternGroups(const std::u16string& pattern, bool caseSensitive, int groupCount,
                       const std::u16string& text, std::vector<std::u16string>& results,
                       bool allowDuplicates);

}  // namespace inkseal
