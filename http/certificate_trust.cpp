#include "http/certificate_trust.h"

#include "common/settings.h"
#include "platform/folders.h"
#include "platform/process.h"

namespace inkseal {

namespace {

CertificateTrust& ProcessTrust() {
  static CertificateTrust trust;
  return trust;
}

}  // namespace

CertificateTrust ReadCertificateTrustBesideProgram() {
  CertificateTrust trust;
  std::u16string program;
  if (!platform::GetOwnModuleFileName(program)) return trust;
  const size_t separator = program.rfind(platform::kPathSeparator);
  if (separator == std::u16string::npos) return trust;
  const std::u16string file = program.substr(0, separator + 1) + kSettingsFileName;
  trust.authorityFile = ReadSetting(kKeyCertificateAuthorities, kSettingsSection, file).value_or(u"");
  // Only the one explicit value: a typo must not weaken anything.
  trust.verify = ReadSetting(kKeyDisableCertificateVerification, kSettingsSection, file) != u"1";
  return trust;
}

void UseCertificateTrust(const CertificateTrust& trust) { ProcessTrust() = trust; }

const CertificateTrust& CertificateTrustInUse() { return ProcessTrust(); }

}  // namespace inkseal
