// Every compile error code, and the limits that protect against hostile
// patterns.
#include "pattern_test_support.h"

#include <gtest/gtest.h>

namespace inkseal::testing {
namespace {

TEST(PatternErrors, ClassesAndRanges) {
  EXPECT_EQ(Compile(u"[a-]"), PatternBracketExpected);
  EXPECT_EQ(Compile(u"[abc"), PatternBracketExpected);
  EXPECT_EQ(Compile(u"[a-"), PatternBracketExpected);
  EXPECT_EQ(Compile(u"[ab\\"), PatternBracketExpected);  // lone backslash in a class
  EXPECT_EQ(Compile(u"[]"), PatternEmptyClass);
  EXPECT_EQ(Compile(u"[^]"), PatternEmptyClass);
  EXPECT_EQ(Compile(u"[z-a]"), PatternBadRange);
  // Lower-casing happens first, so a valid range can turn invalid.
  EXPECT_EQ(Compile(u"[Z-a]"), PatternOk);
  EXPECT_EQ(Compile(u"[Z-a]", false), PatternBadRange);
}

TEST(PatternErrors, GroupsMustBeClosedByTheirOwnCharacter) {
  EXPECT_EQ(Compile(u"(a"), PatternParenExpected);
  EXPECT_EQ(Compile(u"(a}"), PatternParenExpected);
  EXPECT_EQ(Compile(u"{a"), PatternBraceExpected);
  EXPECT_EQ(Compile(u"{a)"), PatternBraceExpected);
  EXPECT_EQ(Compile(u"a)"), PatternOk);
}

TEST(PatternErrors, BackReferenceToAGroupNotYetOpened) {
  EXPECT_EQ(Compile(u"{a}\\1"), PatternBadGroup);
  EXPECT_EQ(Compile(u"\\0{a}"), PatternBadGroup);
  EXPECT_EQ(Compile(u"{a}\\99999999999999999999"), PatternBadGroup);
  EXPECT_EQ(Compile(u"{a}\\0"), PatternOk);
}

TEST(PatternErrors, RepeatOfWhatCanBeEmpty) {
  EXPECT_EQ(Compile(u"(a*)*"), PatternEmptyRepeat);
  EXPECT_EQ(Compile(u"(a*)+"), PatternEmptyRepeat);
  EXPECT_EQ(Compile(u"(a?)*?"), PatternEmptyRepeat);
  EXPECT_EQ(Compile(u"()+?"), PatternEmptyRepeat);
  EXPECT_EQ(Compile(u"(a|b*)*"), PatternEmptyRepeat);
  EXPECT_EQ(Compile(u"(a*)?"), PatternOk);
  EXPECT_EQ(Compile(u"(a*)??"), PatternOk);
  EXPECT_EQ(Compile(u"(a*b)*"), PatternOk);
  // Back-references and look-aheads are not "possibly empty" atoms: a lazy
  // loop over them is a valid pattern (an iteration that does not move
  // fails when it runs).
  EXPECT_EQ(Compile(u"(!a)*?"), PatternOk);
  EXPECT_EQ(Compile(u"{x?}(\\0)*?y"), PatternOk);
  EXPECT_EQ(Compile(u"{x?}\\0+?"), PatternOk);
}

TEST(PatternErrors, MissingOrTruncatedInput) {
  RegExp regExp;
  EXPECT_EQ(regExp.Parse(nullptr, true), PatternNullInput);
  EXPECT_EQ(regExp.LastError(), PatternNullInput);
  EXPECT_EQ(Compile(u"ab\\"), PatternBadAbbreviation);
  EXPECT_EQ(Compile(u""), PatternOk);
}

TEST(PatternErrors, FailedParseLeavesNothingToMatch) {
  RegExp regExp;
  MatchContext context;
  ASSERT_EQ(regExp.Parse(u"a", true), PatternOk);
  ASSERT_EQ(regExp.Parse(u"(a", true), PatternParenExpected);
  EXPECT_FALSE(regExp.Match(u"a", &context, nullptr));
  ASSERT_EQ(regExp.Parse(u"{b}", true), PatternOk);
  EXPECT_EQ(regExp.GroupCount(), 1);
  EXPECT_TRUE(regExp.Match(u"ab", &context, nullptr));
}

TEST(PatternLimits, DeepNestingIsRefusedNotAStackOverflow) {
  EXPECT_EQ(Compile(std::u16string(100000, u'(')), PatternOutOfMemory);
  EXPECT_EQ(Compile(std::u16string(100000, u'{')), PatternOutOfMemory);
  const int depth = kMaxPatternNesting;
  EXPECT_EQ(Compile(std::u16string(depth, u'(') + u"a" + std::u16string(depth, u')')), PatternOk);
  EXPECT_EQ(Compile(std::u16string(depth + 1, u'(') + u"a" + std::u16string(depth + 1, u')')),
            PatternOutOfMemory);
}

TEST(PatternLimits, LongAlternationChainsNeedNoRecursion) {
  std::u16string pattern = u"a";
  for (int i = 0; i < 20000; ++i) pattern += u"|a";
  EXPECT_EQ(Compile(pattern), PatternOk);
}

TEST(PatternLimits, ExplodingProgramIsRefused) {
  // Each "+" copies its atom, so nested "+" doubles the program each time.
  std::u16string pattern = u"a";
  for (int i = 0; i < 30; ++i) pattern = u"(" + pattern + u")+";
  EXPECT_EQ(Compile(pattern), PatternOutOfMemory);
}

}  // namespace
}  // namespace inkseal::testing
