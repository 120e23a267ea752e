#include "folder_permissions.h"

#include <aclapi.h>

#include <memory>
#include <vector>

namespace setup {
namespace {

struct FileHandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, FileHandleCloser>;

struct FindHandleCloser {
  void operator()(HANDLE handle) const { ::FindClose(handle); }
};
using FindHandle = std::unique_ptr<void, FindHandleCloser>;

using Bytes = std::vector<BYTE>;

Bytes WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  Bytes sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
  sid.resize(size);
  return sid;
}

// The one descriptor every object in the folder gets.  Folders pass their
// entries on to what is created in them later (the programs the installer
// copies in, the vod995.ini it writes); files have nothing to pass on.
class LockedPermissions {
 public:
  LockedPermissions()
      : administrators_(WellKnownSid(WinBuiltinAdministratorsSid)),
        system_(WellKnownSid(WinLocalSystemSid)),
        users_(WellKnownSid(WinBuiltinUsersSid)),
        folderAcl_(Build(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)),
        fileAcl_(Build(0)) {}

  bool ok() const { return !folderAcl_.empty() && !fileAcl_.empty(); }
  PSID owner() { return administrators_.data(); }
  PACL acl(bool folder) { return reinterpret_cast<PACL>(folder ? folderAcl_.data() : fileAcl_.data()); }

 private:
  Bytes Build(DWORD inheritance) const {
    if (administrators_.empty() || system_.empty() || users_.empty()) return {};
    const struct {
      const Bytes& sid;
      DWORD access;
    } entries[] = {
        {administrators_, FILE_ALL_ACCESS},
        {system_, FILE_ALL_ACCESS},
        {users_, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
    };
    DWORD size = sizeof(ACL);
    for (const auto& entry : entries) {
      size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(entry.sid.size());
    }
    Bytes acl(size);
    PACL list = reinterpret_cast<PACL>(acl.data());
    if (!::InitializeAcl(list, size, ACL_REVISION)) return {};
    for (const auto& entry : entries) {
      PSID sid = const_cast<BYTE*>(entry.sid.data());
      if (!::AddAccessAllowedAceEx(list, ACL_REVISION, inheritance, entry.access, sid)) return {};
    }
    return acl;
  }

  Bytes administrators_;
  Bytes system_;
  Bytes users_;
  Bytes folderAcl_;
  Bytes fileAcl_;
};

FolderLockResult Failure(const wchar_t* problem, const std::wstring& path, DWORD error = ERROR_SUCCESS) {
  return {error, problem, path};
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Parents the installer creates get the usual permissions of where they
// stand; only the install folder is ours to close.
bool CreateParents(const std::wstring& folder) {
  const std::wstring::size_type split = folder.find_last_of(L"\\/");
  if (split == std::wstring::npos || split < 3) return true;
  const std::wstring parent = folder.substr(0, split);
  if (Exists(parent)) return true;
  if (!CreateParents(parent)) return false;
  return ::CreateDirectoryW(parent.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

FolderLockResult CreateLocked(const std::wstring& folder, LockedPermissions& permissions) {
  if (!CreateParents(folder)) return Failure(L"could not create a parent of", folder, ::GetLastError());
  SECURITY_DESCRIPTOR descriptor;
  ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&descriptor, TRUE, permissions.acl(true), FALSE);
  ::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
  if (!::CreateDirectoryW(folder.c_str(), &attributes) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return Failure(L"could not create", folder, ::GetLastError());
  }
  return {};
}

// Works on each object through a handle of its own that does not follow
// links: a link or a second name that another user planted in the folder
// would otherwise have SYSTEM rewrite the permissions of whatever it leads
// to.  Such an object stops the installation rather than being skipped,
// since it is not what the package put there.
FolderLockResult LockTree(const std::wstring& path, LockedPermissions& permissions) {
  FileHandle handle(::CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) {
    handle.release();
    return Failure(L"could not open", path, ::GetLastError());
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(handle.get(), &information)) {
    return Failure(L"could not read the attributes of", path, ::GetLastError());
  }
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return Failure(L"found a link or mount point, which the installer does not follow:", path);
  }
  const bool folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!folder && information.nNumberOfLinks > 1) {
    return Failure(L"found a file with a second name elsewhere (a hard link):", path);
  }
  // The folder is closed before its entries are listed, so that nothing
  // can be added behind the listing's back.
  const DWORD error = ::SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                            PROTECTED_DACL_SECURITY_INFORMATION,
                                        permissions.owner(), nullptr, permissions.acl(folder), nullptr);
  if (error != ERROR_SUCCESS) return Failure(L"could not set the permissions of", path, error);
  if (!folder) return {};

  WIN32_FIND_DATAW entry;
  FindHandle listing(::FindFirstFileW((path + L"\\*").c_str(), &entry));
  if (listing.get() == INVALID_HANDLE_VALUE) {
    listing.release();
    return Failure(L"could not list", path, ::GetLastError());
  }
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    FolderLockResult child = LockTree(path + L"\\" + name, permissions);
    if (!child.ok()) return child;
  } while (::FindNextFileW(listing.get(), &entry));
  if (::GetLastError() != ERROR_NO_MORE_FILES) return Failure(L"could not list", path, ::GetLastError());
  return {};
}

}  // namespace

FolderLockResult LockFolder(const std::wstring& given) {
  const std::wstring folder = WithoutTrailingSeparators(given);
  if (folder.empty()) return Failure(L"was given no folder", folder);
  LockedPermissions permissions;
  if (!permissions.ok()) return Failure(L"could not build the permissions for", folder, ::GetLastError());
  if (!Exists(folder)) {
    FolderLockResult created = CreateLocked(folder, permissions);
    if (!created.ok()) return created;
  }
  return LockTree(folder, permissions);
}

}  // namespace setup
