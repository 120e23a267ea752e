#include "authenticator/reply_texts.h"

#include <gtest/gtest.h>

namespace inkseal {
namespace {

TEST(ShownHeaderText, EachCookieValueIsMaskedWholeAndEverythingElseStays) {
  EXPECT_EQ(ShownHeaderText(u"HTTP/1.1 502 Bad Gateway\r\n"
                            u"set-cookie: session=a\"b&c d=e; Path=/; HttpOnly\r\n"
                            u"Set-Cookie:plain\r\n"
                            u"Set-Cookie2: k=v\r\n"
                            u"X-Set-Cookie: visible=1\r\n"
                            u"Set-Cookie: =; Secure\r\n\r\n"),
            u"HTTP/1.1 502 Bad Gateway\r\n"
            u"set-cookie: session=***; Path=/; HttpOnly\r\n"
            u"Set-Cookie:***\r\n"
            u"Set-Cookie2: k=***\r\n"
            u"X-Set-Cookie: visible=1\r\n"
            u"Set-Cookie: =***; Secure\r\n\r\n");
  EXPECT_EQ(ShownHeaderText(u""), u"");
  EXPECT_EQ(ShownHeaderText(u"Set-Cookie: id=last"), u"Set-Cookie: id=***");
}

}  // namespace
}  // namespace inkseal
