// The program's own module and child processes.
#pragma once

#include <cstdint>
#include <string>

namespace inkseal::platform {

// Whether the program can name its own module (GetModuleHandleW(NULL)).
bool HasOwnModuleHandle();

// Full path of the running executable.  False with the last error set.
bool GetOwnModuleFileName(std::u16string& path);

// A started child process; its handles are closed when the object ends.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts application with no arguments, the caller's environment and
  // current directory.  False with the last error set.
  bool Start(const std::u16string& application);
  // Waits without a time limit for the child to end.
  void Wait();
  // The child's exit code after Wait.  False with the last error set.
  bool GetExitCode(uint32_t& code);
  // The signal that ended the child, after Wait; 0 when it exited by itself
  // (always on Windows, which has no signals).
  int TerminatingSignal() const;

 private:
  void Close();
#ifdef _WIN32
  void* process_ = nullptr;
  void* thread_ = nullptr;
#else
  int pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
#endif
};

}  // namespace inkseal::platform
