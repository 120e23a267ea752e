// Which https servers both programs trust: by default those whose
// certificate chains to the system's authorities and names the host asked
// for.  Only the administrator's settings file (the one beside the programs)
// can widen that, never the per-user one: it may add a private authority,
// or, as a last resort, switch the check off.
#pragma once

#include <string>

namespace inkseal {

struct CertificateTrust {
  // A PEM file of authorities trusted besides the system's.  Linux only: on
  // Windows an administrator adds an authority to the machine's store.
  std::u16string authorityFile;
  // False only when the file says "DisableCertificateVerification=1".
  bool verify = true;
};

// The trust settingsFile names.  A relative CertificateAuthorities path is
// taken from the folder of settingsFile, never from the current folder,
// which may be anyone's.
CertificateTrust ReadCertificateTrust(const std::u16string& settingsFile);

// The trust the settings file beside this program names; the default when
// the program's own folder cannot be found.
CertificateTrust ReadCertificateTrustBesideProgram();

}  // namespace inkseal
