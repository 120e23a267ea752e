// Brantwick's Windows entry: the whole run is one modal login dialog, whose
// result is the exit code.
#include <windows.h>
#include <commctrl.h>

#include "authenticator/main_dlg.h"
#include "authenticator/notifier.h"
#include "authenticator/service_endpoint.h"
#include "common/certificate_trust.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_BAR_CLASSES;
  InitCommonControlsEx(&controls);

  inkseal::MessageBoxNotifier notifier;
  inkseal::CMainDlg dialog(inkseal::TokenEndpointUrl(), inkseal::ReadCertificateTrustBesideProgram(), notifier);
  return dialog.DoModal();
}
