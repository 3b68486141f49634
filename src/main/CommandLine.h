#pragma once
// How nemvoweb was asked to run: as a CGI program (no arguments that matter),
// or as a FastCGI pool, "--fastcgi ADDRESS [--workers N] [--max-requests M] ...".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/PeerAllowList.h"

namespace nemvo {

struct FastCGIPoolOptions {
  static constexpr int kDefaultIOTimeoutSeconds = 60;

  std::string address;       // "unix:PATH", "HOST:PORT" or "stdin"
  int workers = 0;           // 0: as many as the machine has processors
  int64_t maxRequests = 0;   // per worker before it is replaced; 0: no limit
  // The only peers served (--allow-remote ADDR[/PREFIX],...), on any TCP
  // address; empty: a loopback address only, its peers all served.
  platform::TPeerAllowList allowRemote = {};
  int shutdownSeconds = 30;  // for the requests in flight when asked to end
  // How long a worker waits for the web server to send or to read before it
  // gives the connection up; 0: no bound.
  int ioTimeoutSeconds = kDefaultIOTimeoutSeconds;
  // Where the login log goes (--login-log server|stderr): the web server's
  // error log, through each request's error stream, or the pool's own
  // standard error (the journal, under systemd).
  bool ownLoginLog = false;
  // --login-arithmetic: "library" or "libcrypto" for every worker's logins;
  // empty: the configuration's LoginArithmetic decides (platform/ModularPower.h).
  std::string loginArithmetic = {};
  // A pool that grows on demand (--workers-min/--workers-max): workers kept
  // and most workers; both 0: a static pool of `workers`.
  int workersMin = 0, workersMax = 0;
  int idleTimeoutSeconds = 10;      // an on-demand worker idle this long goes
  int requestTimeoutSeconds = 0;    // 0: no bound on a request's time
  int slowLogSeconds = 0;           // 0: no slow log
  std::string statusPath = {};      // empty: not served
  std::string pingPath = {};
  std::string accessLog = {};       // FILE, "-" (the pool's log) or empty: none
  std::string logFile = {};         // the pool's log; empty: standard error
  int backlog = 511;
  std::string socketOwner = {};     // of a unix socket; empty: the process's
  std::string socketGroup = {};
  unsigned socketMode = 0660;
};

// True when the arguments ask for the FastCGI pool. Never under a web
// server's CGI (GATEWAY_INTERFACE set): there the words of a query string
// can become arguments, and a visitor must not start a server.
bool WantsFastCGIPool(const std::vector<std::string>& args, bool underCGI);

// The pool's options from the arguments after the program name; nullopt with
// a message in `error` for anything unknown, missing or out of range.
std::optional<FastCGIPoolOptions> ParseFastCGIPoolOptions(const std::vector<std::string>& args, std::string& error);

// The usage text for standard error.
std::string FastCGIUsage();

}  // namespace nemvo
