#include "admin/LoginLog.h"

#include <gtest/gtest.h>

#include "admin/ClientAddress.h"

namespace nemvo {
namespace {

TEST(LoginLog, LineIsOneLineOfPrintableFieldsWithoutBlanks) {
  struct Row {
    const char* name;
    TLoginOutcome outcome;
    std::string client, user, path, line;
  };
  const Row rows[] = {
      {"plain", TLoginOutcome::Refused, "203.0.113.9", "admin", "/main",
       "nemvoweb: login refused client=203.0.113.9 user=admin path=/main\n"},
      {"no address, no user", TLoginOutcome::Error, "", "", "/main", "nemvoweb: login error client=- user= path=/main\n"},
      {"a user name that tries to pass for another address", TLoginOutcome::Throttled, "::1",
       "x client=1.2.3.4 user=y", "/main", "nemvoweb: login throttled client=::1 user=x\\x20client=1.2.3.4\\x20user=y path=/main\n"},
      {"line breaks, quotes, backslash, 8-bit", TLoginOutcome::Accepted, "10.0.0.1",
       std::string("a\r\nb\"c'd\\e\xE9\x7f\0", 13), "/MAIN",
       "nemvoweb: login accepted client=10.0.0.1 user=a\\x0d\\x0ab\\x22c\\x27d\\x5ce\\xe9\\x7f\\x00 path=/MAIN\n"},
      {"a long user name is cut at 64 bytes", TLoginOutcome::Refused, "10.0.0.1", std::string(70, 'u') + "tail",
       "/main", "nemvoweb: login refused client=10.0.0.1 user=" + std::string(64, 'u') + " path=/main\n"},
  };
  for (const Row& row : rows) EXPECT_EQ(LoginLogLine(row.outcome, row.client, row.user, row.path), row.line) << row.name;
}

TEST(ClientAddress, OneKeyPerVisitor) {
  auto key = [](const char* text) { return ClientKey(text); };
  // The two spellings of one IPv4 address are one visitor.
  ASSERT_TRUE(key("192.0.2.7"));
  EXPECT_EQ(key("192.0.2.7"), key("::ffff:192.0.2.7"));
  EXPECT_NE(key("192.0.2.7"), key("192.0.2.8"));
  // An IPv6 subscriber has a /64 of its own: one visitor; another /64 is another.
  EXPECT_EQ(key("2001:db8:1:2::1"), key("2001:db8:1:2:ffff:ffff:ffff:ffff"));
  EXPECT_NE(key("2001:db8:1:2::1"), key("2001:db8:1:3::1"));
  EXPECT_EQ(key("fe80::1%eth0"), key("fe80::2"));
  // No address the throttle could count by.
  for (const char* none : {"", "localhost", "unix:/run/x.sock", "192.0.2.7:443", "1.2.3", "::ffff:1.2.3.4.5"})
    EXPECT_FALSE(key(none)) << none;
  EXPECT_FALSE(ClientKey(std::string(1000, '1')));
}

}  // namespace
}  // namespace nemvo
