#include "authenticator/token_request.h"

#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "authenticator/reply_texts.h"
#include "authenticator/text_conversions.h"
#include "common/settings.h"
#include "http/win_http_client.h"
#include "json/reader.h"
#include "platform/codepage.h"
#include "text/ascii_case.h"
#include "text/utf.h"

namespace inkseal {
namespace {

constexpr char16_t kEmptyFieldsText[] = u"Incorrect email or password.";
constexpr char16_t kEncodingFailedText[] = u"Exception occurred while encoding data";
constexpr char16_t kExchangeFailedText[] =
    u"Please report to sysadmin the following: Failed to print the document.";
constexpr char16_t kErrorStatus[] = u"error";
constexpr char16_t kTwoFactorWord[] = u"TOTP";

// What one reply says, besides the OAuth values it may carry.
struct ReplyWords {
  std::optional<std::u16string> status;
  std::optional<std::u16string> message;
  std::vector<std::u16string> refusedValues;  // OAuth members that cannot be stored
};

std::u16string EncodeValue(const std::u16string& value) {
  return Utf8ToWide(FormEncode(WideToUtf8(value)));
}

std::u16string RawFormText(const LoginFields& fields) {
  return u"email=" + fields.email + u"&password=" + fields.password + u"&totp=" + fields.code;
}

// The form as single bytes of the ANSI code page; after encoding it is plain
// ASCII, so only the raw fallback text can meet a character the code page lacks.
std::vector<char> AnsiBytes(const std::u16string& text) {
  const int count = static_cast<int>(text.size());
  if (count == 0) return {};
  const int needed = platform::WideToMultiByte(platform::CodePage::Ansi, text.data(), count, nullptr, 0);
  std::vector<char> bytes(static_cast<size_t>(needed > 0 ? needed : 0));
  if (!bytes.empty()) {
    platform::WideToMultiByte(platform::CodePage::Ansi, text.data(), count, bytes.data(), needed);
  }
  return bytes;
}

// A value that would break out of its line in the settings file is not kept.
bool FitsOnOneLine(const std::u16string& value) {
  return value.find_first_of(std::u16string(u"\r\n\0", 3)) == std::u16string::npos;
}

// Where the value of a reply member goes, or null for a member that is no
// OAuth value.
std::optional<std::u16string>* OAuthSlot(const std::u16string& name, OAuthValues& credentials) {
  if (name == u"apitoken") return &credentials.clientKey;
  if (name == u"apisecret") return &credentials.clientSecret;
  if (name == u"accesstoken") return &credentials.tokenKey;
  if (name == u"accesssecret") return &credentials.tokenSecret;
  return nullptr;
}

// Reads the reply's top-level string members into credentials and words.
// Throws the reader's exceptions, and std::runtime_error from the text
// conversions, for a reply that cannot be read.
void ReadReply(const std::u16string& contentText, OAuthValues& credentials, ReplyWords& words) {
  std::istringstream stream(WideToUtf8(contentText));
  json::Object reply;
  json::Reader::Read(reply, stream);

  for (const json::Member& member : reply) {
    std::string valueBytes;
    try {
      valueBytes = member.element.Get<json::String>().Value();
    } catch (const json::Exception&) {
      continue;  // only strings count; any other kind is as good as absent
    }
    const std::u16string name = Utf8ToWide(member.name);
    const std::u16string value = Utf8ToWide(valueBytes);
    if (name == u"status") {
      words.status = value;
      continue;
    }
    if (name == u"message") {
      words.message = value;  // shown as it came, over several lines if so
      continue;
    }
    // The OAuth values go into the settings file, one line each.
    if (std::optional<std::u16string>* slot = OAuthSlot(name, credentials)) {
      if (FitsOnOneLine(value)) {
        *slot = value;
      } else {
        words.refusedValues.push_back(name);
      }
    }
  }
}

void WriteCredentials(const OAuthValues& credentials, const std::u16string& settingsFile) {
  // One write for the set: a pair signed with half-new, half-old values
  // fails at the service.  A failure has been reported by WriteSettings.
  WriteSettings({{kKeyOAuthClientKey, *credentials.clientKey},
                 {kKeyOAuthClientSecret, *credentials.clientSecret},
                 {kKeyOAuthTokenKey, *credentials.tokenKey},
                 {kKeyOAuthTokenSecret, *credentials.tokenSecret}},
                kSettingsSection, settingsFile);
}

bool IsTwoFactorDemand(const ReplyWords& words) {
  if (!words.status || !EqualIgnoringAsciiCase(*words.status, kErrorStatus)) return false;
  std::u16string upper = words.message.value_or(u"");
  for (char16_t& c : upper) c = AsciiUpper(c);
  return upper.find(kTwoFactorWord) != std::u16string::npos;
}

}  // namespace

std::u16string EncodedFormText(const LoginFields& fields) {
  return u"email=" + EncodeValue(fields.email) + u"&password=" + EncodeValue(fields.password) + u"&totp=" +
         EncodeValue(fields.code);
}

std::u16string ShownFormText(const LoginFields& fields, bool encoded) {
  return u"email=" + (encoded ? EncodeValue(fields.email) : fields.email) + u"&password=***&totp=" +
         (fields.code.empty() ? u"" : u"***");
}

std::u16string FormHeaders(size_t byteCount) {
  return u"Content-Length: " + Utf8ToUtf16(std::to_string(byteCount)) +
         u"\r\nContent-Type: application/x-www-form-urlencoded\r\n";
}

LoginOutcome RequestPersonalToken(const LoginFields& fields, const std::u16string& tokenUrl,
                                  const CertificateTrust& trust, const std::u16string& userFolder, OAuthValues& credentials,
                                  Notifier& notifier) {
  if (fields.email.empty() || fields.password.empty()) {
    notifier.ShowInformation(kEmptyFieldsText);
    return LoginOutcome::Failed;
  }

  std::u16string formText;
  bool encoded = true;
  try {
    formText = EncodedFormText(fields);
  } catch (const std::exception&) {
    notifier.ReportLastError(kEncodingFailedText);
    formText = RawFormText(fields);
    encoded = false;
  }

  const std::vector<char> body = AnsiBytes(formText);
  const std::u16string headers = FormHeaders(body.size());
  std::u16string contentText;
  std::u16string headerText;
  {
    WinHttpClient client(tokenUrl, nullptr);
    client.verifyCertificates = trust.verify;
    client.certificateAuthorities = trust.authorityFile;
    client.AttachBody(body.data(), static_cast<uint32_t>(body.size()));
    client.SetExtraHeaders(headers);
    if (!client.Execute(platform::kHttpVerbPost, false)) {
      notifier.ReportHttpError(client.ErrorCode(), client.ProxyTroubleText() + kExchangeFailedText +
                                                       u"\nResponseHeaders: " + ShownHeaderText(client.HeaderText()) +
                                                       u"\nxcdata: " + ShownFormText(fields, encoded) + u"\nheaders: " +
                                                       headers);
      return LoginOutcome::Failed;
    }
    contentText = client.ContentText();
    headerText = client.HeaderText();
  }

  // The reply is the service's (or a proxy's error page); one that cannot be
  // read is a failed attempt, said as such, and the dialog stays open.
  ReplyWords words;
  try {
    ReadReply(contentText, credentials, words);
  } catch (const std::exception& e) {
    notifier.ReportError(UnreadableReplyText(headerText, Utf8ToUtf16(e.what())));
    return LoginOutcome::Failed;
  }

  const std::u16string settingsFile = userFolder + kSettingsFileName;
  if (credentials.Complete()) {
    WriteCredentials(credentials, settingsFile);
    return LoginOutcome::Stored;
  }

  // A value dropped for its line break would otherwise leave the user an
  // empty box, or the service's words without the reason nothing was kept.
  if (!words.refusedValues.empty()) {
    notifier.ReportError(RefusedValuesText(words.refusedValues));
    if (words.message) notifier.ShowInformation(*words.message);
  } else {
    notifier.ShowInformation(words.message.value_or(u""));
  }
  return IsTwoFactorDemand(words) ? LoginOutcome::TwoFactorDemanded : LoginOutcome::Failed;
}

}  // namespace inkseal
