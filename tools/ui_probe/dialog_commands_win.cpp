// UI probe commands for Brantwick's login dialog: the visible top-level
// "Inkseal" dialog that holds the email edit (control 1001).  Each command
// waits up to timeout_ms (default 5000) for that dialog and exits 3 when it
// never came.
//
//   ui_probe.exe dialog [timeout_ms]
//     Reports the dialog, one "name=value" line each, in UTF-8:
//       window=<x>,<y>,<width>,<height>   screen pixels
//       style=<hex>                       the dialog's window style
//       owner=<0|1>
//       workarea=<left>,<top>,<right>,<bottom>   of the nearest monitor
//       focus=<control ID, 0 for none>
//       selection=<start>,<end>           in the focused edit (0,0 otherwise)
//       visible=<IDs of the visible controls, comma separated, in z-order>
//       control=<ID> <class> <style hex> <x>,<y>,<width>,<height> <text>
//         one line per control in z-order (the template's order, which
//         the tab order and screen readers follow); client pixels
//   ui_probe.exe type <id> <text> [timeout_ms]    sets the edit's text
//   ui_probe.exe key <id> <return|escape|tab> [timeout_ms]
//     a key pressed while control id (0: the dialog) has the keyboard
//   ui_probe.exe press <id> [timeout_ms]          clicks the button
//   ui_probe.exe close [timeout_ms]               the close box
//   ui_probe.exe gone [timeout_ms]                exits 0 once no login dialog
//                                                 is shown, 4 if one still is
#include <string>

#include "platform/login_dialog_ids.h"
#include "tools/ui_probe/ui_probe.h"

namespace inkseal::probe {
namespace {

constexpr DWORD kSendTimeoutMs = 2000;

bool IsLoginDialog(HWND window) { return ::GetDlgItem(window, IDC_EMAIL_EDIT) != nullptr; }

HWND WaitForLoginDialog(const CommandArguments& arguments, size_t timeoutIndex) {
  return WaitForInksealWindow(IsLoginDialog, TimeoutArgument(arguments, timeoutIndex));
}

std::wstring Hex(unsigned long value) {
  wchar_t text[16];
  ::wsprintfW(text, L"%08lX", value);
  return text;
}

std::wstring Rect(int x, int y, int width, int height) {
  return std::to_wstring(x) + L"," + std::to_wstring(y) + L"," + std::to_wstring(width) + L"," +
         std::to_wstring(height);
}

int FocusedControlId(HWND dialog) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info) || info.hwndFocus == nullptr) {
    return 0;
  }
  return info.hwndFocus == dialog ? 0 : ::GetDlgCtrlID(info.hwndFocus);
}

int ReportCommand(const CommandArguments& arguments) {
  const HWND dialog = WaitForLoginDialog(arguments, 0);
  if (dialog == nullptr) return kExitNoWindow;

  RECT window{};
  ::GetWindowRect(dialog, &window);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;

  std::wstring report = L"window=" + Rect(window.left, window.top, window.right - window.left,
                                          window.bottom - window.top) + L"\n";
  report += L"style=" + Hex(static_cast<unsigned long>(::GetWindowLongW(dialog, GWL_STYLE))) + L"\n";
  report += L"owner=" + std::wstring(::GetWindow(dialog, GW_OWNER) != nullptr ? L"1" : L"0") + L"\n";
  report += L"workarea=" + std::to_wstring(work.left) + L"," + std::to_wstring(work.top) + L"," +
            std::to_wstring(work.right) + L"," + std::to_wstring(work.bottom) + L"\n";
  const int focus = FocusedControlId(dialog);
  report += L"focus=" + std::to_wstring(focus) + L"\n";
  DWORD_PTR selection = 0;
  const HWND focused = focus != 0 ? ::GetDlgItem(dialog, focus) : nullptr;
  if (focused != nullptr && ClassOf(focused) == L"Edit") {
    ::SendMessageTimeoutW(focused, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &selection);
  }
  report += L"selection=" + std::to_wstring(LOWORD(selection)) + L"," + std::to_wstring(HIWORD(selection)) + L"\n";

  std::wstring visible;
  std::wstring controls;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    const int id = ::GetDlgCtrlID(child);
    if (::IsWindowVisible(child)) visible += (visible.empty() ? L"" : L",") + std::to_wstring(id);
    RECT box{};
    ::GetWindowRect(child, &box);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
    controls += L"control=" + std::to_wstring(id) + L" " + ClassOf(child) + L" " +
                Hex(static_cast<unsigned long>(::GetWindowLongW(child, GWL_STYLE))) + L" " +
                Rect(box.left, box.top, box.right - box.left, box.bottom - box.top) + L" " + ControlText(child) +
                L"\n";
  }
  report += L"visible=" + visible + L"\n" + controls;
  WriteOut(report);
  return kExitOk;
}

int TypeCommand(const CommandArguments& arguments) {
  if (arguments.size() < 2) return kExitUsage;
  const HWND dialog = WaitForLoginDialog(arguments, 2);
  if (dialog == nullptr) return kExitNoWindow;
  const HWND edit = ::GetDlgItem(dialog, std::stoi(arguments[0]));
  if (edit == nullptr) return kExitFailed;
  DWORD_PTR result = 0;
  const bool sent = ::SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arguments[1].c_str()),
                                          SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
  return sent && result == TRUE ? kExitOk : kExitFailed;
}

int KeyCommand(const CommandArguments& arguments) {
  if (arguments.size() < 2) return kExitUsage;
  const std::wstring& name = arguments[1];
  const WPARAM key = name == L"return" ? VK_RETURN : name == L"escape" ? VK_ESCAPE : name == L"tab" ? VK_TAB : 0;
  if (key == 0) return kExitUsage;
  const HWND dialog = WaitForLoginDialog(arguments, 2);
  if (dialog == nullptr) return kExitNoWindow;
  const int id = std::stoi(arguments[0]);
  const HWND target = id == 0 ? dialog : ::GetDlgItem(dialog, id);
  if (target == nullptr) return kExitFailed;
  // Posted like the keyboard's own messages, so the dialog's message loop
  // and its keyboard handling meet them as they would a real key.
  const UINT scan = ::MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
  ::PostMessageW(target, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (scan << 16)));
  ::PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(1 | (scan << 16) | (3u << 30)));
  return kExitOk;
}

int PressCommand(const CommandArguments& arguments) {
  if (arguments.empty()) return kExitUsage;
  const HWND dialog = WaitForLoginDialog(arguments, 1);
  if (dialog == nullptr) return kExitNoWindow;
  PressButton(dialog, std::stoi(arguments[0]));
  return kExitOk;
}

int CloseCommand(const CommandArguments& arguments) {
  const HWND dialog = WaitForLoginDialog(arguments, 0);
  if (dialog == nullptr) return kExitNoWindow;
  ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  return kExitOk;
}

int GoneCommand(const CommandArguments& arguments) {
  const HWND dialog = WaitForInksealWindow(IsLoginDialog, 0);
  if (dialog == nullptr) return kExitOk;
  return WaitUntilGone(dialog, TimeoutArgument(arguments, 0)) ? kExitOk : kExitStillOpen;
}

const RegisterProbeCommand kDialog(L"dialog", ReportCommand);
const RegisterProbeCommand kType(L"type", TypeCommand);
const RegisterProbeCommand kKey(L"key", KeyCommand);
const RegisterProbeCommand kPress(L"press", PressCommand);
const RegisterProbeCommand kClose(L"close", CloseCommand);
const RegisterProbeCommand kGone(L"gone", GoneCommand);

}  // namespace
}  // namespace inkseal::probe
