// How the program's arguments are read: the pool's options, and when they
// count at all.
#include "main/CommandLine.h"

#include <gtest/gtest.h>

namespace nemvo {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, PoolOnlyOutsideCGI) {
  struct Line {
    Args args;
    bool underCGI;
    bool pool;
  };
  const Line lines[] = {
      {{}, false, false},
      {{"--fastcgi", "unix:/s"}, false, true},
      {{"--fastcgi=unix:/s"}, false, true},
      {{"--fastcgi", "unix:/s"}, true, false},  // query words under a web server's CGI
      {{"--workers", "2", "--fastcgi", "unix:/s"}, false, false},
      {{"fastcgi"}, false, false},
      {{"--fastcgix"}, false, false},
  };
  for (const Line& line : lines) {
    std::string joined;
    for (const auto& a : line.args) joined += a + " ";
    EXPECT_EQ(WantsFastCGIPool(line.args, line.underCGI), line.pool) << joined << line.underCGI;
  }
}

TEST(CommandLine, PoolOptions) {
  struct Line {
    Args args;
    std::string error;  // empty: accepted
    FastCGIPoolOptions expected = {};
    std::string allowed = {};  // the --allow-remote list as it reads back
  };
  const Line lines[] = {
      {{"--fastcgi", "unix:/run/n.sock"}, "", {.address = "unix:/run/n.sock"}},
      {{"--fastcgi", "127.0.0.1:9000", "--workers", "4", "--max-requests", "1000"},
       "",
       {.address = "127.0.0.1:9000", .workers = 4, .maxRequests = 1000}},
      {{"--fastcgi=0.0.0.0:9000", "--workers=1", "--shutdown-timeout=0", "--allow-remote", "192.0.2.0/24,2001:db8::1"},
       "",
       {.address = "0.0.0.0:9000", .workers = 1, .shutdownSeconds = 0},
       "192.0.2.0/24,2001:db8::1"},
      {{"--fastcgi", "[::]:9000", "--allow-remote=::ffff:192.0.2.9"}, "", {.address = "[::]:9000"}, "192.0.2.9"},
      {{"--fastcgi", "stdin", "--allow-remote", "127.0.0.1"}, "", {.address = "stdin"}, "127.0.0.1"},
      {{"--fastcgi", "0.0.0.0:9000", "--allow-remote"},
       "--allow-remote needs the list of peers to serve, ADDR[/PREFIX],... (the web servers' addresses)"},
      {{"--fastcgi", "0.0.0.0:9000", "--allow-remote", "--workers", "2"},
       "--allow-remote needs the list of peers to serve, ADDR[/PREFIX],... (the web servers' addresses)"},
      {{"--fastcgi", "0.0.0.0:9000", "--allow-remote="},
       "--allow-remote: needs a list of the peers to serve, ADDR[/PREFIX],..."},
      {{"--fastcgi", "0.0.0.0:9000", "--allow-remote", "192.0.2.1/33"}, "--allow-remote: 192.0.2.1/33: the prefix is beyond 32"},
      {{"--fastcgi", "0.0.0.0:9000", "--allow-remote", "web1.example"},
       "--allow-remote: web1.example is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)"},
      {{"--fastcgi", "unix:/s", "--allow-remote", "192.0.2.1"},
       "--allow-remote is for a HOST:PORT address (a unix socket's peers have no address)"},
      {{"--fastcgi", "unix:/a", "--fastcgi", "unix:/b"}, "", {.address = "unix:/b"}},
      {{"--fastcgi", "unix:/s", "--io-timeout", "0"}, "", {.address = "unix:/s", .ioTimeoutSeconds = 0}},
      {{"--fastcgi", "unix:/s", "--io-timeout=86400"}, "", {.address = "unix:/s", .ioTimeoutSeconds = 86400}},
      {{"--fastcgi", "unix:/s", "--io-timeout", "86401"}, "--io-timeout: 86401 is not a number from 0 to 86400"},
      {{"--fastcgi", "unix:/s", "--io-timeout", "-5"}, "--io-timeout: -5 is not a number from 0 to 86400"},
      {{"--fastcgi"}, "--fastcgi needs a value"},
      {{"--fastcgi="}, "--fastcgi needs an address"},
      {{"--workers", "2"}, "--fastcgi ADDRESS is missing"},
      {{"--fastcgi", "unix:/s", "--workers", "0"}, "--workers: 0 is not a number from 1 to 256"},
      {{"--fastcgi", "unix:/s", "--workers", "257"}, "--workers: 257 is not a number from 1 to 256"},
      {{"--fastcgi", "unix:/s", "--workers", "2x"}, "--workers: 2x is not a number from 1 to 256"},
      {{"--fastcgi", "unix:/s", "--workers", "+2"}, "--workers: +2 is not a number from 1 to 256"},
      {{"--fastcgi", "unix:/s", "--max-requests", "-1"}, "--max-requests: -1 is not a number from 0 to 9223372036854775807"},
      {{"--fastcgi", "unix:/s", "--max-requests="}, "--max-requests: no number is not a number from 0 to 9223372036854775807"},
      {{"--fastcgi", "unix:/s", "--workers"}, "--workers needs a value"},
      {{"--fastcgi", "unix:/s", "--allow-remote=yes"},
       "--allow-remote: yes is not an IPv4 or IPv6 address (ADDR[/PREFIX], numeric)"},
      {{"--fastcgi", "unix:/s", "--login-log", "stderr"}, "", {.address = "unix:/s", .ownLoginLog = true}},
      {{"--fastcgi", "unix:/s", "--login-log=server"}, "", {.address = "unix:/s"}},
      {{"--fastcgi", "unix:/s", "--login-log", "journal"}, "--login-log: journal is neither server nor stderr"},
      {{"--fastcgi", "unix:/s", "--login-arithmetic", "library"}, "", {.address = "unix:/s", .loginArithmetic = "library"}},
      {{"--fastcgi", "unix:/s", "--login-arithmetic=libcrypto"}, "", {.address = "unix:/s", .loginArithmetic = "libcrypto"}},
      {{"--fastcgi", "unix:/s", "--login-arithmetic", "off"}, "--login-arithmetic: off is neither library nor libcrypto"},
      {{"--fastcgi", "unix:/s", "--login-log="}, "--login-log: nothing is neither server nor stderr"},
      {{"--fastcgi", "unix:/s", "--workers-min", "0", "--workers-max=4", "--idle-timeout", "30"},
       "",
       {.address = "unix:/s", .workersMin = 0, .workersMax = 4, .idleTimeoutSeconds = 30}},
      {{"--fastcgi", "unix:/s", "--workers-max", "2"}, "", {.address = "unix:/s", .workersMax = 2}},
      {{"--fastcgi", "unix:/s", "--workers-min", "1"}, "--workers-min needs --workers-max"},
      {{"--fastcgi", "unix:/s", "--workers-min", "3", "--workers-max", "2"}, "--workers-min 3 is more than --workers-max 2"},
      {{"--fastcgi", "unix:/s", "--workers", "2", "--workers-max", "4"},
       "--workers (a static pool) goes with neither --workers-min nor --workers-max"},
      {{"--fastcgi", "unix:/s", "--idle-timeout", "0"}, "--idle-timeout: 0 is not a number from 1 to 86400"},
      {{"--fastcgi", "unix:/s", "--request-timeout", "30", "--slow-log-threshold", "5"},
       "",
       {.address = "unix:/s", .requestTimeoutSeconds = 30, .slowLogSeconds = 5}},
      {{"--fastcgi", "unix:/s", "--status-path", "/status", "--ping-path", "/ping"},
       "",
       {.address = "unix:/s", .statusPath = "/status", .pingPath = "/ping"}},
      {{"--fastcgi", "unix:/s", "--status-path", "status"}, "--status-path: status is not a path starting with /"},
      {{"--fastcgi", "unix:/s", "--ping-path", "/p?x"}, "--ping-path: /p?x is not a path starting with /"},
      {{"--fastcgi", "unix:/s", "--status-path=/s", "--ping-path=/s"}, "--status-path and --ping-path name the same path"},
      {{"--fastcgi", "unix:/s", "--access-log", "-", "--log", "/var/log/p.log"},
       "",
       {.address = "unix:/s", .accessLog = "-", .logFile = "/var/log/p.log"}},
      {{"--fastcgi", "unix:/s", "--access-log="}, "--access-log: nothing given"},
      {{"--fastcgi", "unix:/s", "--backlog", "1024"}, "", {.address = "unix:/s", .backlog = 1024}},
      {{"--fastcgi", "unix:/s", "--backlog", "0"}, "--backlog: 0 is not a number from 1 to 65535"},
      {{"--fastcgi", "unix:/s", "--socket-owner", "www-data", "--socket-group=www-data", "--socket-mode", "0600"},
       "",
       {.address = "unix:/s", .socketOwner = "www-data", .socketGroup = "www-data", .socketMode = 0600}},
      {{"--fastcgi", "unix:/s", "--socket-mode", "0668"}, "--socket-mode: 0668 is not an octal mode such as 0660"},
      {{"--fastcgi", "unix:/s", "--socket-mode", "rw"}, "--socket-mode: rw is not an octal mode such as 0660"},
      {{"--fastcgi", "127.0.0.1:9000", "--socket-mode", "0600"},
       "--socket-owner, --socket-group and --socket-mode are for a unix: address"},
      {{"--fastcgi", "unix:/s", "--verbose"}, "unknown argument: --verbose"},
      {{"--fastcgi", "unix:/s", "extra"}, "unknown argument: extra"},
  };
  for (const Line& line : lines) {
    std::string joined;
    for (const auto& a : line.args) joined += a + " ";
    std::string error;
    std::optional<FastCGIPoolOptions> options = ParseFastCGIPoolOptions(line.args, error);
    EXPECT_EQ(error, line.error) << joined;
    ASSERT_EQ(options.has_value(), line.error.empty()) << joined;
    if (!options) continue;
    EXPECT_EQ(options->address, line.expected.address) << joined;
    EXPECT_EQ(options->workers, line.expected.workers) << joined;
    EXPECT_EQ(options->maxRequests, line.expected.maxRequests) << joined;
    EXPECT_EQ(options->allowRemote.Text(), line.allowed) << joined;
    EXPECT_EQ(options->shutdownSeconds, line.expected.shutdownSeconds) << joined;
    EXPECT_EQ(options->ioTimeoutSeconds, line.expected.ioTimeoutSeconds) << joined;
    EXPECT_EQ(options->ownLoginLog, line.expected.ownLoginLog) << joined;
    EXPECT_EQ(options->loginArithmetic, line.expected.loginArithmetic) << joined;
    EXPECT_EQ(options->workersMin, line.expected.workersMin) << joined;
    EXPECT_EQ(options->workersMax, line.expected.workersMax) << joined;
    EXPECT_EQ(options->idleTimeoutSeconds, line.expected.idleTimeoutSeconds) << joined;
    EXPECT_EQ(options->requestTimeoutSeconds, line.expected.requestTimeoutSeconds) << joined;
    EXPECT_EQ(options->slowLogSeconds, line.expected.slowLogSeconds) << joined;
    EXPECT_EQ(options->statusPath, line.expected.statusPath) << joined;
    EXPECT_EQ(options->pingPath, line.expected.pingPath) << joined;
    EXPECT_EQ(options->accessLog, line.expected.accessLog) << joined;
    EXPECT_EQ(options->logFile, line.expected.logFile) << joined;
    EXPECT_EQ(options->backlog, line.expected.backlog) << joined;
    EXPECT_EQ(options->socketOwner, line.expected.socketOwner) << joined;
    EXPECT_EQ(options->socketGroup, line.expected.socketGroup) << joined;
    EXPECT_EQ(options->socketMode, line.expected.socketMode) << joined;
  }
}

}  // namespace
}  // namespace nemvo
