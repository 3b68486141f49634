// The peers --allow-remote names: what a list admits (IPv4, IPv6, mapped
// IPv4, prefixes on and off byte boundaries), how it reads back, and the
// lists it refuses with the reason.
#include "platform/PeerAllowList.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace nemvo::platform {
namespace {

// `text` as the kernel gives a peer: IPv4 in a sockaddr_in, IPv6 (mapped
// ones too) in a sockaddr_in6.
sockaddr_storage Peer(const std::string& text) {
  sockaddr_storage storage = {};
  if (text.find(':') == std::string::npos) {
    auto* in = reinterpret_cast<sockaddr_in*>(&storage);
    in->sin_family = AF_INET;
    EXPECT_EQ(inet_pton(AF_INET, text.c_str(), &in->sin_addr), 1) << text;
  } else {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    EXPECT_EQ(inet_pton(AF_INET6, text.c_str(), &in6->sin6_addr), 1) << text;
  }
  return storage;
}

TEST(PeerAllowList, AdmitsThePeersInsideItsEntries) {
  struct Line {
    std::string list;
    std::string peer;
    bool admitted;
  };
  const Line lines[] = {
      {"192.0.2.1", "192.0.2.1", true},
      {"192.0.2.1", "192.0.2.2", false},
      {"192.0.2.1", "::ffff:192.0.2.1", true},  // an IPv4 peer on an IPv6 socket
      {"192.0.2.1", "::ffff:192.0.2.2", false},
      {"192.0.2.1", "::192.0.2.1", false},  // IPv4-compatible is not mapped
      {"192.0.2.1", "2001:db8::1", false},
      {"::ffff:192.0.2.1", "192.0.2.1", true},
      {"192.0.2.1/32", "192.0.2.1", true},
      {"0.0.0.0/0", "203.0.113.250", true},
      {"0.0.0.0/0", "::ffff:10.1.2.3", true},
      {"0.0.0.0/0", "2001:db8::1", false},
      {"0.0.0.0/0", "::1", false},
      {"::/0", "2001:db8::1", true},
      {"::/0", "192.0.2.1", true},  // covers ::ffff:0:0/96
      {"192.0.2.128/25", "192.0.2.128", true},
      {"192.0.2.128/25", "192.0.2.255", true},
      {"192.0.2.128/25", "192.0.2.127", false},
      {"10.0.0.0/13", "10.7.255.255", true},
      {"10.0.0.0/13", "10.8.0.0", false},
      {"198.51.100.6/31", "198.51.100.7", true},
      {"198.51.100.6/31", "198.51.100.8", false},
      {"127.0.0.0/8", "127.1.2.3", true},
      {"127.0.0.0/8", "::1", false},
      {"::1", "::1", true},
      {"::1", "127.0.0.1", false},
      {"2001:db8::1", "2001:db8::1", true},
      {"2001:db8::1/128", "2001:db8::2", false},
      {"2001:db8::/32", "2001:db8:ffff:ffff::1", true},
      {"2001:db8::/32", "2001:db9::", false},
      {"2001:db8:0:2::/63", "2001:db8:0:3:ffff::", true},
      {"2001:db8:0:2::/63", "2001:db8:0:4::", false},
      {"2001:db8:0:2::/63", "2001:db8:0:1::", false},
      {"2001:db8::8/125", "2001:db8::f", true},
      {"2001:db8::8/125", "2001:db8::10", false},
      {"::ffff:192.0.2.0/120", "192.0.2.200", true},
      {"::ffff:192.0.2.0/120", "192.0.3.1", false},
      {"192.0.2.1,2001:db8::/64", "2001:db8::abcd", true},
      {"192.0.2.1,2001:db8::/64", "192.0.2.1", true},
      {"192.0.2.1,2001:db8::/64", "192.0.2.9", false},
  };
  for (const Line& line : lines) {
    std::string error;
    const std::optional<TPeerAllowList> list = TPeerAllowList::Parse(line.list, error);
    ASSERT_TRUE(list) << line.list << ": " << error;
    const sockaddr_storage peer = Peer(line.peer);
    EXPECT_EQ(list->Admits(reinterpret_cast<const sockaddr*>(&peer)), line.admitted) << line.list << " " << line.peer;
  }
}

TEST(PeerAllowList, APeerWithoutAnAddressIsNeverAdmitted) {
  std::string error;
  const std::optional<TPeerAllowList> all = TPeerAllowList::Parse("0.0.0.0/0,::/0", error);
  ASSERT_TRUE(all) << error;
  sockaddr_un local = {};
  local.sun_family = AF_UNIX;
  EXPECT_FALSE(all->Admits(reinterpret_cast<const sockaddr*>(&local)));
}

TEST(PeerAllowList, ReadsBackInShortestForm) {
  std::string error;
  const std::optional<TPeerAllowList> list =
      TPeerAllowList::Parse("192.0.2.0/24,::ffff:198.51.100.1,2001:DB8:0:0::/64,0.0.0.0/0,::/0,::ffff:0.0.0.0/96", error);
  ASSERT_TRUE(list) << error;
  EXPECT_EQ(list->Text(), "192.0.2.0/24,198.51.100.1,2001:db8::/64,0.0.0.0/0,::/0,0.0.0.0/0");
}

TEST(PeerAllowList, RefusesWhatIsNoListOfAddresses) {
  struct Line {
    std::string list;
    std::string error;
  };
  const std::string many = [] {
    std::string text = "192.0.2.1";
    for (size_t i = 1; i <= TPeerAllowList::kMaxEntries; ++i) text += ",192.0.2.1";
    return text;
  }();
  const Line lines[] = {
      {"", "needs a list of the peers to serve, ADDR[/PREFIX],..."},
      {"192.0.2.1,,192.0.2.2", "an empty entry in 192.0.2.1,,192.0.2.2"},
      {"192.0.2.1,", "an empty entry in 192.0.2.1,"},
      {",192.0.2.1", "an empty entry in ,192.0.2.1"},
      {"web1.example.com", "web1.example.com is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)"},
      {"localhost", "localhost is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)"},
      {"192.0.2", "192.0.2 is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)"},
      {"192.0.2.256", "192.0.2.256 is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)"},
      {" 192.0.2.1", " 192.0.2.1 is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)"},
      {"[2001:db8::1]", "[2001:db8::1] is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)"},
      {"fe80::1%lo", "fe80::1%lo is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)"},
      {"/24", "/24 is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)"},
      {"192.0.2.1/33", "192.0.2.1/33: the prefix is beyond 32"},
      {"2001:db8::/129", "2001:db8::/129: the prefix is beyond 128"},
      {"::ffff:192.0.2.1/129", "::ffff:192.0.2.1/129: the prefix is beyond 128"},
      {"192.0.2.0/", "192.0.2.0/: the prefix is not a number from 0 to 32"},
      {"192.0.2.0/-1", "192.0.2.0/-1: the prefix is not a number from 0 to 32"},
      {"192.0.2.0/2x", "192.0.2.0/2x: the prefix is not a number from 0 to 32"},
      {"2001:db8::/1000", "2001:db8::/1000: the prefix is not a number from 0 to 128"},
      {"192.0.2.0/24/1", "192.0.2.0/24/1: the prefix is not a number from 0 to 32"},
      {"192.0.2.7/24", "192.0.2.7/24 has bits set beyond its prefix (the network is 192.0.2.0/24)"},
      {"192.0.2.129/25", "192.0.2.129/25 has bits set beyond its prefix (the network is 192.0.2.128/25)"},
      {"10.0.0.1/0", "10.0.0.1/0 has bits set beyond its prefix (the network is 0.0.0.0/0)"},
      {"2001:db8::1/64", "2001:db8::1/64 has bits set beyond its prefix (the network is 2001:db8::/64)"},
      {"::ffff:192.0.2.1/120", "::ffff:192.0.2.1/120 has bits set beyond its prefix (the network is 192.0.2.0/24)"},
      {many, "more than 1024 entries"},
  };
  for (const Line& line : lines) {
    std::string error;
    EXPECT_FALSE(TPeerAllowList::Parse(line.list, error)) << line.list;
    EXPECT_EQ(error, line.error) << line.list.substr(0, 100);
  }
}

}  // namespace
}  // namespace nemvo::platform
