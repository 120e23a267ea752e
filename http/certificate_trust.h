// Which https servers both programs trust: by default those whose
// certificate chains to the system's authorities and names the host asked
// for.  Only the settings file beside the programs (the administrator's)
// can widen that, never the per-user one: it may add a private authority,
// or, as a last resort, switch the check off.
#pragma once

#include <string>

namespace inkseal {

struct CertificateTrust {
  // A PEM file of authorities trusted besides the system's.  Linux only: on
  // Windows an administrator adds an authority to the machine's store.
  std::u16string authorityFile;
  // False only when the administrator's file says
  // "DisableCertificateVerification=1".
  bool verify = true;
};

// The trust the settings file beside this program names (the default when
// the program's own path cannot be found).
CertificateTrust ReadCertificateTrustBesideProgram();

// The process-wide trust every WinHttpClient starts from; set once by each
// program's entry, before the first exchange.
void UseCertificateTrust(const CertificateTrust& trust);
const CertificateTrust& CertificateTrustInUse();

}  // namespace inkseal
