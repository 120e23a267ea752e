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

namespace {

std::u16string AuthorizationWithSignature(const CredentialSet& credentials, const std::u16string& signature) {
  std::u16string value = u"OAuth oauth_signature_method=\"PLAINTEXT\",oauth_consumer_key=\"";
  value += credentials.clientKey.value_or(u"");
  value += u"\",oauth_token=\"";
  value += credentials.tokenKey.value_or(u"");
  value += u"\",oauth_signature=\"";
  value += signature;
  value += u"\"";
  return value;
}

}  // namespace

std::u16string AuthorizationValue(const CredentialSet& credentials) {
  return AuthorizationWithSignature(
      credentials, credentials.clientSecret.value_or(u"") + u"&" + credentials.tokenSecret.value_or(u""));
}

std::u16string ShownAuthorizationValue(const CredentialSet& credentials) {
  return AuthorizationWithSignature(credentials, u"***");
}

}  // namespace inkseal
