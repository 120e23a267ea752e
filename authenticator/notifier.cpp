#include "authenticator/notifier.h"

#include "common/messages.h"

namespace inkseal {

void MessageBoxNotifier::ShowInformation(const std::u16string& text) { inkseal::ShowInformation(text); }

void MessageBoxNotifier::ReportLastError(const std::u16string& text) { inkseal::ReportLastError(text); }

void MessageBoxNotifier::ReportHttpError(uint32_t code, const std::u16string& text) {
  inkseal::ReportHttpError(code, text);
}

void MessageBoxNotifier::ReportError(const std::u16string& text) { inkseal::ShowError(text); }

}  // namespace inkseal
