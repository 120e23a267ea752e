#include "uploader/upload_texts.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "text/utf.h"

namespace inkseal {

const char16_t kNoModuleHandleText[] = u"Failed to obtain module handle!";
const char16_t kNoModulePathText[] = u"Failed to obtain module path!";
// The same words on every platform: they are what users quote to support.
const char16_t kAuthenticatorNotStartedText[] = u"Failed to start:\nBrantwick.exe";
const char16_t kAuthenticatorExitCodeText[] = u"Failed to get exit code for:\nBrantwick.exe";
const char16_t kNoDocumentText[] = u"Please select a file to upload.";
const char16_t kDocumentNotOpenedText[] = u"Failed to open document\n";
const char16_t kBrowserNotOpenedText[] = u"Could not open the default web browser with URL:\n";
const char16_t kSendExceptionText[] = u"Exception occurred while sending data";
const char16_t kPlainHttpRefusedText[] =
    u"Nothing was sent: the PrinterURL uses plain http, which would carry your credentials unencrypted. "
    u"It must start with https://.";

std::u16string ConfigurationReport(const std::u16string& settingsPath,
                                   const std::optional<std::u16string>& uploadUrl,
                                   const std::u16string& shownAuthorization,
                                   const std::optional<std::u16string>& documentPath,
                                   bool askForCredentials) {
  std::u16string text = u"Please report to sysadmin the following: \nVerify your configuration.\n";
  text += u"\nConfiguration file: " + settingsPath;
  text += u"\nPrinterURL: " + uploadUrl.value_or(u"");
  text += u"\nOAuth: " + shownAuthorization;
  text += u"\nDocument: " + documentPath.value_or(u"");
  if (askForCredentials) text += u"\n\nPlease obtain valid Tessavo credentials.";
  return text;
}

std::u16string AuthenticatorEndText(uint32_t exitCode, int signal) {
  if (signal != 0) return u"Ferrowend: Brantwick was ended by signal " + Utf8ToUtf16(std::to_string(signal));
  return u"Ferrowend: Brantwick ended with exit code " +
         Utf8ToUtf16(std::to_string(static_cast<int32_t>(exitCode)));
}

std::u16string UploadHeaderText(int32_t bodyLength, const std::u16string& authorization) {
  char length[16];
  std::snprintf(length, sizeof length, "%" PRId32, bodyLength);
  return u"Content-Length: " + Utf8ToUtf16(length) + u"\r\nContent-Type: application/pdf\r\n" +
         u"\r\nConnection: keep-alive\r\n" + u"\r\nAuthorization: " + authorization;
}

std::u16string SendFailureText(const std::u16string& documentPath, const std::u16string& uploadUrl,
                               const std::u16string& shownAuthorization) {
  return u"Please report to sysadmin the following: Failed to print the document." +
         (u"\nDocument: " + documentPath) + (u"\nPrinterURL: " + uploadUrl) +
         (u"\nOAuth: " + shownAuthorization);
}

}  // namespace inkseal
