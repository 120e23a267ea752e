// The pattern language, one construct per test.
#include "pattern_test_support.h"

#include <gtest/gtest.h>

namespace inkseal::testing {
namespace {

TEST(PatternLiterals, OperatorsWhereAnAtomIsExpectedAreLiterals) {
  EXPECT_EQ(Search(u"a**", u"aaa*").text, u"aaa*");
  EXPECT_EQ(Search(u"*a", u"*a").text, u"*a");
  EXPECT_EQ(Search(u"|a", u"x|a").text, u"|a");
  EXPECT_EQ(Search(u"a+*", u"aa*").text, u"aa*");  // one operator per atom
  EXPECT_EQ(Search(u"a^b", u"a^b").text, u"a^b");
  EXPECT_EQ(Search(u"$a", u"x$a").start, 1);
}

TEST(PatternLiterals, BackslashTakesTheNextCharacter) {
  EXPECT_EQ(Search(u"a\\.b", u"axb a.b").start, 4);
  EXPECT_EQ(Search(u"\\\\\\{", u"x\\{").text, u"\\{");
  EXPECT_EQ(Search(u"a\\$", u"a$").text, u"a$");
  // Outside a class "\t" is a plain t.
  EXPECT_EQ(Search(u"\\t", u"\t t").start, 2);
}

TEST(PatternDot, MatchesLineBreaksButNotTheEnd) {
  EXPECT_TRUE(Search(u"a.c", u"a\nc").matched);
  EXPECT_TRUE(Search(u"a.c", u"a\rc").matched);
  EXPECT_FALSE(Search(u"a.", u"a").matched);
}

TEST(PatternClass, RangesNegationAndEscapes) {
  EXPECT_EQ(Search(u"[a-c]+", u"xxabcay").text, u"abca");
  EXPECT_EQ(Search(u"[^a-c]+", u"abxyc").text, u"xy");
  EXPECT_FALSE(Search(u"a[^b]", u"a").matched);
  EXPECT_EQ(Search(u"[\\t]", u"t\t").start, 1);
  EXPECT_EQ(Search(u"[-a]", u"x-").start, 1);
  EXPECT_EQ(Search(u"[a\\-z]+", u"b-za").text, u"-za");
  EXPECT_EQ(Search(u"[\\]]", u"a]").start, 1);
  // The end of a range is taken as written: "\" here, and "]" closes.
  EXPECT_TRUE(Search(u"[!-\\]", u"A").matched);
  EXPECT_FALSE(Search(u"[!-\\]", u"a").matched);
}

TEST(PatternGroups, CapturesAreNumberedByOpeningBrace) {
  EXPECT_EQ(Group(u"{a{b}}{c}", u"abc", 0), u"ab");
  EXPECT_EQ(Group(u"{a{b}}{c}", u"abc", 1), u"b");
  EXPECT_EQ(Group(u"{a{b}}{c}", u"abc", 2), u"c");
  EXPECT_EQ(Group(u"(a){b}", u"ab", 0), u"b");
  EXPECT_EQ(Group(u"a{}b", u"ab", 0), u"");
  EXPECT_EQ(Search(u"a()b", u"ab").text, u"ab");
}

TEST(PatternGroups, RepeatedGroupReportsTheLastRepetition) {
  EXPECT_EQ(Group(u"{[a-z]}+", u"abc", 0), u"c");
  EXPECT_EQ(Group(u"({\\d+},)+", u"1,22,333,", 0), u"333");
  EXPECT_EQ(Group(u"({\\d+},)*;", u"1,22,;", 0), u"22");
}

TEST(PatternAlternation, BindsTighterThanSequence) {
  EXPECT_TRUE(Search(u"ab|cd", u"abd").matched);
  EXPECT_TRUE(Search(u"ab|cd", u"acd").matched);
  EXPECT_FALSE(Search(u"ab|cd", u"ab").matched);
  EXPECT_FALSE(Search(u"ab|cd", u"cd").matched);
  EXPECT_TRUE(Search(u"x(a|b|c)", u"xc").matched);
  EXPECT_EQ(Group(u"{(a)|(ab)}", u"ab", 0), u"a");  // first alternative, not longest
  EXPECT_EQ(Search(u"(a|b)*c", u"zababc").text, u"ababc");
}

TEST(PatternAlternation, MissingRightSideDropsTheAlternation) {
  EXPECT_EQ(Search(u"ab|", u"ab").text, u"a");
  // The groups of the dropped side go with it: no group is reported that
  // the pattern no longer has.
  const struct {
    const char16_t* pattern;
    int groups;
  } cases[] = {{u"x{a}|", 0}, {u"{x}{a}|", 1}, {u"{x}({a}|)", 1}, {u"{x}{a}|{b}|", 1}};
  for (const auto& c : cases) {
    RegExp regExp;
    ASSERT_EQ(regExp.Parse(c.pattern, true), PatternOk);
    EXPECT_EQ(regExp.GroupCount(), c.groups) << c.groups;
  }
  EXPECT_EQ(Compile(u"ab)cd"), PatternOk);
  EXPECT_EQ(Search(u"ab)cd", u"abcd").text, u"ab");  // the rest is ignored
}

TEST(PatternRepetition, GreedyTakesMostFirst) {
  EXPECT_EQ(Search(u"a+", u"baaa").text, u"aaa");
  EXPECT_EQ(Search(u"ba?", u"ba").text, u"ba");
  EXPECT_EQ(Group(u"<{.*}>", u"<a><b>", 0), u"a><b");
  EXPECT_EQ(Group(u"{a*}a", u"aaa", 0), u"aa");  // gives back for the rest
  EXPECT_EQ(Group(u"{[0-9]*}[0-9]{[0-9]}", u"12345", 0), u"123");
  EXPECT_EQ(Group(u"x{[^;]*};", u"x1;2;", 0), u"1");
  EXPECT_EQ(Group(u"({b*}c)+", u"bbcbc", 0), u"b");
}

TEST(PatternRepetition, LazyLoopOverWhatMayNotMoveEndsInsteadOfSpinning) {
  // An empty capture makes "\0" match nothing: without the run-time check
  // each of these would loop for ever where the rest cannot match.
  EXPECT_EQ(Search(u"{x?}(\\0)*?y", u"y").text, u"y");
  EXPECT_FALSE(Search(u"{x?}(\\0)*?z", u"yyy").matched);
  EXPECT_EQ(Search(u"{x}\\0*?y", u"xxxy").text, u"xxxy");
  EXPECT_EQ(Search(u"(!a)*?b", u"ab").text, u"b");
  EXPECT_FALSE(Search(u"(!a)*?c", u"bb").matched);
  EXPECT_EQ(Search(u"{(\\0|b)}*?c", u"bbc").text, u"bbc");
}

TEST(PatternRepetition, LazyTakesFewestFirst) {
  EXPECT_EQ(Group(u"<{.*?}>", u"<a><b>", 0), u"a");
  EXPECT_EQ(Group(u"{a+?}", u"aaa", 0), u"a");
  EXPECT_EQ(Search(u"x??y", u"xy").text, u"xy");
  EXPECT_EQ(Search(u"{x}??y", u"xy").text, u"xy");
  EXPECT_EQ(Group(u"{x}??y", u"xy", 0), u"x");
  // When the continuation fails part-way, the next repetition still starts
  // where the continuation started.
  const Found found = Search(u"x*?yz", u"xyxyz");
  EXPECT_EQ(found.start, 2);
  EXPECT_EQ(found.text, u"xyz");
  EXPECT_EQ(Search(u"a??ab", u"ab").text, u"ab");
}

TEST(PatternLookAhead, SucceedsOnlyWhereTheAtomFails) {
  EXPECT_EQ(Search(u"!a.", u"ab").start, 1);
  EXPECT_FALSE(Search(u"!a.", u"aa").matched);
  EXPECT_EQ(Search(u"a!b", u"ab ac").start, 3);
  EXPECT_EQ(Search(u"!(ab)a.", u"abac").text, u"ac");
  // A greedy loop over a look-ahead stops: the look-ahead consumes nothing.
  EXPECT_TRUE(Search(u"(!a)*b", u"b").matched);
}

TEST(PatternLookAhead, CapturesInsideItNeverReachTheResult) {
  EXPECT_EQ(Group(u"!{a}.", u"ab", 0), u"<none>");
  EXPECT_EQ(Group(u"(!{a}.)?a", u"a", 0), u"<none>");
}

TEST(PatternBackReference, MatchesTheCapturedText) {
  EXPECT_TRUE(Search(u"{a}\\0", u"aa").matched);
  EXPECT_TRUE(Search(u"{[a-z]+}-\\0", u"ab-ab").matched);
  EXPECT_FALSE(Search(u"{[a-z]+}-\\0", u"ab-ac").matched);
  EXPECT_TRUE(Search(u"{[a-z]+}=\\0", u"Ab=aB", false).matched);
  EXPECT_FALSE(Search(u"{[a-z]+}=\\0", u"ab=aB").matched);
  EXPECT_EQ(Search(u"({a})?b\\0", u"b").text, u"b");  // unset group: empty
  EXPECT_TRUE(Search(u"{a}{b}{c}{d}{e}{f}{g}{h}{i}{j}{k}\\10", u"abcdefghijkk").matched);
}

TEST(PatternAnchors, OnlyAtTheEndsOfThePattern) {
  EXPECT_FALSE(Search(u"^b", u"ab").matched);
  EXPECT_EQ(Search(u"b", u"ab").start, 1);
  EXPECT_EQ(Search(u"a$", u"ba").start, 1);
  EXPECT_FALSE(Search(u"a$", u"ab").matched);
  EXPECT_FALSE(Search(u"$", u"abc").matched);
  EXPECT_TRUE(Search(u"$", u"").matched);
  EXPECT_TRUE(Search(u"^$", u"").matched);
  EXPECT_EQ(Search(u"{x}$", u"x$x").start, 2);
  EXPECT_EQ(Search(u"a|$", u"xa").start, 1);
}

TEST(PatternAbbreviations, EachLetterMeansItsClass) {
  EXPECT_EQ(Search(u"\\a+", u"-ab1_").text, u"ab1");
  EXPECT_EQ(Search(u"x\\b*y", u"x \t y").text, u"x \t y");
  EXPECT_EQ(Search(u"\\c+", u"1aZ2").text, u"aZ");
  EXPECT_EQ(Search(u"\\d+", u"a123").text, u"123");
  EXPECT_EQ(Search(u"\\h+", u"xx0fAg").text, u"0fA");
  EXPECT_EQ(Search(u"\\w", u"12ab3").text, u"ab");
  EXPECT_EQ(Search(u"\\z", u"ab123c").text, u"123");
  EXPECT_EQ(Search(u"\\D", u"xD5").text, u"D");          // not an abbreviation
  EXPECT_EQ(Search(u"\\D", u"xD5", false).text, u"5");   // lower-cased to \d
}

TEST(PatternAbbreviations, LineBreakTriesCarriageReturnAloneFirst) {
  EXPECT_EQ(Search(u"a\\n", u"a\r\n").text, u"a\r");
  EXPECT_EQ(Search(u"a\\nb", u"a\r\nb").text, u"a\r\nb");
  EXPECT_TRUE(Search(u"a\\nb", u"a\nb").matched);
  EXPECT_FALSE(Search(u"a\\nb", u"ab").matched);
}

TEST(PatternAbbreviations, QuotedRunIsDoubleQuotedOnly) {
  EXPECT_EQ(Search(u"\\q", u"x\"abc\"y").text, u"\"abc\"");
  EXPECT_FALSE(Search(u"\\q", u"x'abc'y").matched);
}

}  // namespace
}  // namespace inkseal::testing
