// The two settings files "vod995.ini": the one beside the uploader (owned by
// the PDF printer driver) and the per-user one the authenticator writes.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace inkseal {

extern const char16_t kSettingsFileName[];  // "vod995.ini"
extern const char16_t kSettingsSection[];   // "Parameters"
extern const char16_t kUserFolderName[];    // "Lumesk"

extern const char16_t kKeyLumeskUrl[];          // "LumeskURL"
extern const char16_t kKeyLaunch[];             // "Launch"
// Read from the file beside the programs only, never from the per-user one.
extern const char16_t kKeyCertificateAuthorities[];          // "CertificateAuthorities"
extern const char16_t kKeyDisableCertificateVerification[];  // "DisableCertificateVerification"
extern const char16_t kKeyOAuthClientKey[];     // "OAuthClientKey"
extern const char16_t kKeyOAuthClientSecret[];  // "OAuthClientSecret"
extern const char16_t kKeyOAuthTokenKey[];      // "OAuthTokenKey"
extern const char16_t kKeyOAuthTokenSecret[];   // "OAuthTokenSecret"

// One value, at most 254 characters; absent when the file, section or key is
// missing or the value is empty.  Nothing is reported.
std::optional<std::u16string> ReadSetting(const std::u16string& key, const std::u16string& section,
                                          const std::u16string& file);

// Writes one value.  Greater than zero on success; on failure "Failed to
// write." with the key, section, file and the OS error is shown and the
// failing result returned.
int WriteSetting(const std::u16string& key, const std::u16string& value,
                 const std::u16string& section, const std::u16string& file);

// Writes key/value pairs so that the file holds either all of them or none
// (the old values); the uploader never meets a half-new set.  Greater than
// zero on success; on failure "Failed to write." is shown as WriteSetting
// shows it, for the key that failed (the first key when the file could not
// be replaced), and nothing is changed.
int WriteSettings(const std::vector<std::pair<std::u16string, std::u16string>>& values,
                  const std::u16string& section, const std::u16string& file);

// The authenticator's per-user folder: application-data folder + separator +
// "Lumesk" + separator, created when missing.  Reports its own failures.
// False (folder empty) when the sub-folder can be neither created nor found.
bool SetUpUserFolder(std::u16string& userFolder);

// The uploader's per-user settings path: application-data folder +
// separator + "Lumesk" + separator + "vod995.ini".  When the folder query
// fails it reports "Failed to obtain user profile path!" and the path is the
// bare file name, resolved in the current directory.
std::u16string UserSettingsPath();

}  // namespace inkseal
