// Folders: the per-user application-data folder and directory creation.
#pragma once

#include <string>

namespace inkseal::platform {

// '\\' on Windows, '/' on POSIX.
extern const char16_t kPathSeparator;

// True for a path that names one file whatever the current folder: on POSIX
// one that starts at the root, on Windows one from a drive's root (C:\x)
// or a share (\\server\x).  \x and C:x depend on the current drive or
// folder and are not full.
bool IsFullPath(const std::u16string& path);

// The user's roaming application-data folder, created when missing (on
// POSIX $XDG_CONFIG_HOME, else $HOME/.config).  No trailing separator.
// False on failure, with the last error set; the folder is then empty.
bool GetAppDataFolder(std::u16string& folder);

// Creates the last level of path.  False on failure with the last error set;
// a folder that already exists fails with kErrorAlreadyExists.
bool CreateDirectoryLevel(const std::u16string& path);

}  // namespace inkseal::platform
