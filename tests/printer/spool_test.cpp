#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "printer/spool.h"
#include "printer/spool_name.h"

namespace inkseal::printer {
namespace {

TEST(SpoolFileName, KeepsLettersAndMakesEverythingElseOneSafeName) {
  EXPECT_EQ(SpoolFileName("Quarterly report"), "Quarterly report.pdf");
  EXPECT_EQ(SpoolFileName("Scan.PDF"), "Scan.pdf");
  EXPECT_EQ(SpoolFileName("Zoë – 日本語 договор"), "Zoë – 日本語 договор.pdf");
  // Separators, quotes, shell characters and line breaks; ".." cannot climb.
  EXPECT_EQ(SpoolFileName("../../etc/passwd"), "___.._etc_passwd.pdf");
  EXPECT_EQ(SpoolFileName("a \"b\" 'c'\\d\ne\r\tf $g`"), "a _b_ _c__d_e__f _g_.pdf");
  EXPECT_EQ(SpoolFileName(".hidden"), "_hidden.pdf");
  EXPECT_EQ(SpoolFileName(".."), "__.pdf");
  EXPECT_EQ(SpoolFileName(""), "document.pdf");
  EXPECT_EQ(SpoolFileName("   "), "document.pdf");
  EXPECT_EQ(SpoolFileName(".pdf"), "_pdf.pdf");
  // Invalid UTF-8, an overlong "/", C1 controls and U+2028 each become "_".
  EXPECT_EQ(SpoolFileName("a\xff" "b\xc0\xaf" "c\xc2\x85" "d\xe2\x80\xa8" "e"), "a_b__c__d___e.pdf");
}

TEST(SpoolFileName, LongTitlesAreCutOnACharacterBoundary) {
  std::string title;
  for (int i = 0; i < 100; ++i) title += "é";  // two bytes each
  const std::string name = SpoolFileName(title);
  EXPECT_LE(name.size(), kMaxSpoolNameBytes);
  EXPECT_EQ(name.substr(name.size() - 4), ".pdf");
  EXPECT_EQ((name.size() - 4) % 2, 0u) << name;
}

class SpoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/inkseal-spool-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
  }
  void TearDown() override {
    std::error_code ignored;  // a folder the test already removed is fine
    std::filesystem::remove_all(root, ignored);
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string root;
};

TEST_F(SpoolTest, OnlyWholeDocumentsAreNamedAndLeftOversComeBackInArrivalOrder) {
  Spool spool(root + "/spool");
  ASSERT_TRUE(spool.Prepare());
  struct stat info {};
  ASSERT_EQ(::stat((root + "/spool").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  std::string firstFolder, secondFolder, unfinishedFolder, first, second;
  platform::UniqueFd file;
  ASSERT_TRUE(spool.Begin("17", firstFolder, file));
  ASSERT_EQ(::write(file.get(), "%PDF-1 first", 12), 12);
  ASSERT_TRUE(spool.Finish(firstFolder, std::move(file), "Same title", first));
  EXPECT_FALSE(file.valid());
  ASSERT_TRUE(spool.Begin("18", unfinishedFolder, file));
  ASSERT_EQ(::write(file.get(), "%PDF-1 half", 11), 11);
  file.Close();  // the sender went away: never finished
  ASSERT_TRUE(spool.Begin("", secondFolder, file));
  ASSERT_EQ(::write(file.get(), "%PDF-1 second", 13), 13);
  ASSERT_TRUE(spool.Finish(secondFolder, std::move(file), "Same title", second));

  EXPECT_NE(first, second);  // one title twice: two documents, both kept
  EXPECT_EQ(first.substr(first.rfind('/')), "/Same title.pdf");
  ASSERT_EQ(::stat(first.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  Spool restarted(root + "/spool");
  ASSERT_TRUE(restarted.Prepare());
  const std::vector<SpooledJob> jobs = restarted.Jobs(/*dropUnfinished=*/true);
  std::vector<std::string> left;
  for (const SpooledJob& job : jobs) left.push_back(job.document);
  ASSERT_EQ(left, (std::vector<std::string>{first, second}));
  EXPECT_EQ(Read(left[1]), "%PDF-1 second");
  EXPECT_NE(::access(unfinishedFolder.c_str(), F_OK), 0) << "the unfinished document was kept";

  // A job handed over again after its answer was lost is known; an
  // unfinished one and a job id that is no number are not.
  EXPECT_TRUE(restarted.Holds("17"));
  EXPECT_FALSE(restarted.Holds("18"));
  EXPECT_FALSE(restarted.Holds("7"));
  EXPECT_FALSE(restarted.Holds("../17"));

  Spool::Discard(firstFolder);
  EXPECT_NE(::access(firstFolder.c_str(), F_OK), 0);
}

TEST_F(SpoolTest, APrepareRefusesASpoolThatIsNotAFolder) {
  std::ofstream(root + "/spool") << "not a folder";
  Spool spool(root + "/spool");
  EXPECT_FALSE(spool.Prepare());
}

}  // namespace
}  // namespace inkseal::printer
