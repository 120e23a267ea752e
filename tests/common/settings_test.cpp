// Settings through the platform's own profile functions: the real Windows
// API under Wine, our reader and writer on POSIX.  Both must agree.
#include "common/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/settings_file.h"
#include "temp_folder.h"

namespace inkseal {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::Utf16LeFile;
using testing::WriteBytes;

std::u16string Path(const std::filesystem::path& path) { return path.u16string(); }

std::optional<std::u16string> ReadFrom(const std::filesystem::path& file, const std::u16string& key) {
  return ReadSetting(key, kSettingsSection, Path(file));
}

TEST(ReadSetting, EmptyAndMissingValuesReadAsAbsent) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  WriteBytes(file, "[Parameters]\nLumeskURL=\nLaunch=   \nOAuthTokenKey=\"\"\nOAuthClientKey=key\n");
  EXPECT_EQ(ReadFrom(file, kKeyLumeskUrl), std::nullopt);
  EXPECT_EQ(ReadFrom(file, kKeyLaunch), std::nullopt);
  EXPECT_EQ(ReadFrom(file, kKeyOAuthTokenKey), std::nullopt);
  EXPECT_EQ(ReadFrom(file, kKeyOAuthTokenSecret), std::nullopt);
  EXPECT_EQ(ReadFrom(file, kKeyOAuthClientKey), u"key");
  EXPECT_EQ(ReadFrom(folder / "missing.ini", kKeyOAuthClientKey), std::nullopt);
  EXPECT_EQ(ReadSetting(kKeyOAuthClientKey, u"Other", Path(file)), std::nullopt);
}

TEST(ReadSetting, LongValuesAreCutTo254Characters) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  std::string value;
  for (int i = 0; i < 300; ++i) value.push_back(static_cast<char>('a' + i % 26));
  WriteBytes(file, "[Parameters]\nLumeskURL=" + value + "\n");
  const auto read = ReadFrom(file, kKeyLumeskUrl);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, std::u16string(value.begin(), value.begin() + 254));
}

TEST(ReadSetting, NamesQuotesAndBlanksAsWindowsReadsThem) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  WriteBytes(file, "LumeskURL=before-any-section\n[ parameters ]\n  lumeskurl =  \"  https://a/?x=1;y  \" \n"
                   "LumeskURL=second\noauthclientkey='quoted'\n");
  EXPECT_EQ(ReadFrom(file, kKeyLumeskUrl), u"  https://a/?x=1;y  ");
  EXPECT_EQ(ReadFrom(file, kKeyOAuthClientKey), u"quoted");
}

TEST(ReadSetting, FileCopiedFromWindowsReads) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  WriteBytes(file, Utf16LeFile(u"; driver\r\n[Parameters]\r\nLumeskURL=https://sign.example/\u00fc\r\n"
                               u"OAuthTokenSecret=s3cr\u00e9t\r\n"));
  EXPECT_EQ(ReadFrom(file, kKeyLumeskUrl), u"https://sign.example/\u00fc");
  EXPECT_EQ(ReadFrom(file, kKeyOAuthTokenSecret), u"s3cr\u00e9t");
}

TEST(ReadSetting, GarbageBinaryEmptyOrFolderReadsAsAbsent) {
  TempFolder folder;
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
  WriteBytes(folder / "binary.ini", binary);
  WriteBytes(folder / "empty.ini", "");
  WriteBytes(folder / "garbage.ini", "[[[[\n=\n]]]=]\n\xFF\xFE\xFF");
  std::filesystem::create_directory(folder / "folder.ini");
  for (const char* name : {"binary.ini", "empty.ini", "garbage.ini", "folder.ini"}) {
    EXPECT_EQ(ReadFrom(folder / name, kKeyLumeskUrl), std::nullopt) << name;
  }
}

TEST(WriteProfileValue, CreatesFileSectionAndKeyAndReplacesValues) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  ASSERT_TRUE(platform::WriteProfileValue(kSettingsSection, kKeyOAuthClientKey, u"first", Path(file)));
  ASSERT_TRUE(platform::WriteProfileValue(kSettingsSection, kKeyOAuthTokenKey, u"t\u00e9", Path(file)));
  ASSERT_TRUE(platform::WriteProfileValue(kSettingsSection, kKeyOAuthClientKey, u"second", Path(file)));
  EXPECT_EQ(ReadFrom(file, kKeyOAuthClientKey), u"second");
  EXPECT_EQ(ReadFrom(file, kKeyOAuthTokenKey), u"t\u00e9");
  EXPECT_EQ(WriteSetting(kKeyOAuthTokenSecret, u"x", kSettingsSection, Path(file)), 1);
  EXPECT_EQ(ReadFrom(file, kKeyOAuthTokenSecret), u"x");
}

