// What every custom action needs from the Windows Installer session that
// runs it: its properties (a deferred action sees only CustomActionData) and
// the installation's log.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

namespace setup {

std::wstring Property(MSIHANDLE install, const wchar_t* name);

// A note in the log, prefixed "Inkseal: ".
void Log(MSIHANDLE install, const std::wstring& text);

// The reason an action stops the installation: logged as an error, so that
// it stands in any log, and shown to an administrator who installs with a
// user interface.
void LogFailure(MSIHANDLE install, const std::wstring& text);

}  // namespace setup
