#include <string>

#include <gtest/gtest.h>

#include "printer/agent_link.h"
#include "printer/backend_message.h"
#include "printer/printable_line.h"
#include "text/utf.h"

namespace inkseal::printer {
namespace {

TEST(PrintableLine, ShowsOnlyPrintableCharactersOnOneShortLine) {
  EXPECT_EQ(PrintableLine("Zoë – 日本語 \xF0\x9F\x93\x84 disk full"), "Zoë – 日本語 \xF0\x9F\x93\x84 disk full");
  // C0 and C1 controls, DEL, NEL, the line and paragraph separators, the
  // bidirectional overrides and isolates, zero-width and byte order marks.
  EXPECT_EQ(PrintableLine("a\nPPD: b\r\tc\x7f\xC2\x85\xC2\x9B"), "a?PPD: b??c???");
  EXPECT_EQ(PrintableLine("\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAE\xE2\x81\xA6\xE2\x80\x8B\xEF\xBB\xBF\xEE\x80\x80"), "???????");
  // Malformed bytes and an encoded surrogate show as U+FFFD, never pass raw.
  const std::string shown = PrintableLine("x\xFF\xC0\xAF\xED\xA0\x80y");
  EXPECT_TRUE(IsValidUtf8(shown));
  EXPECT_EQ(shown.front(), 'x');
  EXPECT_EQ(shown.back(), 'y');
  EXPECT_EQ(shown.find('\xFF'), std::string::npos);
}

TEST(PrintableLine, CutsLongTextOnACharacterBoundaryWithinTheLimit) {
  EXPECT_EQ(PrintableLine(std::string(kMaxShownBytes, 'x')), std::string(kMaxShownBytes, 'x'));
  EXPECT_EQ(PrintableLine(std::string(kMaxShownBytes + 1, 'x')), std::string(kMaxShownBytes - 3, 'x') + "...");
  for (size_t limit = 0; limit < 12; ++limit) {
    const std::string cut = PrintableLine("日本語日本語", limit);
    EXPECT_LE(cut.size(), limit);
    EXPECT_TRUE(IsValidUtf8(cut)) << limit;
  }
  EXPECT_EQ(PrintableLine("日本語日本語", 10), "日本...");
}

TEST(BackendLine, UserTextNeverStartsALineOrReachesTheSchedulersLimit) {
  const std::string attack = std::string(2000, 'x') + "\nPPD: cupsProtocol=TBCP" + std::string(2000, 'y') +
                             "\rATTR: printer-alert=injected";
  const std::string line = BackendLine(Prefix::kError, "Inkseal: " + attack);
  EXPECT_EQ(line.rfind("ERROR: Inkseal: xxx", 0), 0u);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_EQ(line.find('\r'), std::string::npos);
  EXPECT_LE(line.size(), kMaxMessageBytes + sizeof "ERROR: ");
  // The agent's reason is cut where it is read, whatever it held.
  std::string reason;
  EXPECT_FALSE(ParseReply(std::string(kReplyError) + attack, reason));
  EXPECT_LE(reason.size(), kMaxShownBytes);
  EXPECT_EQ(reason.find("PPD"), std::string::npos);
  EXPECT_FALSE(ParseReply("\xE2\x80\xAEKO", reason));
  EXPECT_EQ(reason, "an answer it does not know: ?KO");
}

}  // namespace
}  // namespace inkseal::printer
