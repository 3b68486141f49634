#pragma once
// The visitor a login comes from, as the web server names it (REMOTE_ADDR),
// reduced to what one visitor controls: an IPv4 address, or the /64 network
// of an IPv6 address (one subscriber's share: a visitor with an IPv6 network
// has its 2^64 addresses to choose from).
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace nemvo {

using TClientKey = std::array<uint8_t, 16>;

// IPv4 addresses as IPv4-mapped IPv6 ("::ffff:a.b.c.d", written either way);
// an IPv6 address (a zone such as "%eth0" ignored) by its first 64 bits.
// nullopt for anything else: an unset or empty variable, a host name, a
// unix socket's path.
std::optional<TClientKey> ClientKey(std::string_view remoteAddr);

}  // namespace nemvo
