#include "text/secret_mask.h"

#include <gtest/gtest.h>

namespace inkseal {
namespace {

TEST(MaskSecrets, HidesSignaturesAndPasswordsAndKeepsEverythingElse) {
  // The uploader's configuration report: both OAuth secrets in the signature.
  EXPECT_EQ(MaskSecrets(u"Authorization: OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"ck\","
                        u"oauth_token=\"tk\",oauth_signature=\"cs-1&ts-2\"\r\nConnection: keep-alive"),
            u"Authorization: OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"ck\","
            u"oauth_token=\"tk\",oauth_signature=\"***\"\r\nConnection: keep-alive");
  // A login form, twice, one at the end of the text.
  EXPECT_EQ(MaskSecrets(u"email=a%40b&password=p%26w&totp=1\nemail=a&password=last"),
            u"email=a%40b&password=***&totp=1\nemail=a&password=***");
  // Unterminated and empty values, and nothing to mask.
  EXPECT_EQ(MaskSecrets(u"oauth_signature=\"open\nnext line"), u"oauth_signature=\"***\nnext line");
  EXPECT_EQ(MaskSecrets(u"password=&x"), u"password=***&x");
  EXPECT_EQ(MaskSecrets(u"Incorrect email or password."), u"Incorrect email or password.");
}

}  // namespace
}  // namespace inkseal
