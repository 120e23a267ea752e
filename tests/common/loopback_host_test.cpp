#include "common/loopback_host.h"

#include <gtest/gtest.h>

namespace inkseal {
namespace {

TEST(IsLoopbackHost, OnlyHostsOfThisMachine) {
  for (const char16_t* host : {u"localhost", u"LocalHost:8443", u"127.0.0.1", u"127.1.2.3:65535", u"::1", u"[::1]",
                               u"[::1]:4443"}) {
    EXPECT_TRUE(IsLoopbackHost(host)) << std::string(host, host + std::char_traits<char16_t>::length(host));
  }
  for (const char16_t* host : {u"", u"sign.example.com", u"evil.test:443", u"128.0.0.1", u"127.0.0.256",
                               u"127.0.0.1.evil.test", u"localhost.evil.test", u"127.0.0.1:99999", u"127.0.0.1:",
                               u"127.0.0.1@evil.test", u"[::2]", u"10.0.0.1", u"127.0.0", u"user@localhost"}) {
    EXPECT_FALSE(IsLoopbackHost(host)) << std::string(host, host + std::char_traits<char16_t>::length(host));
  }
}

}  // namespace
}  // namespace inkseal
