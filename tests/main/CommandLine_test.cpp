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
  };
  const Line lines[] = {
      {{"--fastcgi", "unix:/run/n.sock"}, "", {.address = "unix:/run/n.sock"}},
      {{"--fastcgi", "127.0.0.1:9000", "--workers", "4", "--max-requests", "1000"},
       "",
       {.address = "127.0.0.1:9000", .workers = 4, .maxRequests = 1000}},
      {{"--fastcgi=127.0.0.1:9000", "--workers=1", "--shutdown-timeout=0", "--allow-remote"},
       "",
       {.address = "127.0.0.1:9000", .workers = 1, .allowRemote = true, .shutdownSeconds = 0}},
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
      {{"--fastcgi", "unix:/s", "--allow-remote=yes"}, "--allow-remote takes no value"},
      {{"--fastcgi", "unix:/s", "--login-log", "stderr"}, "", {.address = "unix:/s", .ownLoginLog = true}},
      {{"--fastcgi", "unix:/s", "--login-log=server"}, "", {.address = "unix:/s"}},
      {{"--fastcgi", "unix:/s", "--login-log", "journal"}, "--login-log: journal is neither server nor stderr"},
      {{"--fastcgi", "unix:/s", "--login-log="}, "--login-log: nothing is neither server nor stderr"},
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
    EXPECT_EQ(options->allowRemote, line.expected.allowRemote) << joined;
    EXPECT_EQ(options->shutdownSeconds, line.expected.shutdownSeconds) << joined;
    EXPECT_EQ(options->ioTimeoutSeconds, line.expected.ioTimeoutSeconds) << joined;
    EXPECT_EQ(options->ownLoginLog, line.expected.ownLoginLog) << joined;
  }
}

}  // namespace
}  // namespace nemvo
