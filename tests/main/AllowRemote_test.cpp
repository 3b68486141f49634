// --allow-remote through the program: a pool serves the peers its list names
// and closes every other connection unanswered, before reading it, logging
// each refused address once however often it comes. In a network namespace
// of the test's own, with addresses of the documentation ranges on its
// loopback interface, so that nothing the test starts listens on the
// machine's network; the namespace goes with the test's thread and the
// processes it started.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "main/FastCGIClient.h"
#include "main/FastCGIPool.h"
#include "support/ChildProcess.h"

namespace nemvo::testing {
namespace {

const std::string kProgram = NEMVO_WEB_PROGRAM;

const std::vector<std::string> kAddresses = {"192.0.2.1", "192.0.2.2", "192.0.2.3", "2001:db8::1", "2001:db8::2"};

// Runs `body` on a thread that has a network namespace of its own, holding
// kAddresses and 127.0.0.1 on its loopback interface; the processes the
// thread starts are in it too. The kernel removes the namespace once the
// thread and they have ended, whatever the test's outcome.
void InOwnNetwork(const std::function<void()>& body) {
  std::thread([&body] {
    if (unshare(CLONE_NEWNET) != 0) {
      ADD_FAILURE() << "this machine refuses the test a network namespace of its own (unshare: "
                    << std::strerror(errno)
                    << "): the test needs one (root, or CAP_SYS_ADMIN, as on CI) and cannot run here";
      return;
    }
    std::vector<std::vector<std::string>> setUp = {{"link", "set", "lo", "up"}};
    for (const std::string& address : kAddresses) {
      if (address.find(':') == std::string::npos)
        setUp.push_back({"addr", "add", address + "/32", "dev", "lo"});
      else  // usable at once, without duplicate address detection
        setUp.push_back({"-6", "addr", "add", address + "/128", "dev", "lo", "nodad"});
    }
    for (const auto& args : setUp) {
      TChildProcess ip("ip", args);
      const int status = ip.Finish();
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string command = "ip";
        for (const auto& a : args) command += " " + a;
        ADD_FAILURE() << command << " failed in the test's network namespace: " << ip.Result().err;
        return;
      }
    }
    // Off the test's own thread an exception would end the whole program.
    try {
      body();
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }).join();
}

// A connection from `source` (bound before the connect) to `target`:`port`;
// -1 when there is none.
int ConnectFrom(const std::string& source, const std::string& target, int port) {
  const bool v6 = source.find(':') != std::string::npos;
  const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_storage from = {}, to = {};
  socklen_t length;
  if (v6) {
    auto& f = reinterpret_cast<sockaddr_in6&>(from);
    auto& t = reinterpret_cast<sockaddr_in6&>(to);
    f.sin6_family = t.sin6_family = AF_INET6;
    inet_pton(AF_INET6, source.c_str(), &f.sin6_addr);
    inet_pton(AF_INET6, target.c_str(), &t.sin6_addr);
    t.sin6_port = htons(uint16_t(port));
    length = sizeof(sockaddr_in6);
  } else {
    auto& f = reinterpret_cast<sockaddr_in&>(from);
    auto& t = reinterpret_cast<sockaddr_in&>(to);
    f.sin_family = t.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &f.sin_addr);
    inet_pton(AF_INET, target.c_str(), &t.sin_addr);
    t.sin_port = htons(uint16_t(port));
    length = sizeof(sockaddr_in);
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), length) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), length) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

struct Exchange {
  bool connected = false;
  std::string answer;  // every byte the pool sent
  bool ended = false;  // the pool closed the connection (not the time limit)
};

// A request for the pool's ping path from `source`, and everything the pool
// sends back until it closes the connection.
Exchange Ping(const std::string& source, const std::string& target, int port) {
  Exchange exchange;
  const int fd = ConnectFrom(source, target, port);
  if (fd < 0) return exchange;
  exchange.connected = true;
  const char begin[8] = {0, char(FastCGIClient::kResponder), 0, 0, 0, 0, 0, 0};
  const std::string request =
      FastCGIClient::RecordBytes(FastCGIClient::kBeginRequest, 1, std::string(begin, 8)) +
      FastCGIClient::RecordBytes(FastCGIClient::kParams, 1,
                                 FastCGIClient::Pairs({{"SCRIPT_NAME", "/ping"}, {"REQUEST_METHOD", "GET"}})) +
      FastCGIClient::RecordBytes(FastCGIClient::kParams, 1, "") + FastCGIClient::RecordBytes(FastCGIClient::kStdin, 1, "");
  // A refused connection may be closed before all of it has gone.
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20) * (UnderValgrind() ? ValgrindSlowdown : 1);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) break;
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      exchange.ended = true;
      break;
    }
    exchange.answer.append(buffer, size_t(n));
  }
  close(fd);
  return exchange;
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(AllowRemote, ListedPeersServedOthersClosedUnansweredAndLoggedOnce) {
  struct Line {
    std::string name;
    std::string listen;  // the pool's address
    std::string allow;   // its --allow-remote
    std::vector<std::string> served, refused;  // peers' source addresses
  };
  const Line lines[] = {
      {"IPv4 off the loopback network", "192.0.2.1:9000", "192.0.2.2", {"192.0.2.2"}, {"192.0.2.3", "192.0.2.1"}},
      {"IPv6 and mapped IPv4 on one socket",
       "[::]:9000",
       "192.0.2.2/31,2001:db8::2",
       {"192.0.2.3", "2001:db8::2"},
       {"192.0.2.1", "2001:db8::1"}},
      // With a list, a loopback peer is served only when listed, also on a
      // loopback address.
      {"a loopback address", "127.0.0.1:9000", "192.0.2.2", {"192.0.2.2"}, {"127.0.0.1"}},
  };
  InOwnNetwork([&lines] {
    for (const Line& line : lines) {
      SCOPED_TRACE(line.name);
      const std::string host = line.listen.substr(0, line.listen.rfind(':'));
      const auto target = [&host](const std::string& source) {
        if (host != "[::]") return host;
        return std::string(source.find(':') == std::string::npos ? "192.0.2.1" : "2001:db8::1");
      };
      // Two workers: a refusal's record is the pool's, not a worker's.
      FastCGIPool pool(kProgram, {.workers = 2,
                                  .address = line.listen,
                                  .extraArgs = {"--allow-remote", line.allow, "--ping-path", "/ping"}});
      for (const std::string& source : line.served) {
        const Exchange exchange = Ping(source, target(source), 9000);
        EXPECT_TRUE(exchange.connected) << source;
        EXPECT_NE(exchange.answer.find("pong"), std::string::npos) << source << "\n" << pool.Log();
      }
      for (const std::string& source : line.refused) {
        for (int attempt = 0; attempt < 3; ++attempt) {
          const Exchange exchange = Ping(source, target(source), 9000);
          EXPECT_TRUE(exchange.connected) << source;
          EXPECT_TRUE(exchange.ended) << source << ": the connection was held open";
          EXPECT_EQ(exchange.answer, "") << source;
        }
        EXPECT_EQ(Occurrences(pool.Log(), "refused a FastCGI connection from " + source + " (not in --allow-remote)"), 1u)
            << pool.Log();
      }
      for (const std::string& source : line.served)
        EXPECT_EQ(pool.Log().find("from " + source + " "), std::string::npos) << pool.Log();
      EXPECT_EQ(pool.Stop(std::chrono::seconds(30)), 0) << pool.Log();
    }
  });
}

}  // namespace
}  // namespace nemvo::testing
