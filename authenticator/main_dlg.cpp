#include "authenticator/main_dlg.h"

#include <exception>
#include <new>
#include <utility>
#include <vector>

#include "common/settings.h"
#include "text/utf.h"

namespace inkseal {
namespace {

// The characters a wide-character space classification accepts: the C
// blanks and line breaks, and Unicode's other space characters.
bool IsWhiteSpace(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

void TrimWhiteSpace(std::u16string& text) {
  size_t begin = 0;
  while (begin < text.size() && IsWhiteSpace(text[begin])) ++begin;
  size_t end = text.size();
  while (end > begin && IsWhiteSpace(text[end - 1])) --end;
  text = text.substr(begin, end - begin);
}

// One control's text; false when fewer characters arrive than the control
// announced, or no buffer can be had for them.
bool ReadControlText(platform::LoginWindow& window, int controlId, std::u16string& text) {
  const int length = window.TextLength(controlId);
  const int capacity = (length > 0 ? length : 0) + 1;
  std::vector<char16_t> buffer;
  try {
    buffer.resize(static_cast<size_t>(capacity));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const int received = window.ReadText(controlId, buffer.data(), capacity);
  if (received < length || received < 0 || received >= capacity) return false;
  text.assign(buffer.data(), static_cast<size_t>(received));
  return true;
}

}  // namespace

CMainDlg::CMainDlg(std::u16string tokenUrl, CertificateTrust trust, Notifier& notifier)
    : tokenUrl(std::move(tokenUrl)), trust(std::move(trust)), notifier(notifier) {}

int CMainDlg::DoModal() { return platform::RunLoginDialog(*this); }

bool CMainDlg::OnInitDialog(platform::LoginWindow&) {
  // Without the per-user folder the dialog still opens, but no field gets
  // the focus: the user sees something is off before typing.
  return SetUpUserFolder(userFolder);
}

void CMainDlg::OnLogIn(platform::LoginWindow& window) {
  if (!ReadFields(window)) return;
  // Whatever goes wrong in one attempt is told and the dialog stays open for
  // the next: nothing may leave the window procedure.
  try {
    switch (RequestPersonalToken(fields, tokenUrl, trust, userFolder, credentials, notifier)) {
      case LoginOutcome::Stored:
        window.End(platform::kDialogLoggedIn);
        return;
      case LoginOutcome::TwoFactorDemanded:
        twoFactorMode = true;
        SwitchToTwoFactorMode(window);
        return;
      case LoginOutcome::Failed:
        break;
    }
  } catch (const std::exception& e) {
    notifier.ShowInformation(Utf8ToUtf16(e.what()));
  }
  FocusFieldToCorrect(window);
}

// After a refused attempt the keyboard goes where the user must retype, with
// the old text selected: appending to a rejected password or code would
// only be refused again.
void CMainDlg::FocusFieldToCorrect(platform::LoginWindow& window) const {
  if (twoFactorMode) {
    window.FocusControl(platform::kCodeEdit);
  } else if (fields.email.empty()) {
    window.FocusControl(platform::kEmailEdit);
  } else {
    window.FocusControl(platform::kPasswordEdit);
  }
}

void CMainDlg::OnCancel(platform::LoginWindow& window) { window.End(platform::kDialogCancelled); }

bool CMainDlg::ReadFields(platform::LoginWindow& window) {
  const std::pair<int, std::u16string*> edits[] = {
      {platform::kEmailEdit, &fields.email},
      {platform::kPasswordEdit, &fields.password},
      {platform::kCodeEdit, &fields.code},
  };
  for (const auto& [controlId, member] : edits) {
    if (!ReadControlText(window, controlId, *member)) {
      window.Beep();
      window.FocusControl(controlId);
      return false;
    }
  }
  for (const auto& edit : edits) TrimWhiteSpace(*edit.second);
  return true;
}

void CMainDlg::SwitchToTwoFactorMode(platform::LoginWindow& window) {
  window.ShowControl(platform::kEmailEdit, false);
  window.ShowControl(platform::kPasswordEdit, false);
  window.ShowControl(platform::kEmailLabel, false);
  window.ShowControl(platform::kPasswordLabel, false);
  window.ShowControl(platform::kCodeEdit, true);
  window.ShowControl(platform::kCodeLabel, true);
  // The field that had the keyboard is hidden now: without this the code
  // typed next would go nowhere, or into the hidden password.
  window.FocusControl(platform::kCodeEdit);
}

}  // namespace inkseal
