// UI probe: a console Windows program run beside the program under test
// (under Wine in the tests) that reads and drives its windows.
//
//   ui_probe.exe message [timeout_ms]
//     Waits up to timeout_ms (default 5000) for a message box: a visible
//     top-level window titled "Inkseal" of class "#32770" with a Static text
//     control of ID 65535.  Prints, in UTF-8 with no line-end translation:
//       icon=error|information|unknown\n
//       <the message text, exactly, with nothing after it>
//     then presses OK, waits for the box to close and exits 0.  Exits 3,
//     printing nothing, when no box appeared in time; 4 when the box would
//     not close.
//
//   ui_probe.exe launch <application|-> <command-line-file>
//     Starts application ("-" for none) with the exact command line held in
//     the UTF-8 file, waits for it and exits with its exit code.  Tests use
//     it where the command line itself is under test.  Exits 125 with a note
//     on standard error when the program cannot be started.
//
// Other commands (see ui_probe.h) register themselves from their own files.
#include "tools/ui_probe/ui_probe.h"

#include "tools/ui_probe/icon_kind.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "text/utf.h"

namespace inkseal::probe {
namespace {

constexpr int kMessageTextId = 65535;  // the Static that holds a message box's text
constexpr int kExitNotStarted = 125;
constexpr DWORD kSendTimeoutMs = 2000;

std::map<std::wstring, CommandFunction>& Commands() {
  static std::map<std::wstring, CommandFunction> commands;
  return commands;
}

std::u16string AsU16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

bool IsMessageBox(HWND window) {
  const HWND text = ::GetDlgItem(window, kMessageTextId);
  return text != nullptr && ClassOf(text) == L"Static";
}

// The Static child that shows an icon (SS_ICON), if any.
HWND IconControl(HWND box) {
  HWND found = nullptr;
  ::EnumChildWindows(
      box,
      [](HWND child, LPARAM result) -> BOOL {
        if (ClassOf(child) == L"Static" && (::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
          *reinterpret_cast<HWND*>(result) = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

int MessageCommand(const CommandArguments& arguments) {
  const HWND box = WaitForInksealWindow(IsMessageBox, TimeoutArgument(arguments, 0));
  if (box == nullptr) return kExitNoWindow;
  const std::wstring text = ControlText(::GetDlgItem(box, kMessageTextId));
  WriteOut(std::wstring(L"icon=") + IconKind(IconControl(box)) + L"\n" + text);
  PressButton(box, IDOK);
  return WaitUntilGone(box, kDefaultTimeoutMs) ? kExitOk : kExitStillOpen;
}

int LaunchCommand(const CommandArguments& arguments) {
  if (arguments.size() != 2) return kExitUsage;
  std::ifstream file(arguments[1].c_str(), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::u16string commandLine = Utf8ToUtf16(bytes);
  std::wstring mutableLine(commandLine.begin(), commandLine.end());
  const wchar_t* application = arguments[0] == L"-" ? nullptr : arguments[0].c_str();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(application, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
    std::fprintf(stderr, "launch failed: error %lu\n", ::GetLastError());
    return kExitNotStarted;
  }
  ::WaitForSingleObject(info.hProcess, INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(info.hProcess, &exitCode);
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return static_cast<int>(exitCode);
}

const RegisterProbeCommand kMessage(L"message", MessageCommand);
const RegisterProbeCommand kLaunch(L"launch", LaunchCommand);

}  // namespace

RegisterProbeCommand::RegisterProbeCommand(const wchar_t* name, CommandFunction run) { Commands()[name] = run; }

void WriteOut(const std::wstring& text) {
  const std::string bytes = Utf16ToUtf8(AsU16(text));
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

DWORD TimeoutArgument(const CommandArguments& arguments, size_t index) {
  if (arguments.size() <= index) return kDefaultTimeoutMs;
  return static_cast<DWORD>(std::wcstoul(arguments[index].c_str(), nullptr, 10));
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

std::wstring ControlText(HWND control) {
  if (control == nullptr) return {};
  DWORD_PTR length = 0;
  ::SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length);
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        kSendTimeoutMs, &copied);
  text.resize(copied);
  return text;
}

HWND WaitForInksealWindow(const std::function<bool(HWND)>& accept, DWORD timeoutMs) {
  struct Search {
    const std::function<bool(HWND)>* accept;
    HWND found;
  };
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    Search search{&accept, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
          auto* s = reinterpret_cast<Search*>(data);
          wchar_t title[64] = {};
          ::GetWindowTextW(window, title, 64);
          if (std::wstring(title) == kInksealTitle && ClassOf(window) == kDialogClass &&
              ::IsWindowVisible(window) && (*s->accept)(window)) {
            s->found = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    if (::GetTickCount64() >= deadline) return nullptr;
    ::Sleep(kPollMs);
  }
}

void PressButton(HWND dialog, int controlId) {
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, controlId)));
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (::IsWindow(window) && ::IsWindowVisible(window)) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(kPollMs);
  }
  return true;
}

}  // namespace inkseal::probe

int wmain(int argc, wchar_t** argv) {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  if (argc < 2) return inkseal::probe::kExitUsage;
  const auto& commands = inkseal::probe::Commands();
  const auto command = commands.find(argv[1]);
  if (command == commands.end()) {
    std::fprintf(stderr, "unknown command\n");
    return inkseal::probe::kExitUsage;
  }
  return command->second(inkseal::probe::CommandArguments(argv + 2, argv + argc));
}
