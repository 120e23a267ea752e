// Repeated search over one text: each match's groups are collected and the
// search goes on from the match end.  The text is lower-cased once for the
// whole scan and the values already seen are indexed by hash, so a text with
// many matches costs time in proportion to its length.
#include "http/find_pattern_groups.h"

#include "http/regexp.h"

#include <cstdint>
#include <new>
#include <unordered_map>

namespace inkseal {
namespace {

char16_t Folded(char16_t c, bool caseSensitive) {
  return (!caseSensitive && c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool SameValue(const std::u16string& a, const std::u16string& b, bool caseSensitive) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Folded(a[i], caseSensitive) != Folded(b[i], caseSensitive)) return false;
  }
  return true;
}

// Where each value stands in the result list, keyed by a hash that agrees
// with SameValue.
class ValueIndex {
 public:
  explicit ValueIndex(bool caseSensitive) : caseSensitive_(caseSensitive) {}

  void Add(const std::u16string& value, std::size_t position) {
    positions_[Hash(value)].push_back(position);
  }

  // True when `values` equal, one by one, a run of consecutive entries of
  // `results`.
  bool HoldsRun(const std::vector<std::u16string>& values,
                const std::vector<std::u16string>& results) const {
    const auto found = positions_.find(Hash(values.front()));
    if (found == positions_.end()) return false;
    for (const std::size_t first : found->second) {
      if (first + values.size() > results.size()) continue;
      std::size_t i = 0;
      while (i < values.size() && SameValue(values[i], results[first + i], caseSensitive_)) ++i;
      if (i == values.size()) return true;
    }
    return false;
  }

 private:
  // FNV-1a over the length and a bounded prefix: a value can be a whole
  // header block, and SameValue settles what the hash leaves open.
  std::uint64_t Hash(const std::u16string& value) const {
    constexpr std::size_t kHashedPrefix = 64;
    std::uint64_t hash = (14695981039346656037ull ^ value.size()) * 1099511628211ull;
    const std::size_t hashed = value.size() < kHashedPrefix ? value.size() : kHashedPrefix;
    for (std::size_t i = 0; i < hashed; ++i) {
      hash = (hash ^ Folded(value[i], caseSensitive_)) * 1099511628211ull;
    }
    return hash;
  }

  bool caseSensitive_;
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> positions_;
};

bool Scan(const RegExp& regExp, int groupCount, const std::u16string& text,
          std::vector<std::u16string>& results, bool allowDuplicates) {
  const bool caseSensitive = regExp.CaseSensitive();
  std::u16string lowered;
  if (!caseSensitive) {
    lowered = text;
    LowerCaseAscii(lowered);
  }
  const char16_t* subject = caseSensitive ? text.c_str() : lowered.c_str();
  ValueIndex seen(caseSensitive);
  MatchContext context;
  std::vector<std::u16string> values;
  std::size_t scan = 0;
  // Each later search treats the scan position as the start of its text.
  while (regExp.MatchPrepared(subject + scan, text.c_str() + scan, &context, nullptr)) {
    values.clear();
    for (int group = 0; group < groupCount && context.GroupMatched(group); ++group) {
      values.emplace_back(context.GroupStart(group), context.GroupEnd(group));
    }
    const bool duplicate = !allowDuplicates && !values.empty() && seen.HoldsRun(values, results);
    if (!duplicate) {
      for (std::u16string& value : values) {
        seen.Add(value, results.size());
        results.push_back(std::move(value));
      }
    }
    const std::size_t matchStart = static_cast<std::size_t>(context.MatchStart() - text.c_str());
    std::size_t matchEnd = static_cast<std::size_t>(context.MatchEnd() - text.c_str());
    // An empty match would be found again at the same place forever.
    if (matchEnd == matchStart) ++matchEnd;
    if (matchEnd >= text.size()) break;
    scan = matchEnd;
  }
  return true;
}

}  // namespace

bool FindPatternGroups(const std::u16string& pattern, bool caseSensitive, int groupCount,
                       const std::u16string& text, std::vector<std::u16string>& results,
                       bool allowDuplicates) {
  results.clear();
  if (pattern.empty() || text.empty() || groupCount <= 0) return false;
  RegExp regExp;
  if (regExp.Parse(pattern.c_str(), caseSensitive) != PatternOk) return false;
  // Asking for groups the pattern does not have is the caller's mistake.
  if (groupCount > regExp.GroupCount()) return false;
  try {
    return Scan(regExp, groupCount, text, results, allowDuplicates);
  } catch (const std::bad_alloc&) {
    results.clear();
    return false;
  }
}

}  // namespace inkseal
