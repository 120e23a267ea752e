// The modal login dialog of the authenticator.  The window is the platform's
// (a Win32 dialog from its resource template, or a GTK window); what happens
// in it is decided by LoginDialogEvents, which sees the open window only
// through LoginWindow, so that logic can be tested without any window.
#pragma once

#include "platform/login_dialog_ids.h"

namespace inkseal::platform {

constexpr int kEmailEdit = IDC_EMAIL_EDIT;
constexpr int kPasswordEdit = IDC_PASSWORD_EDIT;
constexpr int kCodeEdit = IDC_CODE_EDIT;
constexpr int kEmailLabel = IDC_EMAIL_LABEL;
constexpr int kPasswordLabel = IDC_PASSWORD_LABEL;
constexpr int kCodeLabel = IDC_CODE_LABEL;
constexpr int kLogInButton = IDOK;
constexpr int kCancelButton = IDCANCEL;

// Results of the modal run.
constexpr int kDialogLoggedIn = 1;
constexpr int kDialogCancelled = 2;
constexpr int kDialogNotCreated = -1;

// The open dialog, as its logic drives it.
class LoginWindow {
 public:
  virtual ~LoginWindow() = default;
  // Number of characters in the control's text (GetWindowTextLengthW).
  virtual int TextLength(int controlId) = 0;
  // Copies at most capacity - 1 characters and a terminator into buffer;
  // returns how many characters were copied (GetWindowTextW).
  virtual int ReadText(int controlId, char16_t* buffer, int capacity) = 0;
  virtual void ShowControl(int controlId, bool visible) = 0;
  // Gives the control the keyboard focus with its whole text selected, so
  // that typing replaces it.  Asked for while "Log in" runs (the dialog is
  // then disabled), it takes effect as soon as the dialog is enabled again.
  virtual void FocusControl(int controlId) = 0;
  // The default beep.
  virtual void Beep() = 0;
  // Ends the modal run with result once the current handler returns.
  virtual void End(int result) = 0;
};

// What the dialog does.  The handlers must not throw: they run inside the
// platform's window procedure or signal handlers.
class LoginDialogEvents {
 public:
  virtual ~LoginDialogEvents() = default;
  // Before the dialog is first shown.  True gives the keyboard focus to the
  // first field; false leaves every control without focus.
  virtual bool OnInitDialog(LoginWindow& window) = 0;
  // "Log in", or Enter.  While it runs (and the message boxes it shows are
  // open) the dialog is disabled and shows the busy cursor; input that
  // reached it meanwhile is discarded, and no second press can start.
  virtual void OnLogIn(LoginWindow& window) = 0;
  // "Cancel", Escape or the close box.
  virtual void OnCancel(LoginWindow& window) = 0;
};

// Runs the dialog modally and returns the result given to End, or
// kDialogNotCreated when the dialog cannot be created (on POSIX: no display).
int RunLoginDialog(LoginDialogEvents& events);

}  // namespace inkseal::platform
