#include "platform/process.h"

#include <windows.h>

#include <vector>

namespace inkseal::platform {
namespace {

constexpr DWORD kModulePathCapacity = MAX_PATH;       // 260, enough for most
constexpr DWORD kLongestModulePath = 32768;           // the longest path Windows has

}  // namespace

bool HasOwnModuleHandle() { return ::GetModuleHandleW(nullptr) != nullptr; }

bool GetOwnModuleFileName(std::u16string& path) {
  // A path cut at the buffer's end would name another folder: ask again with
  // more room until the whole path fits.
  for (DWORD capacity = kModulePathCapacity; capacity <= kLongestModulePath; capacity *= 2) {
    std::vector<wchar_t> buffer(capacity);
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), capacity);
    if (length == 0) return false;
    if (length < capacity) {
      path.assign(reinterpret_cast<const char16_t*>(buffer.data()), length);
      return true;
    }
  }
  ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return false;
}

ChildProcess::~ChildProcess() { Close(); }

bool ChildProcess::Start(const std::u16string& application) {
  Close();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(reinterpret_cast<const wchar_t*>(application.c_str()), nullptr, nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info)) {
    return false;
  }
  process_ = info.hProcess;
  thread_ = info.hThread;
  return true;
}

void ChildProcess::Wait() {
  if (process_ != nullptr) ::WaitForSingleObject(process_, INFINITE);
}

bool ChildProcess::GetExitCode(uint32_t& code) {
  DWORD exitCode = 0;
  if (process_ == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!::GetExitCodeProcess(process_, &exitCode)) return false;
  code = exitCode;
  return true;
}

int ChildProcess::TerminatingSignal() const { return 0; }

void ChildProcess::Close() {
  if (thread_ != nullptr) ::CloseHandle(thread_);
  if (process_ != nullptr) ::CloseHandle(process_);
  thread_ = nullptr;
  process_ = nullptr;
}

}  // namespace inkseal::platform
