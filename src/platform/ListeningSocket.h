#pragma once
// Sockets on which a FastCGI host waits for the web server's connections.
#include <cstdint>
#include <string>

namespace nemvo::platform {

// True when `fd` is a socket listening for connections (the way a web
// server that starts FastCGI programs itself hands one over, as standard
// input). One system call: cheap enough for every CGI start.
bool IsListeningSocket(int fd);

// The address that names the listening socket handed over as standard input.
inline constexpr const char* kInheritedAddress = "stdin";

// A listening socket for `address`: "stdin" (the one handed over as standard
// input, so that a pool can serve a service manager's socket), "unix:PATH" (mode 0660; a file left
// there by a server that has gone is replaced, a live server's socket or any
// other file is not) or "HOST:PORT" ("[V6]:PORT" for an IPv6 address), which
// must be a loopback address unless `allowRemote`: FastCGI carries no
// authentication. `allowRemote` says that the peers will be checked against
// a list of addresses (--allow-remote), so the socket must be a TCP one: a
// unix socket, whose peers have no address, is refused then, the one handed
// over as standard input too. The descriptor is close-on-exec; -1 with a
// message in `error` when the socket cannot be had.
struct ListeningSocket {
  int fd = -1;
  // For a unix socket: its file, as created.
  std::string path;
  uint64_t device = 0, inode = 0;
};
ListeningSocket OpenListeningSocket(const std::string& address, bool allowRemote, std::string& error);

// The same, with the listen queue's length and, for "unix:PATH", the socket
// file's owner, group and mode (an owner or group other than the process's
// own needs the privilege to give files away). The file is made with mode
// 0600 and gets its owner, group and mode before anyone may connect.
struct ListenOptions {
  static constexpr int kDefaultBacklog = 511;
  bool allowRemote = false;  // the peers are checked against a list
  int backlog = kDefaultBacklog;  // the kernel caps it at net.core.somaxconn
  std::string owner = {};         // names or numbers; empty: the process's
  std::string group = {};
  unsigned mode = 0660;
};
ListeningSocket OpenListeningSocket(const std::string& address, const ListenOptions& options, std::string& error);

// Closes the socket and removes its file when that is still the one it
// created (a later server may have put its own there).
void CloseListeningSocket(ListeningSocket& socket);

// Makes `fd` non-blocking (shared by every process that holds it).
bool SetNonBlocking(int fd);

}  // namespace nemvo::platform
