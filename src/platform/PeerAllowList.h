#pragma once
// The peers a FastCGI pool serves on a TCP socket (--allow-remote
// ADDR[/PREFIX],...): FastCGI has no authentication, so whoever can connect
// could log into the database with any credentials; the list is the whole
// truth about who may.
//
// IPv4 and IPv6 share one space, IPv4 as the kernel shows it on an IPv6
// socket (::ffff:a.b.c.d): an IPv4-mapped peer matches its IPv4 entry, an
// IPv4 peer an entry written as ::ffff:a.b.c.d, and an IPv6 prefix that
// covers ::ffff:0:0/96 (such as ::/0) covers every IPv4 peer as well.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sockaddr;

namespace nemvo::platform {

class TPeerAllowList {
 public:
  using Address = std::array<uint8_t, 16>;
  // Entries beyond this are refused: each accept looks at all of them, and
  // a pool serves a handful of web servers.
  static constexpr size_t kMaxEntries = 1024;

  // "ADDR[/PREFIX],...": numeric addresses (no names: what a name resolves
  // to can change under a running pool), prefixes up to 32 or 128 and no
  // bits set beyond them. nullopt with a message in `error` for anything
  // else, an empty list or an empty entry included.
  static std::optional<TPeerAllowList> Parse(std::string_view text, std::string& error);

  bool Empty() const { return fEntries.empty(); }
  // True when `peer`, an AF_INET or AF_INET6 address, is inside an entry.
  // Any other family has no address to match: false.
  bool Admits(const sockaddr* peer) const;
  bool Admits(const Address& address) const;
  // The entries as Parse reads them, in their shortest form
  // ("192.0.2.0/24,2001:db8::1").
  std::string Text() const;

  bool operator==(const TPeerAllowList&) const = default;

 private:
  struct Entry {
    Address network;
    int bits;  // of the 128
    bool operator==(const Entry&) const = default;
  };
  std::vector<Entry> fEntries;
};

// `peer`'s address in the shared space (IPv4 as ::ffff:a.b.c.d); nullopt for
// a family without one.
std::optional<TPeerAllowList::Address> PeerAddress(const sockaddr* peer);
// An address as a log shows it: IPv4 (mapped ones too) dotted, IPv6 in its
// shortest form.
std::string PeerAddressText(const TPeerAllowList::Address& address);

}  // namespace nemvo::platform
