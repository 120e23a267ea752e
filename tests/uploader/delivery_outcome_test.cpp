#include "uploader/delivery_outcome.h"

#include <gtest/gtest.h>

#include "platform/http_transport.h"

namespace inkseal {
namespace {

// A word that says "unreachable" where the service may hold the document
// makes the printer agent send it a second time.
TEST(DeliveryOutcome, OnlyFailuresBeforeAnyByteLeftAreSafeToSendAgain) {
  for (const uint32_t code : {platform::kHttpErrorNameNotResolved, platform::kHttpErrorCannotConnect,
                              platform::kHttpErrorSecureFailure}) {
    EXPECT_EQ(DeliveryAfterFailedExchange(code), Delivery::kUnreachable) << code;
  }
  for (const uint32_t code : {platform::kHttpErrorTimeout, platform::kHttpErrorConnectionError,
                              platform::kHttpErrorInvalidServerResponse, 0u}) {
    EXPECT_EQ(DeliveryAfterFailedExchange(code), Delivery::kUncertain) << code;
  }
  EXPECT_EQ(DeliveryAfterReply(u"HTTP/1.1 201 Created\r\nX-Open-Browser: https://a/b\r\n\r\n"), Delivery::kDelivered);
  // After a redirect the last status line is the answer.
  EXPECT_EQ(DeliveryAfterReply(u"HTTP/1.1 307 Temporary Redirect\r\n\r\nHTTP/1.1 503 Busy\r\n\r\n"),
            Delivery::kUnreachable);
  EXPECT_EQ(DeliveryAfterReply(u"HTTP/1.1 401 Unauthorized\r\n\r\n"), Delivery::kRefused);
  EXPECT_EQ(DeliveryAfterReply(u"HTTP/1.1 500 Internal Server Error\r\n\r\n"), Delivery::kUncertain);
  EXPECT_EQ(DeliveryAfterReply(u"garbage"), Delivery::kUncertain);
}

TEST(DeliveryOutcome, EveryRecordHasTheLengthTheDriverMadeRoomForAndReadsBack) {
  for (const std::optional<Delivery> delivery :
       {std::optional<Delivery>(), std::optional(Delivery::kDelivered), std::optional(Delivery::kUnreachable),
        std::optional(Delivery::kNotSent), std::optional(Delivery::kUncertain), std::optional(Delivery::kRefused)}) {
    const std::string record = DeliveryRecord(delivery);
    EXPECT_EQ(record.size(), kDeliveryRecordBytes) << record;
    EXPECT_EQ(ParseDeliveryRecord(record), delivery) << record;
  }
  EXPECT_EQ(ParseDeliveryRecord("delivered-ish   \n"), std::nullopt);
}

}  // namespace
}  // namespace inkseal
