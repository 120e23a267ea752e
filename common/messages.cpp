#include "common/messages.h"

#include <string>

#include "common/message_text.h"
#include "platform/error_text.h"
#include "platform/last_error.h"
#include "platform/message_box.h"

namespace inkseal {

const char16_t kMessageTitle[] = u"Inkseal";

namespace {

constexpr char16_t kErrorCodeLead[] = u"\nError code: ";

// Every box goes through here.  Its text asks to be passed on to a sysadmin,
// and without a display it lands in logs: whoever composes a text that holds
// a secret puts it in masked (ShownAuthorizationValue, the login's shown
// form), because only the composer knows where each secret begins and ends.
std::u16string Show(const std::u16string& text, platform::MessageIcon icon, bool returnInstead) {
  if (returnInstead) return text;
  platform::ShowMessageBox(kMessageTitle, text, icon);
  return {};
}

std::u16string SignedDecimal(uint32_t code) {
  const std::string digits = std::to_string(static_cast<int32_t>(code));
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string LastErrorText(const std::u16string& text, const std::u16string& description) {
  std::u16string message = text;
  if (!platform::IsEmptyText(message)) message += u"\n";
  return message + description;
}

std::u16string ErrorCodeText(uint32_t code, const std::u16string& description, const std::u16string& text) {
  return kErrorCodeLead + SignedDecimal(code) + u"\n" + description + u"\n" + text;
}

std::u16string ReportLastError(const std::u16string& text, bool returnInstead) {
  // First of all: anything called below may overwrite the error being reported.
  const uint32_t code = platform::LastError();
  return Show(LastErrorText(text, platform::SystemErrorText(code)), platform::MessageIcon::Error, returnInstead);
}

std::u16string ShowInformation(const std::u16string& text, bool returnInstead) {
  return Show(text, platform::MessageIcon::Information, returnInstead);
}

void ShowError(const std::u16string& text) { Show(text, platform::MessageIcon::Error, false); }

void ReportErrorCode(uint32_t code, const std::u16string& text) {
  Show(ErrorCodeText(code, platform::SystemErrorText(code), text), platform::MessageIcon::Error, false);
}

std::u16string ReportHttpError(uint32_t code, const std::u16string& text, bool returnInstead) {
  return Show(ErrorCodeText(code, platform::HttpErrorText(code), text), platform::MessageIcon::Error,
              returnInstead);
}

}  // namespace inkseal
