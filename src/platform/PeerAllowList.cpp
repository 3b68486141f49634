#include "platform/PeerAllowList.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace nemvo::platform {

namespace {

constexpr int kMappedBits = 96;  // ::ffff:0:0/96 holds the IPv4 addresses
constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool IsMapped(const TPeerAllowList::Address& address) {
  return std::memcmp(address.data(), kMappedPrefix, sizeof kMappedPrefix) == 0;
}

TPeerAllowList::Address Mapped(const in_addr& v4) {
  TPeerAllowList::Address address{};
  std::memcpy(address.data(), kMappedPrefix, sizeof kMappedPrefix);
  std::memcpy(address.data() + 12, &v4, 4);
  return address;
}

// True when `a` and `b` agree on their first `bits` bits.
bool SamePrefix(const TPeerAllowList::Address& a, const TPeerAllowList::Address& b, int bits) {
  const size_t whole = size_t(bits / 8);
  if (std::memcmp(a.data(), b.data(), whole) != 0) return false;
  if (bits % 8 == 0) return true;
  const uint8_t mask = uint8_t(0xff << (8 - bits % 8));
  return ((a[whole] ^ b[whole]) & mask) == 0;
}

// The address with every bit beyond `bits` cleared.
TPeerAllowList::Address Network(TPeerAllowList::Address address, int bits) {
  for (size_t i = 0; i < address.size(); ++i) {
    const int kept = bits - int(i) * 8;
    if (kept >= 8) continue;
    address[i] &= kept <= 0 ? 0 : uint8_t(0xff << (8 - kept));
  }
  return address;
}

std::string EntryText(const TPeerAllowList::Address& network, int bits) {
  const bool v4 = bits >= kMappedBits && IsMapped(network);
  const int shown = v4 ? bits - kMappedBits : bits;
  std::string text = PeerAddressText(network);
  if (shown != (v4 ? 32 : 128)) text += "/" + std::to_string(shown);
  return text;
}

}  // namespace

std::optional<TPeerAllowList> TPeerAllowList::Parse(std::string_view text, std::string& error) {
  TPeerAllowList list;
  if (text.empty()) {
    error = "needs a list of the peers to serve, ADDR[/PREFIX],...";
    return std::nullopt;
  }
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string entry(text.substr(start, end - start));
    start = end + 1;
    if (entry.empty()) {
      error = "an empty entry in " + std::string(text);
      return std::nullopt;
    }
    if (list.fEntries.size() == kMaxEntries) {
      error = "more than " + std::to_string(kMaxEntries) + " entries";
      return std::nullopt;
    }
    const size_t slash = entry.find('/');
    const std::string host = entry.substr(0, slash);
    Address address{};
    int most = 128;
    in_addr v4;
    in6_addr v6;
    if (host.find(':') == std::string::npos && inet_pton(AF_INET, host.c_str(), &v4) == 1) {
      address = Mapped(v4);
      most = 32;
    } else if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
      std::memcpy(address.data(), &v6, 16);
    } else {
      error = entry + " is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)";
      return std::nullopt;
    }
    int bits = most;
    if (slash != std::string::npos) {
      const std::string prefix = entry.substr(slash + 1);
      if (prefix.empty() || prefix.size() > 3 || prefix.find_first_not_of("0123456789") != std::string::npos) {
        error = entry + ": the prefix is not a number from 0 to " + std::to_string(most);
        return std::nullopt;
      }
      bits = std::stoi(prefix);
      if (bits > most) {
        error = entry + ": the prefix is beyond " + std::to_string(most);
        return std::nullopt;
      }
    }
    const int spaceBits = most == 32 ? bits + kMappedBits : bits;
    const Address network = Network(address, spaceBits);
    // A host's address with a network's prefix is more often a slip than
    // meant: which of the two was meant decides who may log in.
    if (network != address) {
      error = entry + " has bits set beyond its prefix (the network is " + EntryText(network, spaceBits) + ")";
      return std::nullopt;
    }
    list.fEntries.push_back({network, spaceBits});
  }
  return list;
}

bool TPeerAllowList::Admits(const sockaddr* peer) const {
  const std::optional<Address> address = PeerAddress(peer);
  return address && Admits(*address);
}

bool TPeerAllowList::Admits(const Address& address) const {
  for (const Entry& entry : fEntries)
    if (SamePrefix(address, entry.network, entry.bits)) return true;
  return false;
}

std::string TPeerAllowList::Text() const {
  std::string text;
  for (const Entry& entry : fEntries) {
    if (!text.empty()) text += ",";
    text += EntryText(entry.network, entry.bits);
  }
  return text;
}

std::optional<TPeerAllowList::Address> PeerAddress(const sockaddr* peer) {
  if (peer->sa_family == AF_INET) {
    sockaddr_in in;
    std::memcpy(&in, peer, sizeof in);
    return Mapped(in.sin_addr);
  }
  if (peer->sa_family == AF_INET6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, peer, sizeof in6);
    TPeerAllowList::Address address;
    std::memcpy(address.data(), &in6.sin6_addr, 16);
    return address;
  }
  return std::nullopt;
}

std::string PeerAddressText(const TPeerAllowList::Address& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (IsMapped(address))
    inet_ntop(AF_INET, address.data() + 12, text, sizeof text);
  else
    inet_ntop(AF_INET6, address.data(), text, sizeof text);
  return text;
}

}  // namespace nemvo::platform
