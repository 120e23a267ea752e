#include "uploader/upload_texts.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace inkseal {
namespace {

TEST(UploadHeaderText, JoinsTheLinesExactlyWithEmptyLinesAndNoFinalLineEnd) {
  EXPECT_EQ(UploadHeaderText(1234, u"OAuth x=\"y\""),
            u"Content-Length: 1234\r\nContent-Type: application/pdf\r\n\r\n"
            u"Connection: keep-alive\r\n\r\nAuthorization: OAuth x=\"y\"");
}

TEST(UploadHeaderText, LengthIsPlainDecimalAtBothEnds) {
  EXPECT_EQ(UploadHeaderText(0, u"A").substr(0, 19), u"Content-Length: 0\r\n");
  EXPECT_EQ(UploadHeaderText(INT32_MAX, u"A").substr(0, 28), u"Content-Length: 2147483647\r\n");
}

TEST(ConfigurationReport, ListsEveryValueInOrderAndAsksForCredentialsOnlyWhenTold) {
  const std::u16string base =
      u"Please report to sysadmin the following: \nVerify your configuration.\n"
      u"\nConfiguration file: C:\\u\\Lumesk\\vod995.ini"
      u"\nPrinterURL: https://h/upload"
      u"\nOAuth: OAuth v"
      u"\nDocument: \"C:\\a b.pdf\"";
  EXPECT_EQ(ConfigurationReport(u"C:\\u\\Lumesk\\vod995.ini", u"https://h/upload", u"OAuth v",
                                u"\"C:\\a b.pdf\"", false),
            base);
  EXPECT_EQ(ConfigurationReport(u"C:\\u\\Lumesk\\vod995.ini", u"https://h/upload", u"OAuth v",
                                u"\"C:\\a b.pdf\"", true),
            base + u"\n\nPlease obtain valid Tessavo credentials.");
}

TEST(ConfigurationReport, AbsentValuesAddNothingAfterTheirLabels) {
  EXPECT_EQ(ConfigurationReport(u"vod995.ini", std::nullopt, u"OAuth v", std::nullopt, false),
            u"Please report to sysadmin the following: \nVerify your configuration.\n"
            u"\nConfiguration file: vod995.ini\nPrinterURL: \nOAuth: OAuth v\nDocument: ");
}

TEST(SendFailureText, NamesDocumentAddressAndAuthorization) {
  EXPECT_EQ(SendFailureText(u"C:\\a.pdf", u"https://h/upload", u"OAuth v"),
            u"Please report to sysadmin the following: Failed to print the document."
            u"\nDocument: C:\\a.pdf\nPrinterURL: https://h/upload\nOAuth: OAuth v");
}

}  // namespace
}  // namespace inkseal
