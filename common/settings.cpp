#include "common/settings.h"

#include "common/messages.h"
#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/settings_file.h"

namespace inkseal {

const char16_t kSettingsFileName[] = u"vod995.ini";
const char16_t kSettingsSection[] = u"Parameters";
const char16_t kUserFolderName[] = u"Lumesk";

const char16_t kKeyLumeskUrl[] = u"LumeskURL";
const char16_t kKeyLaunch[] = u"Launch";
const char16_t kKeyCertificateAuthorities[] = u"CertificateAuthorities";
const char16_t kKeyDisableCertificateVerification[] = u"DisableCertificateVerification";
const char16_t kKeyOAuthClientKey[] = u"OAuthClientKey";
const char16_t kKeyOAuthClientSecret[] = u"OAuthClientSecret";
const char16_t kKeyOAuthTokenKey[] = u"OAuthTokenKey";
const char16_t kKeyOAuthTokenSecret[] = u"OAuthTokenSecret";

namespace {

constexpr char16_t kFolderQueryFailed[] = u"Failed to obtain user profile path!";
constexpr char16_t kSubFolderFailed[] = u"Failed to get user profile path!";

// "<folder><sep>Lumesk<sep>"
std::u16string UserSubFolder(const std::u16string& appData) {
  return appData + platform::kPathSeparator + kUserFolderName + platform::kPathSeparator;
}

}  // namespace

std::optional<std::u16string> ReadSetting(const std::u16string& key, const std::u16string& section,
                                          const std::u16string& file) {
  std::u16string value = platform::ReadProfileValue(section, key, file);
  if (value.empty()) return std::nullopt;
  return value;
}

namespace {

void ReportFailedWrite(uint32_t code, const std::u16string& key, const std::u16string& section,
                       const std::u16string& file) {
  ReportErrorCode(code, u"Failed to write.\n"
                        u"\nkey: " + key + u"\nsection: " + section + u"\ninifile: " + file);
}

}  // namespace

int WriteSetting(const std::u16string& key, const std::u16string& value, const std::u16string& section,
                 const std::u16string& file) {
  if (platform::WriteProfileValue(section, key, value, file)) return 1;
  ReportFailedWrite(platform::LastError(), key, section, file);
  return 0;
}

int WriteSettings(const std::vector<std::pair<std::u16string, std::u16string>>& values,
                  const std::u16string& section, const std::u16string& file) {
  size_t failed = 0;
  if (values.empty() || platform::WriteProfileValues(section, values, file, failed)) return 1;
  const uint32_t code = platform::LastError();
  ReportFailedWrite(code, values[failed < values.size() ? failed : 0].first, section, file);
  return 0;
}

bool SetUpUserFolder(std::u16string& userFolder) {
  userFolder.clear();
  std::u16string appData;
  if (!platform::GetAppDataFolder(appData)) {
    // Without a folder there is nothing defined to create a sub-folder in:
    // the settings then go to the bare file name, the same one the uploader
    // falls back to.
    ReportLastError(kFolderQueryFailed);
    return false;
  }
  const std::u16string folder = UserSubFolder(appData);
  if (!platform::CreateDirectoryLevel(folder) && platform::LastError() != platform::kErrorAlreadyExists) {
    ReportLastError(kSubFolderFailed);
    return false;
  }
  userFolder = folder;
  return true;
}

std::u16string UserSettingsPath() {
  std::u16string appData;
  if (!platform::GetAppDataFolder(appData)) {
    ReportLastError(kFolderQueryFailed);
    return kSettingsFileName;
  }
  return UserSubFolder(appData) + kSettingsFileName;
}

}  // namespace inkseal
