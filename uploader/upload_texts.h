// The uploader's fixed message texts and the texts it composes from its
// values.  Absent values add nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace inkseal {

extern const char16_t kNoModuleHandleText[];      // "Failed to obtain module handle!"
extern const char16_t kNoModulePathText[];        // "Failed to obtain module path!"
extern const char16_t kAuthenticatorNotStartedText[];
extern const char16_t kAuthenticatorExitCodeText[];
extern const char16_t kNoDocumentText[];          // "Please select a file to upload."
extern const char16_t kDocumentNotOpenedText[];   // "Failed to open document\n"
extern const char16_t kBrowserNotOpenedText[];
extern const char16_t kSendExceptionText[];       // "Exception occurred while sending data"
// Added to the configuration report when the upload address is plain http
// to another machine.
extern const char16_t kPlainHttpRefusedText[];

// What the user is asked to pass on when the settings or the credentials do
// not allow an upload.  The closing line asks for new credentials.  The
// authorization passed in is the shown one (ShownAuthorizationValue): these
// texts reach boxes and logs.
std::u16string ConfigurationReport(const std::u16string& settingsPath,
                                   const std::optional<std::u16string>& uploadUrl,
                                   const std::u16string& shownAuthorization,
                                   const std::optional<std::u16string>& documentPath,
                                   bool askForCredentials);

// The line standard error gets when the authenticator has ended: its exit
// code (signed, as the messages print codes), or the signal that ended it.
std::u16string AuthenticatorEndText(uint32_t exitCode, int signal);

// The upload request's extra header lines.  The empty lines between them are
// part of the text the service has always received; no line end follows the
// Authorization value.
std::u16string UploadHeaderText(int32_t bodyLength, const std::u16string& authorization);

// The text shown with the HTTP client's error code when the request failed.
std::u16string SendFailureText(const std::u16string& documentPath, const std::u16string& uploadUrl,
                               const std::u16string& shownAuthorization);

}  // namespace inkseal
