// Brantwick's Linux entry: the whole run is one modal login dialog, whose
// result is the exit code (-1, no display, reaches the parent as 255).
#include "authenticator/main_dlg.h"
#include "authenticator/notifier.h"
#include "authenticator/service_endpoint.h"
#include "common/certificate_trust.h"

int main() {
  inkseal::MessageBoxNotifier notifier;
  inkseal::CMainDlg dialog(inkseal::TokenEndpointUrl(), inkseal::ReadCertificateTrustBesideProgram(), notifier);
  return dialog.DoModal();
}
