#include "uploader/credentials.h"

#include "common/settings.h"

namespace inkseal {

CredentialSet ReadCredentials(const std::u16string& settingsPath) {
  CredentialSet credentials;
  credentials.clientKey = ReadSetting(kKeyOAuthClientKey, kSettingsSection, settingsPath);
  credentials.clientSecret = ReadSetting(kKeyOAuthClientSecret, kSettingsSection, settingsPath);
  credentials.tokenKey = ReadSetting(kKeyOAuthTokenKey, kSettingsSection, settingsPath);
  credentials.tokenSecret = ReadSetting(kKeyOAuthTokenSecret, kSettingsSection, settingsPath);
  return credentials;
}

std::u16string AuthorizationValue(const CredentialSet& credentials) {
  std::u16string value = u"OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"";
  value += credentials.clientKey.value_or(u"");
  value += u"\",oauth_token=\"";
  value += credentials.tokenKey.value_or(u"");
  value += u"\",oauth_signature=\"";
  value += credentials.clientSecret.value_or(u"");
  value += u"&";
  value += credentials.tokenSecret.value_or(u"");
  value += u"\"";
  return value;
}

}  // namespace inkseal
