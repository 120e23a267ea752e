#include "platform/user_lock.h"

#include <windows.h>

namespace inkseal::platform {

UserLock::~UserLock() { Release(); }

void UserLock::Release() {
  if (mutex_ == nullptr) return;
  ::ReleaseMutex(mutex_);
  ::CloseHandle(mutex_);
  mutex_ = nullptr;
}

bool UserLock::Acquire(const std::u16string& name, const std::u16string&) {
  // "Local\" is the user's session: another user's programs have their own.
  const std::u16string fullName = u"Local\\" + name;
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(fullName.c_str()));
  if (mutex == nullptr) return false;
  // An abandoned mutex (its holder died) is ours all the same.
  const DWORD waited = ::WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(mutex);
    ::SetLastError(error);
    return false;
  }
  mutex_ = mutex;
  return true;
}

}  // namespace inkseal::platform
