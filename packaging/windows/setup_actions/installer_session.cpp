#include "installer_session.h"

#include <msiquery.h>

namespace setup {
namespace {

void Send(MSIHANDLE install, INSTALLMESSAGE kind, const std::wstring& text) {
  PMSIHANDLE record = MsiCreateRecord(0);
  MsiRecordSetStringW(record, 0, (L"Inkseal: " + text).c_str());
  MsiProcessMessage(install, kind, record);
}

}  // namespace

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD length = 0;
  wchar_t probe[1] = L"";
  if (MsiGetPropertyW(install, name, probe, &length) != ERROR_MORE_DATA || length == 0) return {};
  std::wstring value(length + 1, L'\0');
  ++length;
  if (MsiGetPropertyW(install, name, &value[0], &length) != ERROR_SUCCESS) return {};
  value.resize(length);
  return value;
}

void Log(MSIHANDLE install, const std::wstring& text) { Send(install, INSTALLMESSAGE_INFO, text); }

void LogFailure(MSIHANDLE install, const std::wstring& text) {
  Send(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), text);
}

}  // namespace setup
