// Custom actions of the Windows installer for the LumeskURL key in the
// vod995.ini beside the programs.  That file may belong to a printer driver,
// and an administrator may edit the key after installing, so the installer
// cannot simply write its own value and delete the key again on removal
// (Windows Installer's IniFile table does exactly that):
//
// - PrepareUploadAddress (immediate, before anything changes) reads the
//   key as the file holds it now and decides what to write and what to give
//   back on removal;
// - WriteUploadAddress (deferred) writes the address, RollbackUploadAddress
//   puts back what the file held if the installation is rolled back;
// - RestoreUploadAddress (deferred, on removal) gives back the value the key
//   had before the package first wrote it, or removes the key when the
//   package added it.
//
// This library is part of the installer, not of the programs: it runs only
// inside Windows Installer and so calls its API directly.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

#include "installer_session.h"

namespace {

using setup::Log;
using setup::Property;

constexpr wchar_t kSection[] = L"Parameters";
constexpr wchar_t kKey[] = L"LumeskURL";
constexpr wchar_t kFileName[] = L"vod995.ini";
// Separates the file's path from the value in a deferred action's data; a
// path has no line break and the installer refuses an address with one.
constexpr wchar_t kSeparator = L'\n';
constexpr DWORD kLongestValue = 4096;

std::wstring ReadAddress(const std::wstring& file) {
  std::wstring value(kLongestValue, L'\0');
  DWORD length = GetPrivateProfileStringW(kSection, kKey, L"", &value[0], kLongestValue, file.c_str());
  value.resize(length);
  return value;
}

bool FileExists(const std::wstring& file) {
  DWORD attributes = GetFileAttributesW(file.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Writes value into the key, or removes the key for an empty value.  A file
// that already holds the value is not rewritten.
bool PutAddress(const std::wstring& file, const std::wstring& value) {
  if (ReadAddress(file) == value) return true;
  return WritePrivateProfileStringW(kSection, kKey, value.empty() ? nullptr : value.c_str(), file.c_str()) != FALSE;
}

struct DeferredData {
  std::wstring file;
  std::wstring value;
};

DeferredData ReadDeferredData(MSIHANDLE install) {
  std::wstring data = Property(install, L"CustomActionData");
  std::wstring::size_type split = data.find(kSeparator);
  if (split == std::wstring::npos) return {data, {}};
  return {data.substr(0, split), data.substr(split + 1)};
}

}  // namespace

// Immediate, after the folder is known.  The file's value now counts over the
// remembered one: it may be the administrator's own edit.  The remembered
// copy only fills a key that is missing.  The value to give back on removal
// is the one found before the package first wrote the key, kept through
// upgrades.
extern "C" UINT __stdcall PrepareUploadAddress(MSIHANDLE install) {
  const std::wstring file = Property(install, L"INSTALLFOLDER") + kFileName;
  const std::wstring current = ReadAddress(file);
  const std::wstring given = Property(install, L"LUMESKURL");
  const std::wstring remembered = Property(install, L"SAVEDLUMESKURL");

  std::wstring address = given;
  if (address.empty()) address = current.empty() ? remembered : current;
  const std::wstring previous = remembered.empty() ? current : Property(install, L"SAVEDPREVIOUSLUMESKURL");
  if (address.find_first_of(L"\r\n") != std::wstring::npos) {
    Log(install, L"the upload address holds a line break; it would add keys to the file");
    return ERROR_INSTALL_FAILURE;
  }

  MsiSetPropertyW(install, L"INKSEALADDRESS", address.c_str());
  MsiSetPropertyW(install, L"INKSEALPREVIOUS", previous.c_str());
  MsiSetPropertyW(install, L"WriteUploadAddress", (file + kSeparator + address).c_str());
  MsiSetPropertyW(install, L"RollbackUploadAddress", (file + kSeparator + current).c_str());
  MsiSetPropertyW(install, L"RestoreUploadAddress", (file + kSeparator + previous).c_str());
  Log(install, L"upload address " + address + L", value before the package: " +
                   (previous.empty() ? L"none" : previous));
  return ERROR_SUCCESS;
}

extern "C" UINT __stdcall WriteUploadAddress(MSIHANDLE install) {
  DeferredData data = ReadDeferredData(install);
  if (PutAddress(data.file, data.value)) return ERROR_SUCCESS;
  Log(install, L"could not write " + data.file);
  return ERROR_INSTALL_FAILURE;
}

// Rollback and removal: only a file that is still there is changed; one the
// administrator removed stays removed.  A failure is logged but does not stop
// the removal of the programs.
extern "C" UINT __stdcall RestoreUploadAddress(MSIHANDLE install) {
  DeferredData data = ReadDeferredData(install);
  if (FileExists(data.file) && !PutAddress(data.file, data.value)) {
    Log(install, L"could not restore the upload address in " + data.file);
  }
  return ERROR_SUCCESS;
}
