#include "text/private_profile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "../common/temp_folder.h"

namespace inkseal {
namespace {

using testing::Utf16LeFile;

std::optional<std::u16string> Find(const std::string& file, const std::u16string& section,
                                   const std::u16string& key) {
  return ProfileText(file).Find(section, key);
}

TEST(ProfileTextReading, NamesIgnoreCaseAndBlanksAroundThem) {
  const std::string file = "[ Parameters ]\n\t oauthclientkey \t=\t abc def \t\n";
  EXPECT_EQ(Find(file, u"PARAMETERS", u"OAuthClientKey"), u"abc def");
  // Blanks inside a key name count.
  EXPECT_EQ(Find("[s]\nmy key=1\n", u"s", u"mykey"), std::nullopt);
  EXPECT_EQ(Find("[s]\nmy key=1\n", u"S", u"MY KEY"), u"1");
}

TEST(ProfileTextReading, OneMatchingPairOfQuotesIsRemoved) {
  const std::string file =
      "[s]\nd=\"  padded  \"\nq='single'\nu=\"unmatched\nm=\"mixed'\nn=\"\"inner\"\"\ne=\"\"\n";
  EXPECT_EQ(Find(file, u"s", u"d"), u"  padded  ");
  EXPECT_EQ(Find(file, u"s", u"q"), u"single");
  EXPECT_EQ(Find(file, u"s", u"u"), u"\"unmatched");
  EXPECT_EQ(Find(file, u"s", u"m"), u"\"mixed'");
  EXPECT_EQ(Find(file, u"s", u"n"), u"\"inner\"");
  EXPECT_EQ(Find(file, u"s", u"e"), u"");
}

TEST(ProfileTextReading, ValuesKeepEqualsSignsAndSemicolons) {
  const std::string file = "[s]\na=b=c\nv=value ; note\n;c=commented\n";
  EXPECT_EQ(Find(file, u"s", u"a"), u"b=c");
  EXPECT_EQ(Find(file, u"s", u"v"), u"value ; note");
  EXPECT_EQ(Find(file, u"s", u"c"), std::nullopt);
  EXPECT_EQ(Find(file, u"s", u";c"), std::nullopt);
}

TEST(ProfileTextReading, SectionsScopeKeysAndTheFirstOccurrenceWins) {
  const std::string file = "k=outside\n[a]\nk=first\nk=second\nnokey\n[b]\nk=other\n[a]\nk=third\nx=late\n";
  EXPECT_EQ(Find(file, u"a", u"k"), u"first");
  EXPECT_EQ(Find(file, u"b", u"k"), u"other");
  EXPECT_EQ(Find(file, u"a", u"x"), u"late");  // a repeated section still counts
  EXPECT_EQ(Find(file, u"", u"k"), std::nullopt);
  EXPECT_EQ(Find(file, u"c", u"k"), std::nullopt);
  EXPECT_EQ(Find(file, u"a", u"nokey"), std::nullopt);
}

TEST(ProfileTextReading, EveryLineEndAndEncodingIsRead) {
  EXPECT_EQ(Find("[s]\rk=cr\r", u"s", u"k"), u"cr");
  EXPECT_EQ(Find("[s]\r\nk=crlf\r\n", u"s", u"k"), u"crlf");
  EXPECT_EQ(Find("\xEF\xBB\xBF[s]\nk=caf\xC3\xA9\n", u"s", u"k"), u"caf\u00e9");
  EXPECT_EQ(Find(Utf16LeFile(u"[Parameters]\r\nLumeskURL=https://x/\u20ac\r\n"), u"Parameters", u"LumeskURL"),
            u"https://x/\u20ac");
  // Not UTF-8: a file in the Western-European Windows code page.
  EXPECT_EQ(Find("[s]\nk=caf\xE9 \x80\n", u"s", u"k"), u"caf\u00e9 \u20ac");
}

TEST(ProfileTextReading, GarbageFindsNothingAndZeroCharactersEndValues) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919) & 0xFF));
  EXPECT_EQ(Find(binary, u"Parameters", u"LumeskURL"), std::nullopt);
  EXPECT_EQ(Find("", u"s", u"k"), std::nullopt);
  EXPECT_EQ(Find("\xFF\xFE[", u"s", u"k"), std::nullopt);  // UTF-16 cut inside a unit
  EXPECT_EQ(Find("[s\nk=unclosed section\n", u"s", u"k"), u"unclosed section");
  EXPECT_EQ(Find(std::string("[s]\nk=ab\0cd\n", 12), u"s", u"k"), u"ab");
}

