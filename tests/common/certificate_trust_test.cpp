// Which authorities the administrator's settings file adds, and from where a
// relative path is taken.
#include "common/certificate_trust.h"

#include <gtest/gtest.h>

#include "platform/folders.h"
#include "temp_folder.h"

namespace inkseal {
namespace {

CertificateTrust TrustNamedBy(const testing::TempFolder& folder, const std::string& lines) {
  const auto file = folder / "vod995.ini";
  testing::WriteBytes(file, "[Parameters]\r\n" + lines);
  return ReadCertificateTrust(file.u16string());
}

TEST(ReadCertificateTrust, ARelativeAuthorityFileIsTakenFromTheSettingsFilesFolderNeverTheCurrentOne) {
  testing::TempFolder folder;
  const std::u16string settingsFolder = folder.path().u16string() + platform::kPathSeparator;
  EXPECT_EQ(TrustNamedBy(folder, "CertificateAuthorities=ca/authority.pem\r\n").authorityFile,
            settingsFolder + u"ca/authority.pem");
  const std::string full = (folder / "elsewhere.pem").string();
  EXPECT_EQ(TrustNamedBy(folder, "CertificateAuthorities=" + full + "\r\n").authorityFile,
            folder.path().u16string() + platform::kPathSeparator + u"elsewhere.pem");
  const CertificateTrust none = TrustNamedBy(folder, "LumeskURL=https://h/\r\n");
  EXPECT_EQ(none.authorityFile, u"");
  EXPECT_TRUE(none.verify);
}

TEST(ReadCertificateTrust, OnlyTheOneExplicitValueSwitchesTheCheckOff) {
  testing::TempFolder folder;
  EXPECT_FALSE(TrustNamedBy(folder, "DisableCertificateVerification=1\r\n").verify);
  for (const char* value : {"0", "yes", "true", "01", " 1x"}) {
    EXPECT_TRUE(TrustNamedBy(folder, std::string("DisableCertificateVerification=") + value + "\r\n").verify)
        << value;
  }
}

}  // namespace
}  // namespace inkseal
