#include "uploader/credentials.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace inkseal {
namespace {

constexpr char16_t kFullValue[] =
    u"OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"ck\","
    u"oauth_token=\"tk\",oauth_signature=\"cs&ts\"";

TEST(AuthorizationValue, FourValuesInTheirFixedPlaces) {
  EXPECT_EQ(AuthorizationValue({u"ck", u"cs", u"tk", u"ts"}), kFullValue);
}

TEST(AuthorizationValue, AbsentValuesLeaveTheirSlotsEmpty) {
  EXPECT_EQ(AuthorizationValue({}),
            u"OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"\","
            u"oauth_token=\"\",oauth_signature=\"&\"");
  EXPECT_EQ(AuthorizationValue({u"ck", std::nullopt, u"tk", std::nullopt}),
            u"OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"ck\","
            u"oauth_token=\"tk\",oauth_signature=\"&\"");
  EXPECT_EQ(AuthorizationValue({std::nullopt, u"cs", std::nullopt, u"ts"}),
            u"OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"\","
            u"oauth_token=\"\",oauth_signature=\"cs&ts\"");
}

TEST(AuthorizationValue, ValuesAreInsertedWithoutAnyEscaping) {
  EXPECT_EQ(AuthorizationValue({u"a\"b", u"c&d", u"e,f", u"%20\u00e9"}),
            u"OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"a\"b\","
            u"oauth_token=\"e,f\",oauth_signature=\"c&d&%20\u00e9\"");
}

TEST(ShownAuthorizationValue, HidesBothSecretsWholeWhateverTheyHoldAndKeepsTheKeys) {
  const std::u16string shown = ShownAuthorizationValue({u"ck", u"LEAK\"ED-REST&ts\"", u"tk", u" x\"y\\"});
  EXPECT_EQ(shown, u"OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"ck\","
                   u"oauth_token=\"tk\",oauth_signature=\"***\"");
}

// Settings files in a folder of the test's own, removed at the end.
class ReadCredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("inkseal-credentials-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::u16string Write(const char* name, const std::string& content) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.u16string();
  }

  std::filesystem::path folder_;
};

TEST_F(ReadCredentialsTest, ReadsTheFourKeysOfSectionParameters) {
  const auto path = Write("vod995.ini",
                          "[Other]\nOAuthClientKey=wrong\n"
                          "[Parameters]\nOAuthTokenSecret=ts\nOAuthClientKey=ck\n"
                          "OAuthTokenKey=tk\nOAuthClientSecret=cs\n");
  const CredentialSet credentials = ReadCredentials(path);
  EXPECT_TRUE(credentials.IsComplete());
  EXPECT_EQ(AuthorizationValue(credentials), kFullValue);
}

TEST_F(ReadCredentialsTest, EmptyOrMissingKeysAreAbsent) {
  const auto path = Write("vod995.ini", "[Parameters]\nOAuthClientKey=\nOAuthTokenKey=tk\n");
  const CredentialSet credentials = ReadCredentials(path);
  EXPECT_EQ(credentials.clientKey, std::nullopt);
  EXPECT_EQ(credentials.clientSecret, std::nullopt);
  EXPECT_EQ(credentials.tokenKey, u"tk");
  EXPECT_EQ(credentials.tokenSecret, std::nullopt);
}

TEST_F(ReadCredentialsTest, SecondFileReplacesEveryValueOfTheFirst) {
  CredentialSet credentials = ReadCredentials(
      Write("first.ini", "[Parameters]\nOAuthClientKey=ck\nOAuthClientSecret=cs\n"
                         "OAuthTokenKey=tk\nOAuthTokenSecret=ts\n"));
  ASSERT_TRUE(credentials.IsComplete());
  credentials = ReadCredentials(Write("second.ini", "[Parameters]\nOAuthTokenKey=tk2\n"));
  EXPECT_EQ(AuthorizationValue(credentials),
            u"OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"\","
            u"oauth_token=\"tk2\",oauth_signature=\"&\"");
  EXPECT_FALSE(ReadCredentials(folder_.u16string() + u"/missing.ini").IsComplete());
}

}  // namespace
}  // namespace inkseal
