#include "uploader/delivery_report.h"

#include "platform/durable_file.h"
#include "platform/environment.h"
#include "platform/last_error.h"

namespace inkseal {

DeliveryReport::DeliveryReport()
    : path(platform::EnvironmentVariable(kDeliveryFileVariable)),
      quietRetry(platform::EnvironmentVariable(kQuietRetryVariable) == u"1") {}

void DeliveryReport::Write(Delivery delivery) {
  last = delivery;
  if (path.empty()) return;
  // Later steps read the last error for their messages.
  const uint32_t error = platform::LastError();
  platform::OverwriteFileStart(path, DeliveryRecord(delivery));
  platform::SetLastError(error);
}

}  // namespace inkseal
