#include "pattern_test_support.h"

namespace inkseal::testing {

Found Search(const std::u16string& pattern, const std::u16string& text, bool caseSensitive) {
  RegExp regExp;
  Found found;
  if (regExp.Parse(pattern.c_str(), caseSensitive) != PatternOk) return found;
  MatchContext context;
  found.matched = regExp.Match(text.c_str(), &context, nullptr);
  if (found.matched) {
    found.start = context.MatchStart() - text.c_str();
    found.text.assign(context.MatchStart(), context.MatchEnd());
  }
  return found;
}

std::u16string Group(const std::u16string& pattern, const std::u16string& text, int group,
                     bool caseSensitive) {
  RegExp regExp;
  if (regExp.Parse(pattern.c_str(), caseSensitive) != PatternOk) return u"<bad pattern>";
  MatchContext context;
  if (!regExp.Match(text.c_str(), &context, nullptr) || !context.GroupMatched(group)) return u"<none>";
  return std::u16string(context.GroupStart(group), context.GroupEnd(group));
}

PatternError Compile(const std::u16string& pattern, bool caseSensitive) {
  RegExp regExp;
  return regExp.Parse(pattern.c_str(), caseSensitive);
}

}  // namespace inkseal::testing