TEST(WriteProfileValue, LeavesCommentsAndOtherSectionsUntouched) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  const std::string head = "; Settings of the PDF printer\r\n[Printer]\r\nName=PDF\r\n; keep me\r\n";
  const std::string tail = "[Other]\r\nLumeskURL=elsewhere\r\n";
  WriteBytes(file, head + "[Parameters]\r\nLumeskURL=https://old/\r\n" + tail);
  ASSERT_TRUE(platform::WriteProfileValue(kSettingsSection, kKeyLumeskUrl, u"https://new/", Path(file)));
  EXPECT_EQ(ReadBytes(file), head + "[Parameters]\r\nLumeskURL=https://new/\r\n" + tail);
}

TEST(WriteProfileValue, RefusesLineBreaksAndNulWithoutTouchingTheFile) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  const std::string before = "[Parameters]\nOAuthClientKey=kept\n";
  WriteBytes(file, before);
  for (const std::u16string& value :
       {std::u16string(u"a\nOAuthTokenKey=injected"), std::u16string(u"a\rb"), std::u16string(u"a\0b", 3)}) {
    platform::SetLastError(0);
    EXPECT_FALSE(platform::WriteProfileValue(kSettingsSection, kKeyOAuthClientKey, value, Path(file)));
    EXPECT_EQ(platform::LastError(), platform::kErrorInvalidParameter);
  }
  EXPECT_FALSE(platform::WriteProfileValue(kSettingsSection, u"Key\nX", u"v", Path(file)));
  EXPECT_FALSE(platform::WriteProfileValue(u"Sec]\n[tion", kKeyOAuthClientKey, u"v", Path(file)));
  EXPECT_EQ(ReadBytes(file), before);
}

TEST(WriteProfileValue, FailsWithAnOsErrorWhenTheParentIsAFile) {
  TempFolder folder;
  WriteBytes(folder / "plain", "not a folder");
  platform::SetLastError(0);
  EXPECT_FALSE(platform::WriteProfileValue(kSettingsSection, kKeyOAuthClientKey, u"v",
                                            Path(folder / "plain" / "vod995.ini")));
  EXPECT_NE(platform::LastError(), 0u);
  EXPECT_EQ(ReadBytes(folder / "plain"), "not a folder");
}

// The per-user folder is the real one of this user (a private one on POSIX,
// see the environment of this test): it is removed again only if made here.
TEST(WriteSettings, StoresTheWholeSetOrLeavesTheOldOne) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  WriteBytes(file, "[Parameters]\r\nLumeskURL=https://a/\r\nOAuthClientKey=ck-old\r\nOAuthClientSecret=cs-old\r\n");
  ASSERT_EQ(WriteSettings({{kKeyOAuthClientKey, u"ck-new"}, {kKeyOAuthClientSecret, u"cs-new"},
                           {kKeyOAuthTokenKey, u"tk-new"}, {kKeyOAuthTokenSecret, u"ts-new"}},
                          kSettingsSection, Path(file)),
            1);
  EXPECT_EQ(ReadFrom(file, kKeyOAuthClientKey), u"ck-new");
  EXPECT_EQ(ReadFrom(file, kKeyOAuthTokenSecret), u"ts-new");
  EXPECT_EQ(ReadFrom(file, kKeyLumeskUrl), u"https://a/");

  // The third value cannot be written: the first two must not be either.
  // (Through the platform call, which shows no message box.)
  size_t failed = 0;
  EXPECT_FALSE(platform::WriteProfileValues(kSettingsSection,
                                            {{kKeyOAuthClientKey, u"ck-3"}, {kKeyOAuthClientSecret, u"cs-3"},
                                             {kKeyOAuthTokenKey, u"tk\n3"}, {kKeyOAuthTokenSecret, u"ts-3"}},
                                            Path(file), failed));
  EXPECT_EQ(failed, 2u);
  EXPECT_EQ(ReadFrom(file, kKeyOAuthClientKey), u"ck-new");
  EXPECT_EQ(ReadFrom(file, kKeyOAuthClientSecret), u"cs-new");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) ++entries;
  EXPECT_EQ(entries, 1u) << "no copy of the file may stay behind";
}

TEST(SetUpUserFolder, AnExistingFolderCountsAsSuccess) {
  std::u16string appData;
  ASSERT_TRUE(platform::GetAppDataFolder(appData));
  const std::filesystem::path lumesk = std::filesystem::path(appData) / "Lumesk";
  const bool existed = std::filesystem::exists(lumesk);
  std::u16string first;
  std::u16string second;
  EXPECT_TRUE(SetUpUserFolder(first));
  EXPECT_TRUE(SetUpUserFolder(second));
  const std::u16string expected = appData + platform::kPathSeparator + u"Lumesk" + platform::kPathSeparator;
  EXPECT_EQ(first, expected);
  EXPECT_EQ(second, expected);
  EXPECT_TRUE(std::filesystem::is_directory(lumesk));
  EXPECT_EQ(UserSettingsPath(), expected + u"vod995.ini");
  if (!existed) {
    std::error_code ignored;
    std::filesystem::remove(lumesk, ignored);
  }
}

}  // namespace
}  // namespace inkseal
