#include "uploader/delivery_outcome.h"

#include "platform/http_transport.h"

namespace inkseal {
namespace {

constexpr std::string_view kWords[] = {"delivered", "unreachable", "not-sent", "uncertain", "refused"};

// The three-digit status of the last status line, 0 when there is none.
// Redirects leave one block per hop; the last one is the final answer.
uint32_t FinalStatus(const std::u16string& headerText) {
  const size_t line = headerText.rfind(u"HTTP/");
  if (line == std::u16string::npos) return 0;
  const size_t blank = headerText.find(u' ', line);
  if (blank == std::u16string::npos || blank + 4 > headerText.size()) return 0;
  uint32_t status = 0;
  for (size_t i = blank + 1; i < blank + 4; ++i) {
    const char16_t c = headerText[i];
    if (c < u'0' || c > u'9') return 0;
    status = status * 10 + static_cast<uint32_t>(c - u'0');
  }
  return status;
}

}  // namespace

std::string DeliveryRecord(std::optional<Delivery> delivery) {
  std::string record(delivery ? kWords[static_cast<int>(*delivery)] : kNoDeliveryWord);
  record.resize(kDeliveryRecordBytes - 1, ' ');
  return record + "\n";
}

std::optional<Delivery> ParseDeliveryRecord(std::string_view word) {
  while (!word.empty() && (word.back() == '\n' || word.back() == ' ')) word.remove_suffix(1);
  for (int i = 0; i < static_cast<int>(std::size(kWords)); ++i) {
    if (word == kWords[i]) return static_cast<Delivery>(i);
  }
  return std::nullopt;
}

Delivery DeliveryAfterFailedExchange(uint32_t errorCode) {
  switch (errorCode) {
    case platform::kHttpErrorNameNotResolved:
    case platform::kHttpErrorCannotConnect:
    case platform::kHttpErrorSecureFailure:  // the handshake failed: nothing of the request went
    case platform::kHttpErrorAutodetectionFailed:
    case platform::kHttpErrorOutOfHandles:
      return Delivery::kUnreachable;
    case platform::kHttpErrorInvalidUrl:
    case platform::kHttpErrorUnrecognizedScheme:
      return Delivery::kNotSent;  // the settings must change first
    default:
      // A time-out, a broken connection or a garbled answer may come after
      // the whole body arrived.
      return Delivery::kUncertain;
  }
}

Delivery DeliveryAfterReply(const std::u16string& headerText) {
  const uint32_t status = FinalStatus(headerText);
  if (status >= 200 && status < 400) return Delivery::kDelivered;
  // A gateway that could not reach the service, or a service that says it
  // is down, took nothing.
  if (status == 502 || status == 503) return Delivery::kUnreachable;
  // The service looked at the request and said no (credentials, size):
  // nothing is stored, and sending it unchanged would be refused again.
  if (status >= 400 && status < 500) return Delivery::kRefused;
  return Delivery::kUncertain;  // a failure inside the service, after it had the body
}

}  // namespace inkseal
