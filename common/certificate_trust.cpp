#include "common/certificate_trust.h"

#include "common/module_directory.h"
#include "common/settings.h"
#include "platform/folders.h"

namespace inkseal {

CertificateTrust ReadCertificateTrust(const std::u16string& settingsFile) {
  CertificateTrust trust;
  const std::u16string named =
      ReadSetting(kKeyCertificateAuthorities, kSettingsSection, settingsFile).value_or(u"");
  if (named.empty() || platform::IsFullPath(named)) {
    trust.authorityFile = named;
  } else {
    const size_t separator = settingsFile.rfind(platform::kPathSeparator);
    // A settings file named without a folder gives nothing to resolve
    // against; no authority is then better than one found by chance.
    if (separator != std::u16string::npos) {
      trust.authorityFile = settingsFile.substr(0, separator + 1) + named;
    }
  }
  // Only the one explicit value: a typo must not weaken anything.
  trust.verify = ReadSetting(kKeyDisableCertificateVerification, kSettingsSection, settingsFile) != u"1";
  return trust;
}

CertificateTrust ReadCertificateTrustBesideProgram() {
  const std::optional<std::u16string> folder = OwnModuleDirectory();
  return folder ? ReadCertificateTrust(*folder + kSettingsFileName) : CertificateTrust();
}

}  // namespace inkseal
