// Closes a folder and everything in it to all but administrators: owned by
// BUILTIN\Administrators; Administrators and SYSTEM may do anything,
// BUILTIN\Users may read and run; nothing is inherited from the folder's
// parent, and nothing a child held of its own stays.
#pragma once

#include <windows.h>

#include <string>

namespace setup {

struct FolderLockResult {
  DWORD error = ERROR_SUCCESS;  // the system's code, when a call failed
  std::wstring problem;         // empty on success
  std::wstring path;            // the object it concerns

  bool ok() const { return problem.empty(); }
};

// Creates the folder (and any missing parent) when it does not exist, the
// folder itself already closed, so that there is no moment in which another
// user could open it for writing.
FolderLockResult LockFolder(const std::wstring& folder);

}  // namespace setup
