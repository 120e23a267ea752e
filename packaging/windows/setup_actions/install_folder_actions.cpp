// The custom action that closes the install folder to all but
// administrators.  INSTALLFOLDER may be set on the command line to any
// folder; one outside Program Files would otherwise keep its parent's
// permissions, under which any signed-in user could edit vod995.ini or
// replace the programs that the other custom actions, running as SYSTEM,
// and every user then trust.  It runs twice, as SYSTEM (deferred, not
// impersonated): before the files are copied, so that they arrive in a
// closed folder, and after, so that they hold the folder's permissions
// whatever way the installer put them there.
#include <windows.h>
#include <msi.h>

#include <string>

#include "folder_permissions.h"
#include "installer_session.h"

extern "C" UINT __stdcall LockInstallFolder(MSIHANDLE install) {
  const std::wstring folder = setup::Property(install, L"CustomActionData");
  const setup::FolderLockResult result = setup::LockFolder(folder);
  if (result.ok()) {
    setup::Log(install, L"only administrators and SYSTEM may change " + folder);
    return ERROR_SUCCESS;
  }
  std::wstring text = L"the install folder " + folder + L" cannot be closed to other users: the installer " +
                      result.problem + L" " + result.path;
  if (result.error != ERROR_SUCCESS) text += L" (error " + std::to_wstring(result.error) + L")";
  setup::LogFailure(install, text + L". The installation stops, since any user could change the programs "
                                    L"and vod995.ini in it.");
  return ERROR_INSTALL_FAILURE;
}
