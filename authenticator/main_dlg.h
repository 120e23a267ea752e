// The login dialog's logic: reading the three fields, the switch to the
// two-factor mode, Cancel, and "Log in" handing the fields to the
// personal-token request.  It drives the window only through LoginWindow.
#pragma once

#include <string>

#include "authenticator/notifier.h"
#include "authenticator/token_request.h"
#include "common/certificate_trust.h"
#include "platform/login_dialog.h"

namespace inkseal {

class CMainDlg final : public platform::LoginDialogEvents {
 public:
  // tokenUrl: the personal-token endpoint; trust: which servers the login
  // may talk to; notifier: where the login's messages go, which must
  // outlive the dialog.
  CMainDlg(std::u16string tokenUrl, CertificateTrust trust, Notifier& notifier);

  // Runs the dialog modally; its result is the program's exit code.
  int DoModal();

  bool OnInitDialog(platform::LoginWindow& window) override;
  void OnLogIn(platform::LoginWindow& window) override;
  void OnCancel(platform::LoginWindow& window) override;

  // Fills email, password and code from their edits and trims them.  When a
  // control delivers fewer characters than it announced, beeps, focuses that
  // control and returns false; members not yet read keep their values.
  bool ReadFields(platform::LoginWindow& window);
  // Shows the two-factor label and edit in place of email and password and
  // puts the keyboard focus into the code edit.
  static void SwitchToTwoFactorMode(platform::LoginWindow& window);

  const LoginFields& Fields() const { return fields; }
  const std::u16string& UserFolder() const { return userFolder; }
  const OAuthValues& Credentials() const { return credentials; }

 private:
  void FocusFieldToCorrect(platform::LoginWindow& window) const;

  std::u16string tokenUrl;
  CertificateTrust trust;
  Notifier& notifier;
  LoginFields fields;
  // The per-user folder with its trailing separator; empty when it could
  // not be set up.
  std::u16string userFolder;
  // Kept for the whole run: a later reply completes what an earlier one left.
  OAuthValues credentials;
  // There is no way back to the credentials mode within a run.
  bool twoFactorMode = false;
};

}  // namespace inkseal
