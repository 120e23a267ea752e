#include "authenticator/notifier.h"

#include "common/messages.h"
#include "platform/message_box.h"

namespace inkseal {

void MessageBoxNotifier::ShowInformation(const std::u16string& text) { inkseal::ShowInformation(text); }

void MessageBoxNotifier::ReportLastError(const std::u16string& text) { inkseal::ReportLastError(text); }

void MessageBoxNotifier::ReportHttpError(uint32_t code, const std::u16string& text) {
  inkseal::ReportHttpError(code, text);
}

void MessageBoxNotifier::ReportError(const std::u16string& text) {
  platform::ShowMessageBox(kMessageTitle, text, platform::MessageIcon::Error);
}

}  // namespace inkseal
