#include "common/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "common/message_text.h"
#include "platform/error_text.h"
#include "platform/last_error.h"
#include "platform/winhttp_messages.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace inkseal {
namespace {

using platform::kErrorPathNotFound;

constexpr uint32_t kWinHttpCannotConnect = 12029;
constexpr uint32_t kNumberWithoutText = 0x3FFFFFF1;

bool EndsWithLineBreak(const std::u16string& text) { return !text.empty() && text.back() == u'\n'; }

TEST(SystemErrorText, DescribesKnownNumbersAndNothingForUnknownOnes) {
  const std::u16string text = platform::SystemErrorText(kErrorPathNotFound);
  EXPECT_GT(text.size(), 1u);
  EXPECT_TRUE(EndsWithLineBreak(text));
  EXPECT_EQ(platform::SystemErrorText(kNumberWithoutText), u"");
  // The description belongs to the number: two numbers, two texts.
  EXPECT_NE(text, platform::SystemErrorText(platform::kErrorInvalidParameter));
}

TEST(ReportLastError, AppendsTheDescriptionOfTheLastError) {
  const std::u16string description = platform::SystemErrorText(kErrorPathNotFound);
  platform::SetLastError(kErrorPathNotFound);
  EXPECT_EQ(ReportLastError(u"Failed to start:\nBrantwick.exe", true),
            u"Failed to start:\nBrantwick.exe\n" + description);
  // An empty text gives the description alone, without a leading line break.
  platform::SetLastError(kErrorPathNotFound);
  EXPECT_EQ(ReportLastError(u"", true), description);
}

TEST(ReportLastError, ErrorWithoutDescriptionLeavesTheTextAndItsLineBreak) {
  platform::SetLastError(kNumberWithoutText);
  EXPECT_EQ(ReportLastError(u"Exception occurred while sending data", true),
            u"Exception occurred while sending data\n");
}

TEST(ShowInformation, ReturnsTheTextUnchanged) {
  EXPECT_EQ(ShowInformation(u"Please select a file to upload.", true), u"Please select a file to upload.");
  EXPECT_EQ(ShowInformation(u"", true), u"");
}

TEST(ErrorCodeText, StartsWithAnEmptyLineAndKeepsEveryPieceInOrder) {
  EXPECT_EQ(ErrorCodeText(2, u"Missing.\r\n", u"Failed to open document\nC:\\a.pdf"),
            u"\nError code: 2\nMissing.\r\n\nFailed to open document\nC:\\a.pdf");
  // An empty text still ends with the line break after the description.
  EXPECT_EQ(ErrorCodeText(2, u"Missing.\n", u""), u"\nError code: 2\nMissing.\n\n");
  // No description: the number line is followed directly by "\n" and the text.
  EXPECT_EQ(ErrorCodeText(77, u"", u"T"), u"\nError code: 77\n\nT");
}

TEST(ErrorCodeText, PrintsTheNumberAsSignedDecimal) {
  EXPECT_EQ(ErrorCodeText(0x80072EE7, u"", u""), u"\nError code: -2147012889\n\n");
  EXPECT_EQ(ErrorCodeText(0, u"", u""), u"\nError code: 0\n\n");
}

TEST(ReportHttpError, SystemNumbersFallBackToTheSystemText) {
  const std::u16string description = platform::SystemErrorText(kErrorPathNotFound);
  EXPECT_EQ(ReportHttpError(kErrorPathNotFound, u"T", true), ErrorCodeText(kErrorPathNotFound, description, u"T"));
}

TEST(ReportHttpError, HttpLibraryNumbersGetTheLibrarysText) {
#ifdef _WIN32
  // The text comes from the HTTP library already in the process.
  const HMODULE winhttp = ::LoadLibraryW(L"winhttp.dll");
  ASSERT_NE(winhttp, nullptr);
  const std::u16string text = platform::HttpErrorText(kWinHttpCannotConnect);
  // Wine's HTTP library carries no message table; real Windows' does.
  if (text.empty()) GTEST_SKIP() << "this winhttp.dll has no message table";
  EXPECT_TRUE(EndsWithLineBreak(text));
#else
  const char16_t* table = platform::WinHttpMessageText(kWinHttpCannotConnect);
  if (table == nullptr) GTEST_SKIP() << "the HTTP library's message table is not filled yet";
  const std::u16string text = table;
  EXPECT_EQ(platform::HttpErrorText(kWinHttpCannotConnect), text);
  EXPECT_EQ(platform::SystemErrorText(kWinHttpCannotConnect), u"");
#endif
  EXPECT_GT(text.size(), 1u);
  EXPECT_EQ(ReportHttpError(kWinHttpCannotConnect, u"", true), u"\nError code: 12029\n" + text + u"\n");
#ifdef _WIN32
  ::FreeLibrary(winhttp);
#endif
}

}  // namespace
}  // namespace inkseal