TEST(ProfileTextEditing, ReplacingAValueKeepsEveryOtherByte) {
  const std::string file = "; printer settings\r\n[Other]\r\nk = 1\r\n\r\n[Parameters]\r\n  LUMESKURL = old ; x\r\nz=2";
  EXPECT_EQ(ProfileText(file).WithValue(u"parameters", u"LumeskURL", u"new"),
            "; printer settings\r\n[Other]\r\nk = 1\r\n\r\n[Parameters]\r\n  LUMESKURL =new\r\nz=2");
}

TEST(ProfileTextEditing, OnlyTheFirstOfRepeatedKeysChanges) {
  EXPECT_EQ(ProfileText("[s]\nk=1\nk=2\n").WithValue(u"s", u"k", u"9"), "[s]\nk=9\nk=2\n");
}

TEST(ProfileTextEditing, NewKeyGoesAfterTheSectionsLastLineAndBeforeTheGap) {
  EXPECT_EQ(ProfileText("[a]\nx=1\n\n[b]\ny=2\n").WithValue(u"a", u"k", u"v"), "[a]\nx=1\nk=v\n\n[b]\ny=2\n");
  EXPECT_EQ(ProfileText("[a]\n;note\n").WithValue(u"a", u"k", u"v"), "[a]\n;note\nk=v\n");
  // The file's last line had no line break: one is added before the new key.
  EXPECT_EQ(ProfileText("[a]\r\nx=1").WithValue(u"a", u"k", u"v"), "[a]\r\nx=1\r\nk=v\r\n");
}

TEST(ProfileTextEditing, NewSectionIsAppendedAndAnEmptyFileStartsOne) {
  EXPECT_EQ(ProfileText("").WithValue(u"Parameters", u"OAuthTokenKey", u"t"), "[Parameters]\nOAuthTokenKey=t\n");
  EXPECT_EQ(ProfileText("[a]\nx=1").WithValue(u"b", u"k", u"v"), "[a]\nx=1\n[b]\nk=v\n");
  EXPECT_EQ(ProfileText("\xEF\xBB\xBF").WithValue(u"s", u"k", u"\u00e9"), "\xEF\xBB\xBF[s]\nk=\xC3\xA9\n");
}

TEST(ProfileTextEditing, FilesKeepTheirEncoding) {
  const std::string utf16 = Utf16LeFile(u"[s]\r\nk=old\r\n");
  const std::string edited = ProfileText(utf16).WithValue(u"s", u"k", u"\u20ac");
  EXPECT_EQ(edited, Utf16LeFile(u"[s]\r\nk=\u20ac\r\n"));
  EXPECT_EQ(ProfileText(edited).Find(u"s", u"k"), u"\u20ac");
  EXPECT_EQ(ProfileText(utf16).WithValue(u"t", u"n", u"v"), Utf16LeFile(u"[s]\r\nk=old\r\n[t]\r\nn=v\r\n"));
  // A code-page file stays in its code page while it can hold the text...
  EXPECT_EQ(ProfileText("[s]\nk=caf\xE9\n").WithValue(u"s", u"n", u"\u20ac"), "[s]\nk=caf\xE9\nn=\x80\n");
  // ...and becomes UTF-8 as a whole, nothing lost, when it cannot.
  const std::string converted = ProfileText("[s]\nk=caf\xE9\n").WithValue(u"s", u"n", u"\u4e2d");
  EXPECT_EQ(converted, "[s]\nk=caf\xC3\xA9\nn=\xE4\xB8\xAD\n");
  EXPECT_EQ(ProfileText(converted).Find(u"s", u"k"), u"caf\u00e9");
}

}  // namespace
}  // namespace inkseal
