#include "admin/ClientAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace nemvo {

std::optional<TClientKey> ClientKey(std::string_view remoteAddr) {
  // An address is at most 45 characters; anything longer is none.
  if (remoteAddr.empty() || remoteAddr.size() > 64) return std::nullopt;
  std::string text(remoteAddr.substr(0, remoteAddr.find('%')));
  TClientKey key{};
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    key[10] = key[11] = 0xff;
    std::memcpy(key.data() + 12, &v4, 4);
    return key;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return std::nullopt;
  std::memcpy(key.data(), &v6, 16);
  const bool mappedV4 = std::all_of(key.begin(), key.begin() + 10, [](uint8_t b) { return b == 0; }) &&
                        key[10] == 0xff && key[11] == 0xff;
  if (!mappedV4) std::fill(key.begin() + 8, key.end(), 0);
  return key;
}

}  // namespace nemvo
