// How one run of the uploader ended for the document, as the printer driver
// that started it needs to know: the exit code alone cannot say it (0 also
// ends three failures, 1 also ends a run whose document the service took).
//
// A driver that wants the answer makes a file of kDeliveryRecordBytes that
// holds kNoDeliveryWord and names it in kDeliveryFileVariable; the uploader
// writes its word over it, padded to the same length, and flushes it to
// disk, so a driver that ended in the meantime finds it when it starts
// again, and a full disk cannot keep it from being written.  The word
// left unchanged means the run ended before anything was sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace inkseal {

constexpr char16_t kDeliveryFileVariable[] = u"INKSEAL_DELIVERY_FILE";
// Set (to "1") by a driver that sends the document again on its own after
// it could not reach the service: a run that again cannot reach it ends
// without a box, since the user was told the first time.  Every other
// outcome shows what it always shows.
constexpr char16_t kQuietRetryVariable[] = u"INKSEAL_QUIET_RETRY";
constexpr size_t kDeliveryRecordBytes = 16;
constexpr char kNoDeliveryWord[] = "none";

enum class Delivery {
  kDelivered,    // the service answered and took the document
  kUnreachable,  // nothing reached the service (network, name, connection, service down): safe to send again
  kNotSent,      // the run ended before sending (login cancelled, settings incomplete)
  kUncertain,    // the document may have reached the service, but no usable answer came: do not resend unasked
  kRefused,      // the service answered that it will not take it (credentials, size): the same again fails again
};

// The word padded with blanks and ended by a line break, kDeliveryRecordBytes
// long; for kNoDeliveryWord with none.
std::string DeliveryRecord(std::optional<Delivery> delivery);
// None for kNoDeliveryWord and for anything that is no word.
std::optional<Delivery> ParseDeliveryRecord(std::string_view record);

// After Execute failed with errorCode: only failures that happen before any
// byte of the request can reach the service are unreachable.
Delivery DeliveryAfterFailedExchange(uint32_t errorCode);
// After a reply came, from its raw header block (its status line).
Delivery DeliveryAfterReply(const std::u16string& headerText);

}  // namespace inkseal
