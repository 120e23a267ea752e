#include "uploader/command_line.h"

#include <gtest/gtest.h>

namespace inkseal {
namespace {

TEST(CommandLineText, ProgramNameAndTheBlanksAfterItAreDropped) {
  EXPECT_EQ(CommandLineText(u"Ferrowend.exe C:\\out\\doc.pdf"), u"C:\\out\\doc.pdf");
  EXPECT_EQ(CommandLineText(u"Ferrowend.exe \t  C:\\doc.pdf"), u"C:\\doc.pdf");
  // Every character of code 32 or below counts as a blank, not only space and tab.
  EXPECT_EQ(CommandLineText(u"Ferrowend.exe\x01\x1f doc.pdf"), u"doc.pdf");
}

TEST(CommandLineText, QuotedProgramNameMayHoldBlanks) {
  EXPECT_EQ(CommandLineText(u"\"C:\\Program Files\\Inkseal\\Ferrowend.exe\" C:\\a b.pdf"),
            u"C:\\a b.pdf");
  // A quote in the middle of the name opens a stretch as well.
  EXPECT_EQ(CommandLineText(u"C:\\Program\" Files\\Ferrowend.exe\" doc.pdf"), u"doc.pdf");
  // An unclosed quote makes the whole line the name.
  EXPECT_EQ(CommandLineText(u"\"C:\\Program Files\\Ferrowend.exe doc.pdf"), u"");
}

TEST(CommandLineText, RestIsOneTextWithQuotesAndTrailingBlanksKept) {
  EXPECT_EQ(CommandLineText(u"F.exe \"C:\\My Documents\\a.pdf\""), u"\"C:\\My Documents\\a.pdf\"");
  EXPECT_EQ(CommandLineText(u"F.exe \"a.pdf\" "), u"\"a.pdf\" ");
  EXPECT_EQ(CommandLineText(u"F.exe a.pdf  b.pdf\t"), u"a.pdf  b.pdf\t");
}

TEST(CommandLineText, NothingAfterTheNameGivesAnEmptyText) {
  EXPECT_EQ(CommandLineText(u""), u"");
  EXPECT_EQ(CommandLineText(u"Ferrowend.exe"), u"");
  EXPECT_EQ(CommandLineText(u"Ferrowend.exe    "), u"");
  EXPECT_EQ(CommandLineText(u"\"C:\\x y\\Ferrowend.exe\""), u"");
}

TEST(CommandLineTextFromArguments, ArgumentsAreJoinedBySingleBlanks) {
  EXPECT_EQ(CommandLineTextFromArguments({u"/opt/inkseal/Ferrowend", u"/tmp/My", u"Report.pdf"}),
            u"/tmp/My Report.pdf");
  EXPECT_EQ(CommandLineTextFromArguments({u"Ferrowend", u"/tmp/a b.pdf"}), u"/tmp/a b.pdf");
}

TEST(CommandLineTextFromArguments, ProgramNameWithBlanksOrQuotesDoesNotCutThePath) {
  EXPECT_EQ(CommandLineTextFromArguments({u"/opt/my apps/Ferrowend", u"doc.pdf"}), u"doc.pdf");
  EXPECT_EQ(CommandLineTextFromArguments({u"/opt/\"odd/Ferrowend", u"doc.pdf"}), u"doc.pdf");
}

TEST(CommandLineTextFromArguments, RuleStillAppliesToTheArguments) {
  EXPECT_EQ(CommandLineTextFromArguments({u"Ferrowend"}), u"");
  EXPECT_EQ(CommandLineTextFromArguments({}), u"");
  EXPECT_EQ(CommandLineTextFromArguments({u"Ferrowend", u""}), u"");
  // Blanks leading the text are skipped, as after a program name; trailing ones stay.
  EXPECT_EQ(CommandLineTextFromArguments({u"Ferrowend", u"  doc.pdf "}), u"doc.pdf ");
  EXPECT_EQ(CommandLineTextFromArguments({u"Ferrowend", u"\"a b.pdf\" "}), u"\"a b.pdf\" ");
}

}  // namespace
}  // namespace inkseal
