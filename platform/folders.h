// Folders: the per-user application-data folder and directory creation.
#pragma once

#include <string>

namespace inkseal::platform {

// '\\' on Windows, '/' on POSIX.
extern const char16_t kPathSeparator;

// The user's roaming application-data folder, created when missing (on
// POSIX $XDG_CONFIG_HOME, else $HOME/.config).  No trailing separator.
// False on failure, with the last error set; the folder is then empty.
bool GetAppDataFolder(std::u16string& folder);

// Creates the last level of path.  False on failure with the last error set;
// a folder that already exists fails with kErrorAlreadyExists.
bool CreateDirectoryLevel(const std::u16string& path);

}  // namespace inkseal::platform
