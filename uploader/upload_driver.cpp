#include "uploader/upload_driver.h"

#include <cstdint>
#include <optional>

#include "common/certificate_trust.h"
#include "common/messages.h"
#include "common/module_directory.h"
#include "common/settings.h"
#include "http/win_http_client.h"
#include "platform/document_file.h"
#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/standard_error.h"
#include "platform/user_lock.h"
#include "uploader/authenticator_file.h"
#include "uploader/browser_address.h"
#include "uploader/credentials.h"
#include "uploader/delivery_report.h"
#include "uploader/upload_address.h"
#include "uploader/upload_texts.h"

namespace inkseal {
namespace {

class DocumentBody : public RequestBody {
 public:
  explicit DocumentBody(platform::DocumentFile& document) : document(document) {}
  void Rewind() override { document.Rewind(); }
  bool ReadPiece(uint8_t* buffer, size_t capacity, size_t& count) override {
    return document.ReadPiece(buffer, capacity, count);
  }

 private:
  platform::DocumentFile& document;
};

constexpr char16_t kLoginLockName[] = u"Inkseal-Brantwick";

// Waits until no other print of this user runs the authenticator, then
// holds that place.  Without a lock (the folder cannot take the file) the
// run goes on as it would alone: nothing is reported.
void TakeTurnToLogIn(const std::u16string& settingsPath, platform::UserLock& lock) {
  const size_t separator = settingsPath.rfind(platform::kPathSeparator);
  const std::u16string folder =
      separator == std::u16string::npos ? std::u16string() : settingsPath.substr(0, separator + 1);
  if (!folder.empty()) platform::CreateDirectoryLevel(folder);
  lock.Acquire(kLoginLockName, folder);
}

}  // namespace

int RunUploader(const std::u16string& commandLineText) {
  if (!platform::HasOwnModuleHandle()) {
    ReportLastError(kNoModuleHandleText);
    return 1;
  }
  std::u16string moduleFileName;
  if (!platform::GetOwnModuleFileName(moduleFileName)) {
    ReportLastError(kNoModulePathText);
    return 1;
  }
  const std::u16string moduleDirectory =
      ModuleDirectory(moduleFileName, platform::kPathSeparator).value_or(u"");

  // The settings beside the program belong to the printer driver; the
  // credentials may also live there, for machines set up by an administrator.
  const std::u16string moduleSettingsPath = moduleDirectory + kSettingsFileName;
  std::u16string settingsPathInUse = moduleSettingsPath;
  const std::optional<std::u16string> uploadUrl =
      ReadSetting(kKeyLumeskUrl, kSettingsSection, moduleSettingsPath);
  // Only the administrator's file decides which servers are trusted: never
  // one found in the current folder when the program's own is unknown.
  const CertificateTrust trust =
      moduleDirectory.empty() ? CertificateTrust() : ReadCertificateTrust(moduleSettingsPath);
  CredentialSet credentials = ReadCredentials(moduleSettingsPath);
  const std::optional<std::u16string> documentPathAsPassed =
      !commandLineText.empty() ? std::optional<std::u16string>(commandLineText)
                               : ReadSetting(kKeyLaunch, kSettingsSection, moduleSettingsPath);

  if (!credentials.IsComplete()) {
    settingsPathInUse = UserSettingsPath();
    credentials = ReadCredentials(settingsPathInUse);
  }

  // One login per user at a time: a print that finds another one's
  // authenticator running waits for it, then reads what it stored.
  platform::UserLock loginTurn;
  if (!credentials.IsComplete()) {
    TakeTurnToLogIn(settingsPathInUse, loginTurn);
    credentials = ReadCredentials(settingsPathInUse);
  }

  if (!credentials.IsComplete()) {
    platform::ChildProcess authenticator;
    if (!authenticator.Start(moduleDirectory + kAuthenticatorFileName)) {
      ReportLastError(kAuthenticatorNotStartedText);
      return 0;
    }
    authenticator.Wait();
    uint32_t exitCode = 0;
    if (!authenticator.GetExitCode(exitCode)) {
      ReportLastError(kAuthenticatorExitCodeText);
      return 1;
    }
    // The boxes keep their texts; the log that keeps standard error (the
    // printer agent's) learns how the login ended, a signal included.
    platform::WriteStandardErrorLine(AuthenticatorEndText(exitCode, authenticator.TerminatingSignal()));
    if (exitCode != kAuthenticatorStoredCredentials) {
      ShowInformation(ConfigurationReport(settingsPathInUse, uploadUrl,
                                          ShownAuthorizationValue(credentials), documentPathAsPassed,
                                          /*askForCredentials=*/true));
      return 1;
    }
    // Whatever the authenticator stored is used as it is; a value still
    // missing leaves its slot empty and the service decides.
    credentials = ReadCredentials(settingsPathInUse);
  }
  loginTurn.Release();
  const std::u16string authorization = AuthorizationValue(credentials);
  const std::u16string shownAuthorization = ShownAuthorizationValue(credentials);

  if (!documentPathAsPassed) {
    ShowInformation(kNoDocumentText);
    return 1;
  }
  if (!uploadUrl) {
    ShowInformation(ConfigurationReport(settingsPathInUse, uploadUrl, shownAuthorization,
                                        documentPathAsPassed, /*askForCredentials=*/false));
    return 1;
  }
  // PLAINTEXT signatures are the secrets themselves: they go only over TLS,
  // or to this machine.
  if (SendsCredentialsInClear(*uploadUrl)) {
    ShowInformation(ConfigurationReport(settingsPathInUse, uploadUrl, shownAuthorization,
                                        documentPathAsPassed, /*askForCredentials=*/false) +
                    u"\n\n" + kPlainHttpRefusedText);
    return 1;
  }

  // Printer drivers quote paths with blanks; only the quotes go.
  const std::u16string documentPath = platform::TrimCharacters(*documentPathAsPassed, u"\"");
  // Each code is taken before the message text is built: building it may
  // touch the last error (the order of a call's arguments is unspecified).
  if (!platform::ProbeDocument(documentPath)) {
    const uint32_t code = platform::LastError();
    ReportErrorCode(code, kDocumentNotOpenedText + documentPath);
    return 0;
  }
  // A document that vanished or cannot be read whole after the probe is
  // reported the same way: sending an empty or partial body would look like
  // a successful print.
  platform::DocumentFile document;
  if (!document.ReadWhole(documentPath)) {
    const uint32_t code = platform::LastError();
    ReportErrorCode(code, kDocumentNotOpenedText + documentPath);
    return 0;
  }
  const auto bodyLength = static_cast<int32_t>(document.Size());  // under 2 GiB, checked by the read
  DocumentBody body(document);

  // Outside the try block, the client and the COM scope end only after the
  // handler has read the last error, which their clean-up would replace.
  std::optional<WinHttpClient> clientSlot;
  std::optional<platform::ComScope> comSlot;
  // What the printer driver learns about the document, besides the exit code.
  DeliveryReport delivery;
  try {
    WinHttpClient& client = clientSlot.emplace(*uploadUrl, nullptr);
    client.verifyCertificates = trust.verify;
    client.certificateAuthorities = trust.authorityFile;
    // Sent as it is read again, piece by piece, each piece held to what
    // was read: memory stays the same whatever the document's size.
    client.AttachBody(body);
    client.SetExtraHeaders(UploadHeaderText(bodyLength, authorization));
    delivery.Sending();
    if (!client.Execute(platform::kHttpVerbPut, /*stopAtRedirect=*/false)) {
      delivery.ExchangeFailed(client.ErrorCode());
      if (delivery.StillUnreachableOnQuietRetry()) return 1;
      ReportHttpError(client.ErrorCode(),
                      client.ProxyTroubleText() + SendFailureText(documentPath, *uploadUrl, shownAuthorization));
      return 1;
    }
    delivery.Answered(client.HeaderText());
    if (delivery.StillUnreachableOnQuietRetry()) return 1;
    const std::u16string browserUrl = client.BrowserUrl();
    // Anything but a web page is refused before the shell sees it: the
    // shell would run a program or open a file named by the reply.  What it
    // gets is printable ASCII.
    const std::optional<std::u16string> page = BrowserAddress(browserUrl);
    if (!page) {
      ReportErrorCode(platform::kErrorInvalidParameter, kBrowserNotOpenedText + browserUrl);
      return 1;
    }

    comSlot.emplace();
    if (!platform::ShellOpen(*page)) {
      const uint32_t code = platform::LastError();
      ReportErrorCode(code, kBrowserNotOpenedText + *page);
      return 1;
    }
    return 0;
  } catch (...) {
    ReportLastError(kSendExceptionText);
    return 0;
  }
}

}  // namespace inkseal
