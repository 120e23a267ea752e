// The uploader's side of the delivery hand-back (uploader/delivery_outcome.h):
// it tells the printer driver, when one asked, how far the document got.
#pragma once

#include <cstdint>
#include <string>

#include "uploader/delivery_outcome.h"

namespace inkseal {

class DeliveryReport {
 public:
  // Reads the file name the driver gave; without one every call is a no-op.
  DeliveryReport();

  // Just before the request goes out: from here on a run that is cut short
  // (killed, crashed) leaves "uncertain", never "nothing sent".
  void Sending() { Write(Delivery::kUncertain); }
  void ExchangeFailed(uint32_t errorCode) { Write(DeliveryAfterFailedExchange(errorCode)); }
  void Answered(const std::u16string& headerText) { Write(DeliveryAfterReply(headerText)); }
  // Whether the run is to end now, without a box: a quiet retry that again
  // could not reach the service.
  bool StillUnreachableOnQuietRetry() const { return quietRetry && last == Delivery::kUnreachable; }

 private:
  // A record that cannot be written changes nothing for the user; the
  // driver then reads the last word that did reach the disk.
  void Write(Delivery delivery);

  std::u16string path;
  bool quietRetry;
  Delivery last = Delivery::kNotSent;
};

}  // namespace inkseal
