#include "platform/login_dialog.h"

#include <windows.h>

namespace inkseal::platform {
namespace {

// An icon loaded for the dialog, destroyed when the dialog is gone.
class IconHandle {
 public:
  IconHandle() = default;
  ~IconHandle() {
    if (icon_ != nullptr) DestroyIcon(icon_);
  }
  IconHandle(const IconHandle&) = delete;
  IconHandle& operator=(const IconHandle&) = delete;

  HICON Load(HINSTANCE instance, int width, int height) {
    icon_ = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_BRANTWICK), IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
    return icon_;
  }

 private:
  HICON icon_ = nullptr;
};

// What the dialog procedure needs across messages.
struct DialogState {
  LoginDialogEvents& events;
  IconHandle bigIcon;
  IconHandle smallIcon;
  // True while a "Log in" press runs, its message boxes included.
  bool pressing = false;
  // A focus asked for while the dialog was disabled, given once it is enabled.
  int pendingFocus = 0;
  bool ended = false;
};

// Focus by way of the dialog manager, so that the default button follows,
// and the whole text selected.
void FocusAndSelect(HWND dialog, int controlId) {
  const HWND control = GetDlgItem(dialog, controlId);
  if (control == nullptr) return;
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  SendMessageW(control, EM_SETSEL, 0, -1);
}

// The Win32 dialog as its logic sees it.
class Win32LoginWindow final : public LoginWindow {
 public:
  Win32LoginWindow(HWND dialog, DialogState& state) : dialog_(dialog), state_(state) {}

  int TextLength(int controlId) override { return GetWindowTextLengthW(GetDlgItem(dialog_, controlId)); }

  int ReadText(int controlId, char16_t* buffer, int capacity) override {
    return GetWindowTextW(GetDlgItem(dialog_, controlId), reinterpret_cast<wchar_t*>(buffer), capacity);
  }

  void ShowControl(int controlId, bool visible) override {
    ShowWindow(GetDlgItem(dialog_, controlId), visible ? SW_SHOW : SW_HIDE);
  }

  // A disabled dialog takes no focus: the request waits for the press to end.
  void FocusControl(int controlId) override {
    if (state_.pressing) {
      state_.pendingFocus = controlId;
    } else {
      FocusAndSelect(dialog_, controlId);
    }
  }

  void Beep() override { MessageBeep(0xFFFFFFFF); }

  void End(int result) override {
    state_.ended = true;
    EndDialog(dialog_, result);
  }

 private:
  HWND dialog_;
  DialogState& state_;
};

// One "Log in" press.  The exchange blocks this thread; the dialog is
// disabled for the whole press, so that its message boxes, which have no
// owner, do not leave it open to a second press behind them.  What was typed
// during the exchange is dropped by the box that follows it (every press
// that reaches the service ends the dialog or shows one); what is typed
// after the box has closed is the user's next step and is kept.
void RunPress(HWND dialog, DialogState& state) {
  state.pressing = true;
  state.pendingFocus = 0;
  EnableWindow(dialog, FALSE);
  const HCURSOR previousCursor = SetCursor(LoadCursorW(nullptr, IDC_WAIT));

  Win32LoginWindow window(dialog, state);
  state.events.OnLogIn(window);

  EnableWindow(dialog, TRUE);
  SetCursor(previousCursor);
  state.pressing = false;
  if (state.ended) return;

  // A box closing while the dialog was disabled may have left no window of
  // this thread active; take it back, unless another program has it.
  const HWND foreground = GetForegroundWindow();
  if (foreground == nullptr || GetWindowThreadProcessId(foreground, nullptr) == GetCurrentThreadId()) {
    SetForegroundWindow(dialog);
  }
  if (state.pendingFocus != 0) FocusAndSelect(dialog, state.pendingFocus);
  state.pendingFocus = 0;
}

bool IsShownNormally(HWND window) {
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  return (style & WS_VISIBLE) != 0 && (style & WS_MINIMIZE) == 0;
}

// Centres over a visible, not minimised owner, else over the work area of
// the nearest monitor, then keeps the dialog inside that work area.
void CentreDialog(HWND dialog) {
  const HWND owner = GetWindow(dialog, GW_OWNER);
  const bool overOwner = owner != nullptr && IsShownNormally(owner);

  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(overOwner ? owner : dialog, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT work = monitor.rcWork;

  RECT centreOn = work;
  if (overOwner) GetWindowRect(owner, &centreOn);

  RECT self{};
  GetWindowRect(dialog, &self);
  const int width = self.right - self.left;
  const int height = self.bottom - self.top;

  int x = (centreOn.left + centreOn.right) / 2 - width / 2;
  int y = (centreOn.top + centreOn.bottom) / 2 - height / 2;
  if (x + width > work.right) x = work.right - width;
  if (x < work.left) x = work.left;
  if (y + height > work.bottom) y = work.bottom - height;
  if (y < work.top) y = work.top;

  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetDialogIcons(HWND dialog, DialogState& state) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  const HICON big = state.bigIcon.Load(instance, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  const HICON small =
      state.smallIcon.Load(instance, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<DialogState*>(lParam);
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      CentreDialog(dialog);
      SetDialogIcons(dialog, *state);
      Win32LoginWindow window(dialog, *state);
      // TRUE lets the dialog manager focus the first tab stop; FALSE leaves
      // every control without focus.
      return state->events.OnInitDialog(window) ? TRUE : FALSE;
    }
    case WM_COMMAND: {
      if (state == nullptr) return FALSE;
      switch (LOWORD(wParam)) {
        case IDOK:
          // A command posted while a press runs (its box's loop dispatches
          // them) must not start a second one inside it.
          if (!state->pressing) RunPress(dialog, *state);
          return TRUE;
        case IDCANCEL:
          if (!state->pressing) {
            Win32LoginWindow window(dialog, *state);
            state->events.OnCancel(window);
          }
          return TRUE;
      }
      return FALSE;
    }
  }
  return FALSE;
}

}  // namespace

int RunLoginDialog(LoginDialogEvents& events) {
  DialogState state{events, {}, {}};
  const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_LOGIN), GetActiveWindow(),
                                         DialogProcedure, reinterpret_cast<LPARAM>(&state));
  return static_cast<int>(result);
}

}  // namespace inkseal::platform
