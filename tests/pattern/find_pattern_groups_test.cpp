// The repeated search the HTTP client runs over response header blocks.
#include "http/find_pattern_groups.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace inkseal {
namespace {

using Values = std::vector<std::u16string>;

Values Find(const std::u16string& pattern, const std::u16string& text, int groupCount = 1,
            bool caseSensitive = false, bool allowDuplicates = false) {
  Values results{u"stale"};
  EXPECT_TRUE(FindPatternGroups(pattern, caseSensitive, groupCount, text, results, allowDuplicates));
  return results;
}

const std::u16string kHeaderBlock =
    u"HTTP/1.1 201 Created\r\n"
    u"Date: Tue, 08 Dec 2026 16:15:41 GMT\r\n"
    u"content-type: application/json; CHARSET=UTF-8\r\n"
    u"Content-Length: 1234\r\n"
    u"x-open-browser: https://sign.example/doc/42?x=1\r\n"
    u"Set-Cookie: a=1; Path=/\r\n"
    u"Set-Cookie: b=2\r\n"
    u"Set-Cookie: a=1; Path=/\r\n"
    u"\r\n";

TEST(FindPatternGroups, TheClientsHeaderPatterns) {
  EXPECT_EQ(Find(u"charset={[A-Za-z0-9\\-_]+}", kHeaderBlock), Values{u"UTF-8"});
  EXPECT_EQ(Find(u"Content-Length: {[0-9]+}", kHeaderBlock), Values{u"1234"});
  const Values url = Find(u"X-Open-Browser: {[A-Za-z0-9\\-_]+.*}", kHeaderBlock);
  ASSERT_EQ(url.size(), 1u);  // "." runs on over line breaks to the end
  EXPECT_EQ(url[0].substr(0, url[0].find(u'\r')), u"https://sign.example/doc/42?x=1");
  EXPECT_EQ(url[0].size(), kHeaderBlock.size() - kHeaderBlock.find(u"https"));
}

TEST(FindPatternGroups, HeaderValuesThatMustNotMatch) {
  EXPECT_EQ(Find(u"charset={[A-Za-z0-9\\-_]+}", u"A: b; charset=\"utf-8\"\r\nC: d; charset=latin1\r\n"),
            Values{u"latin1"});
  EXPECT_TRUE(Find(u"X-Open-Browser: {[A-Za-z0-9\\-_]+.*}", u"X-Open-Browser:  http://a\r\n").empty());
  EXPECT_TRUE(Find(u"Content-Length: {[0-9]+}", u"Transfer-Encoding: chunked\r\n\r\n").empty());
  EXPECT_EQ(Find(u"{</html>}", u"<HTML><body></HTML>"), Values{u"</HTML>"});
}

TEST(FindPatternGroups, CookiesWithoutTheLineEndAndWithoutRepeats) {
  EXPECT_EQ(Find(u"Set-Cookie:\\b*{.+?}\\n", kHeaderBlock), (Values{u"a=1; Path=/", u"b=2"}));
}

TEST(FindPatternGroups, DuplicatesCompareInTheCallersMode) {
  EXPECT_EQ(Find(u"{[a-z]+}", u"abc ABC def"), (Values{u"abc", u"def"}));
  EXPECT_EQ(Find(u"{[a-z]+}", u"abc ABC def", 1, false, true), (Values{u"abc", u"ABC", u"def"}));
  EXPECT_EQ(Find(u"{[a-z]+}", u"abc abc xyz", 1, true), (Values{u"abc", u"xyz"}));
}

TEST(FindPatternGroups, SeveralGroupsAreRefusedAsARunAnywhereInTheResults) {
  EXPECT_EQ(Find(u"{[a-z]+}={[0-9]+}", u"a=1 b=2 a=1 b=1", 2),
            (Values{u"a", u"1", u"b", u"2", u"b", u"1"}));
  // "1=b" equals the run (1, b) that straddles two earlier matches.
  EXPECT_EQ(Find(u"{[a-z0-9]+}={[a-z0-9]+}", u"x=1 b=2 1=b", 2), (Values{u"x", u"1", u"b", u"2"}));
  // Collection stops at the first group that took no part.
  EXPECT_EQ(Find(u"{a}({b})?", u"ab a", 2), (Values{u"a", u"b"}));
  EXPECT_EQ(Find(u"({a})?b", u"b ab"), Values{u"a"});
}

TEST(FindPatternGroups, ScanGoesOnFromEachMatchEnd) {
  EXPECT_EQ(Find(u"x{\\d+}", u"x1 x22 x1"), (Values{u"1", u"22"}));
  EXPECT_EQ(Find(u"id={[a-z]+}", u"id=one ID=Two"), (Values{u"one", u"Two"}));  // caller's case
  EXPECT_EQ(Find(u"{[0-9]+}$", u"a1 b22"), Values{u"22"});  // match at the very end
  EXPECT_EQ(Find(u"^{\\d}", u"123"), (Values{u"1", u"2", u"3"}));  // anchors at each scan start
  EXPECT_EQ(Find(u"^{a}", u"ab a"), Values{u"a"});
}

TEST(FindPatternGroups, EmptyMatchStepsOneCharacterOn) {
  EXPECT_EQ(Find(u"{a*}", u"baab"), (Values{u"", u"aa"}));
  EXPECT_EQ(Find(u"{x*}", u"abc", 1, false, true), (Values{u"", u"", u""}));
}

TEST(FindPatternGroups, ManyDistinctMatchesAreAllKept) {
  std::u16string text;
  for (int i = 0; i < 50000; ++i) {
    for (const char c : std::to_string(i)) text += static_cast<char16_t>(c);
    text += u';';
  }
  text += u"0;49999;";
  const Values results = Find(u"{[0-9]+};", text);
  ASSERT_EQ(results.size(), 50000u);
  EXPECT_EQ(results.back(), u"49999");
}

TEST(FindPatternGroups, RefusedCallsReturnFalseWithNoResults) {
  const auto refused = [](const std::u16string& pattern, const std::u16string& text, int groups) {
    Values results{u"stale"};
    const bool ok = FindPatternGroups(pattern, false, groups, text, results, false);
    return !ok && results.empty();
  };
  EXPECT_TRUE(refused(u"", u"abc", 1));
  EXPECT_TRUE(refused(u"{a}", u"", 1));
  EXPECT_TRUE(refused(u"{a}", u"abc", 0));
  EXPECT_TRUE(refused(u"{a}", u"abc", -1));
  EXPECT_TRUE(refused(u"{a", u"abc", 1));
  EXPECT_TRUE(refused(u"{a}", u"abc", 2));  // more groups than the pattern has
  EXPECT_TRUE(refused(u"a", u"abc", 1));
  EXPECT_TRUE(Find(u"{z}", u"abc").empty());  // compiled, nothing found: still true
}

}  // namespace
}  // namespace inkseal
