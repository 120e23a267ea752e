// Fuzzes the pattern compiler and the matching machine together.  Input
// layout: one flag byte, then the pattern, a 0xFF byte, then the text.  Bytes
// become UTF-16 units one to one, except 0xF8..0xFE, which stand for units
// outside ASCII (surrogates, U+FFFF, letters whose case folding is not ASCII).
#include "http/find_pattern_groups.h"
#include "http/regexp.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace inkseal;

constexpr std::size_t kMaxPattern = 256;
constexpr std::size_t kMaxText = 4096;
constexpr std::uint64_t kStepsPerMatch = 200000;
constexpr std::uint64_t kStepsPerScan = 2000000;
constexpr std::size_t kBacktrackEntries = std::size_t{1} << 20;

char16_t Unit(std::uint8_t byte) {
  static const char16_t kWide[] = {0xD800, 0xDFFF, 0xFFFF, 0x0130, 0x212A, 0x00C9, 0x00E9};
  return byte >= 0xF8 && byte <= 0xFE ? kWide[byte - 0xF8] : static_cast<char16_t>(byte);
}

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckSpans(const MatchContext& context, const char16_t* text, std::size_t length) {
  const char16_t* const last = text + length;
  Check(context.MatchStart() >= text && context.MatchStart() <= context.MatchEnd());
  Check(context.MatchEnd() <= last);
  for (int group = 0; group < context.GroupCount(); ++group) {
    if (!context.GroupMatched(group)) continue;
    Check(context.GroupStart(group) >= text && context.GroupEnd(group) <= last);
  }
}

// Runs FindPatternGroups' scan with bounds, so that exponential patterns are
// skipped instead of timing out.  Returns false when a bound was hit; else
// `collected` is how many values a duplicate-allowing call must return.
bool BoundedScan(const RegExp& regExp, const std::u16string& text, int groupCount,
                 std::size_t& collected) {
  std::u16string subject = text;
  if (!regExp.CaseSensitive()) LowerCaseAscii(subject);
  MatchContext context;
  context.SetBacktrackLimit(kBacktrackEntries);
  std::uint64_t budget = kStepsPerScan;
  std::size_t scan = 0;
  collected = 0;
  for (;;) {
    context.SetStepLimit(budget < kStepsPerMatch ? budget : kStepsPerMatch);
    const bool found = regExp.MatchPrepared(subject.c_str() + scan, text.c_str() + scan, &context, nullptr);
    if (context.StepLimitReached() || context.BacktrackStackExhausted()) return false;
    if (!found) return true;
    budget -= context.StepsTaken();
    if (budget == 0) return false;
    const std::size_t segment = std::u16string(text.c_str() + scan).size();
    CheckSpans(context, text.c_str() + scan, segment);
    for (int group = 0; group < groupCount && context.GroupMatched(group); ++group) ++collected;
    std::size_t start = static_cast<std::size_t>(context.MatchStart() - text.c_str());
    std::size_t end = static_cast<std::size_t>(context.MatchEnd() - text.c_str());
    if (end == start) ++end;
    if (end >= text.size()) return true;
    scan = end;
  }
}

// A case-insensitive pattern must find exactly what the lower-cased pattern
// finds in the lower-cased text.
void CheckFolding(const std::u16string& pattern, const std::u16string& text) {
  std::u16string lowerPattern = pattern;
  std::u16string lowerText = text;
  LowerCaseAscii(lowerPattern);
  LowerCaseAscii(lowerText);
  RegExp folded;
  RegExp lowered;
  Check(folded.Parse(pattern.c_str(), false) == lowered.Parse(lowerPattern.c_str(), true));
  if (folded.LastError() != PatternOk) return;
  MatchContext a;
  MatchContext b;
  a.SetStepLimit(kStepsPerMatch);
  b.SetStepLimit(kStepsPerMatch);
  const bool foundA = folded.Match(text.c_str(), &a, nullptr);
  const bool foundB = lowered.Match(lowerText.c_str(), &b, nullptr);
  if (a.StepLimitReached() || b.StepLimitReached()) return;
  Check(foundA == foundB);
  if (!foundA) return;
  Check(a.MatchStart() - text.c_str() == b.MatchStart() - lowerText.c_str());
  Check(a.MatchEnd() - text.c_str() == b.MatchEnd() - lowerText.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t flags = data[0];
  std::u16string pattern;
  std::u16string text;
  std::size_t i = 1;
  for (; i < size && data[i] != 0xFF && pattern.size() < kMaxPattern; ++i) pattern += Unit(data[i]);
  for (++i; i < size && text.size() < kMaxText; ++i) text += Unit(data[i]);

  CheckFolding(pattern, text);
  for (const bool caseSensitive : {true, false}) {
    RegExp regExp;
    if (regExp.Parse(pattern.c_str(), caseSensitive) != PatternOk) {
      std::vector<std::u16string> results{u"x"};
      Check(!FindPatternGroups(pattern, caseSensitive, 1, text, results, false) && results.empty());
      continue;
    }
    const int groupCount = 1 + (flags & 3);
    std::size_t collected = 0;
    if (pattern.empty() || text.empty() || groupCount > regExp.GroupCount()) continue;
    if (!BoundedScan(regExp, text, groupCount, collected)) continue;
    std::vector<std::u16string> results;
    Check(FindPatternGroups(pattern, caseSensitive, groupCount, text, results, true));
    Check(results.size() == collected);
    const bool refuse = FindPatternGroups(pattern, caseSensitive, groupCount, text, results, false);
    Check(refuse && results.size() <= collected);
  }
  return 0;
}
