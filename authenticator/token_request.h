// "Log in": the personal-token request.  The trimmed fields go to the
// service as a form in one HTTPS POST; a JSON reply carrying all four OAuth
// values is stored in the per-user settings file.
#pragma once

#include <optional>
#include <string>

#include "authenticator/notifier.h"
#include "common/certificate_trust.h"

namespace inkseal {

struct LoginFields {
  std::u16string email;
  std::u16string password;
  std::u16string code;
};

// The user's four OAuth values, each absent until a reply carries it.
struct OAuthValues {
  std::optional<std::u16string> clientKey;     // "apitoken"
  std::optional<std::u16string> clientSecret;  // "apisecret"
  std::optional<std::u16string> tokenKey;      // "accesstoken"
  std::optional<std::u16string> tokenSecret;   // "accesssecret"

  bool Complete() const { return clientKey && clientSecret && tokenKey && tokenSecret; }
};

enum class LoginOutcome {
  Stored,             // all four values written: end the dialog with 1
  TwoFactorDemanded,  // the service asks for the code: switch the dialog
  Failed,             // the user has been told why; the dialog stays as it is
};

// One complete attempt with fields already read and trimmed, talking only to
// a server trust allows.  credentials
// keeps the values of earlier replies and receives this reply's; userFolder
// names the settings file (userFolder + "vod995.ini").  Reports every
// failure through notifier and never throws for a bad reply.
LoginOutcome RequestPersonalToken(const LoginFields& fields, const std::u16string& tokenUrl,
                                  const CertificateTrust& trust, const std::u16string& userFolder, OAuthValues& credentials,
                                  Notifier& notifier);

// The form body with every value percent-encoded over its UTF-8 bytes.
std::u16string EncodedFormText(const LoginFields& fields);

// The form as boxes and logs show it: the email as it was sent, the password
// and the two-factor code "***" whatever characters they hold (an empty
// code stays empty, so the text still tells whether one was sent).
std::u16string ShownFormText(const LoginFields& fields, bool encoded);

// The extra request header lines announcing a form body of byteCount bytes.
std::u16string FormHeaders(size_t byteCount);

}  // namespace inkseal
