// The user's four OAuth values and the PLAINTEXT Authorization value signed
// with them.
#pragma once

#include <optional>
#include <string>

namespace inkseal {

struct CredentialSet {
  std::optional<std::u16string> clientKey;
  std::optional<std::u16string> clientSecret;
  std::optional<std::u16string> tokenKey;
  std::optional<std::u16string> tokenSecret;

  bool IsComplete() const { return clientKey && clientSecret && tokenKey && tokenSecret; }
};

// The four values of one settings file.  A key the file lacks is absent, even
// when an earlier file supplied it: the values always come from one file.
CredentialSet ReadCredentials(const std::u16string& settingsPath);

// OAuth 1.0 PLAINTEXT: the values go in unencoded, an absent one leaves its
// slot empty, and the signature is client secret "&" token secret.
std::u16string AuthorizationValue(const CredentialSet& credentials);

// The same value as boxes and logs show it: the signature, which is the two
// secrets whatever characters they hold, is "***"; the keys stay so that
// support can tell which credentials were used.
std::u16string ShownAuthorizationValue(const CredentialSet& credentials);

}  // namespace inkseal
