// The matching machine: where matches start and end, case folding, long
// texts and the bounds that keep a hostile search finite.
#include "pattern_test_support.h"

#include <gtest/gtest.h>

namespace inkseal::testing {
namespace {

TEST(PatternMatch, ReportsPositionsInTheCallersText) {
  RegExp regExp;
  ASSERT_EQ(regExp.Parse(u"b{c+}", true), PatternOk);
  const std::u16string text = u"abccd";
  MatchContext context;
  const char16_t* end = nullptr;
  ASSERT_TRUE(regExp.Match(text.c_str(), &context, &end));
  EXPECT_EQ(context.MatchStart(), text.c_str() + 1);
  EXPECT_EQ(context.MatchEnd(), text.c_str() + 4);
  EXPECT_EQ(end, context.MatchEnd());
  EXPECT_EQ(context.GroupStart(0), text.c_str() + 2);
  EXPECT_FALSE(context.GroupMatched(1));
  EXPECT_FALSE(regExp.Match(nullptr, &context, &end));
  EXPECT_FALSE(regExp.Match(text.c_str(), nullptr, &end));
}

TEST(PatternMatch, EmptyTextGetsOneAttempt) {
  EXPECT_TRUE(Search(u"a*", u"").matched);
  EXPECT_FALSE(Search(u"a", u"").matched);
  EXPECT_FALSE(Search(u"[^a]", u"").matched);
}

TEST(PatternMatch, OneContextServesSeveralPatterns) {
  RegExp many;
  RegExp one;
  ASSERT_EQ(many.Parse(u"{a}{b}{c}", true), PatternOk);
  ASSERT_EQ(one.Parse(u"{x}", true), PatternOk);
  MatchContext context;
  ASSERT_TRUE(many.Match(u"abc", &context, nullptr));
  ASSERT_TRUE(one.Match(u"yx", &context, nullptr));
  EXPECT_EQ(context.GroupCount(), 1);
  EXPECT_EQ(*context.GroupStart(0), u'x');
}

TEST(PatternMatch, OneCharacterLoopsChooseLikeGeneralLoops) {
  // "X*" over one character takes a shortcut; "(X)*" does not.
  for (const std::u16string atom : {u"a", u".", u"[a-c]", u"[^b]"}) {
    for (const std::u16string tail : {u"", u"b", u"ab", u"$"}) {
      for (const std::u16string text : {u"", u"aab", u"xaacab", u"bbb"}) {
        const std::u16string fast = u"{" + atom + u"*}" + tail;
        const std::u16string slow = u"{(" + atom + u")*}" + tail;
        EXPECT_EQ(Search(fast, text).start, Search(slow, text).start);
        EXPECT_EQ(Search(fast, text).text, Search(slow, text).text);
        EXPECT_EQ(Group(fast, text, 0), Group(slow, text, 0));
      }
    }
  }
}

TEST(PatternCaseFolding, CapturesKeepTheCallersCase) {
  const std::u16string text = u"Content-Type: text/html; CharSet=UTF-8\r\n";
  RegExp regExp;
  ASSERT_EQ(regExp.Parse(u"charset={[A-Za-z0-9\\-_]+}", false), PatternOk);
  MatchContext context;
  ASSERT_TRUE(regExp.Match(text.c_str(), &context, nullptr));
  EXPECT_EQ(context.MatchStart(), text.c_str() + 25);
  EXPECT_EQ(std::u16string(context.GroupStart(0), context.GroupEnd(0)), u"UTF-8");
  EXPECT_FALSE(Search(u"charset=", text).matched);  // exact in the other mode
}

TEST(PatternCaseFolding, OnlyAsciiLettersFold) {
  EXPECT_TRUE(Search(u"\u00e9", u"\u00e9", false).matched);
  EXPECT_FALSE(Search(u"\u00e9", u"\u00c9", false).matched);
  EXPECT_TRUE(Search(u"[A-F]+", u"xCaFe", false).matched);
  EXPECT_EQ(Search(u"[A-F]+", u"xCaFe", false).text, u"CaFe");
}

TEST(PatternLongText, LoopsOverFourMebibytesUseNoCallStack) {
  const std::u16string text(4u << 20, u'x');
  // A one-character loop, and a general loop that keeps a choice point per
  // repetition.
  for (const char16_t* pattern : {u"{.*}y?", u"{(.)*}y?"}) {
    RegExp regExp;
    ASSERT_EQ(regExp.Parse(pattern, true), PatternOk);
    MatchContext context;
    ASSERT_TRUE(regExp.Match(text.c_str(), &context, nullptr)) << pattern[1];
    EXPECT_EQ(context.GroupEnd(0) - context.GroupStart(0), static_cast<std::ptrdiff_t>(text.size()));
  }
}

TEST(PatternLongText, StackThatCannotGrowEndsAsNotFound) {
  const std::u16string text(1000, u'x');
  RegExp regExp;
  ASSERT_EQ(regExp.Parse(u"{(.)*}", true), PatternOk);
  MatchContext context;
  context.SetBacktrackLimit(100);
  EXPECT_FALSE(regExp.Match(text.c_str(), &context, nullptr));
  EXPECT_TRUE(context.BacktrackStackExhausted());
  context.SetBacktrackLimit(kDefaultBacktrackLimit);
  EXPECT_TRUE(regExp.Match(text.c_str(), &context, nullptr));
  EXPECT_FALSE(context.BacktrackStackExhausted());
}

TEST(PatternLongText, StepLimitStopsExponentialBacktracking) {
  RegExp regExp;
  ASSERT_EQ(regExp.Parse(u"({a+})+b", true), PatternOk);
  MatchContext context;
  context.SetStepLimit(100000);
  EXPECT_FALSE(regExp.Match(u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac", &context, nullptr));
  EXPECT_TRUE(context.StepLimitReached());
  EXPECT_FALSE(context.GroupMatched(0));
  EXPECT_TRUE(regExp.Match(u"aaab", &context, nullptr));
  EXPECT_FALSE(context.StepLimitReached());
}

}  // namespace
}  // namespace inkseal::testing
