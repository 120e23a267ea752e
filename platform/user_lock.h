// A lock that one process of the current user holds at a time, across
// programs: a named mutex on Windows, an advisory lock on a file on POSIX.
// The system releases it when its holder ends, however it ends.
#pragma once

#include <string>

namespace inkseal::platform {

class UserLock {
 public:
  UserLock() = default;
  ~UserLock();
  UserLock(const UserLock&) = delete;
  UserLock& operator=(const UserLock&) = delete;

  // Waits without a time limit until the lock called name is ours.  On
  // POSIX the lock is the file "." + name + ".lock" in folder (made when
  // missing); Windows names the mutex in the user's session and ignores
  // folder.  False with the last error set when the lock cannot be made.
  bool Acquire(const std::u16string& name, const std::u16string& folder);
  // Gives the lock up before the object ends; nothing when not held.
  void Release();

 private:
#ifdef _WIN32
  void* mutex_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace inkseal::platform
