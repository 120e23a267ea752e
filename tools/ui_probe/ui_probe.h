// Shared parts of the UI probe, so that further commands (for example the
// login dialog's) can live in source files of their own.  A command is a
// function from its arguments to the probe's exit code; it registers itself
// with a static RegisterProbeCommand object.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace inkseal::probe {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoWindow = 3;
constexpr int kExitStillOpen = 4;

constexpr wchar_t kInksealTitle[] = L"Inkseal";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr DWORD kDefaultTimeoutMs = 5000;
constexpr DWORD kPollMs = 50;

using CommandArguments = std::vector<std::wstring>;
using CommandFunction = int (*)(const CommandArguments& arguments);

struct RegisterProbeCommand {
  RegisterProbeCommand(const wchar_t* name, CommandFunction run);
};

// Writes text to standard output as UTF-8, byte for byte.
void WriteOut(const std::wstring& text);

// The first argument as a time-out in milliseconds, or the default.
DWORD TimeoutArgument(const CommandArguments& arguments, size_t index);

// Waits up to timeoutMs for a visible top-level window titled "Inkseal" of
// the dialog class that passes accept; null when none came.
HWND WaitForInksealWindow(const std::function<bool(HWND)>& accept, DWORD timeoutMs);

// A control's text, asked across processes (GetWindowText would not).
std::wstring ControlText(HWND control);
std::wstring ClassOf(HWND window);

// Presses a button by posting its command to the dialog.
void PressButton(HWND dialog, int controlId);

// Waits up to timeoutMs for window to be gone.
bool WaitUntilGone(HWND window, DWORD timeoutMs);

}  // namespace inkseal::probe
