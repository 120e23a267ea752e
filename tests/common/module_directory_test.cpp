#include "common/module_directory.h"

#include <gtest/gtest.h>

namespace inkseal {
namespace {

TEST(ModuleDirectory, KeepsEverythingUpToAndIncludingTheLastSeparator) {
  EXPECT_EQ(ModuleDirectory(u"C:\\Program Files\\Inkseal\\Ferrowend.exe", u'\\'),
            u"C:\\Program Files\\Inkseal\\");
  EXPECT_EQ(ModuleDirectory(u"/opt/inkseal/bin/Ferrowend", u'/'), u"/opt/inkseal/bin/");
  // Only the platform's separator counts.
  EXPECT_EQ(ModuleDirectory(u"C:\\a/b\\c/Ferrowend.exe", u'\\'), u"C:\\a/b\\");
}

TEST(ModuleDirectory, LongExecutableNamesAreCutAwayWhole) {
  const std::u16string longName(300, u'n');
  EXPECT_EQ(ModuleDirectory(u"C:\\x\\" + longName + u".exe", u'\\'), u"C:\\x\\");
  EXPECT_EQ(ModuleDirectory(u"/x/" + longName, u'/'), u"/x/");
}

TEST(ModuleDirectory, AbsentWithoutAUsableSeparator) {
  EXPECT_EQ(ModuleDirectory(u"Ferrowend.exe", u'\\'), std::nullopt);
  EXPECT_EQ(ModuleDirectory(u"\\Ferrowend.exe", u'\\'), std::nullopt);
  EXPECT_EQ(ModuleDirectory(u"", u'/'), std::nullopt);
}

}  // namespace
}  // namespace inkseal
