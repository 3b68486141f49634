// A FastCGI worker's resident memory over many requests: sends COUNT
// requests, one after another, to a pool of one worker and prints the
// worker's resident size (VmRSS) after the first 1,000 and at each tenth of
// the way. The mix: every 10th a right login (100 KiB main page), every
// 500th a wrong one under a user name of its own (few enough that the
// database server's throttle on failing logins stays out of the way), the
// rest malformed (a bad %-escape, a path the program has no action for, a
// body shorter than its declared length, an empty body without a length).
//
//   bench_worker_memory SOCKET WORKER_PID USER PASSWORD COUNT [MIX]
//
// MIX: "mixed" (the default, as above), "right" (right logins only) or
// "malformed" (malformed requests only, no database work), to tell where a
// growth comes from.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "main/FastCGIClient.h"
#include "support/ExpectedPages.h"

namespace {

using nemvo::testing::CGIVars;
using nemvo::testing::FastCGIClient;

long ResidentKiB(const std::string& pid) {
  std::ifstream status("/proc/" + pid + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// One request; false when no well-formed end came.
bool Send(const std::string& socket, const CGIVars& vars, const std::string& body, std::string* out = nullptr) {
  FastCGIClient client(socket);
  client.Begin(vars);
  if (!body.empty()) client.Body(body);
  client.Body("");
  FastCGIClient::Answer answer = client.Read();
  if (out) *out = answer.out;
  return answer.ended;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: %s SOCKET WORKER_PID USER PASSWORD COUNT [mixed|right|malformed]\n", argv[0]);
    return 2;
  }
  const std::string mix = argc == 7 ? argv[6] : "mixed";
  const std::string socket = argv[1], pid = argv[2], user = argv[3], password = argv[4];
  const long count = std::strtol(argv[5], nullptr, 10);
  const std::string right = "u=" + user + "&p=" + password;
  long failures = 0, rightAnswers = 0;
  std::printf("%9s %10s\n", "requests", "VmRSS KiB");
  for (long i = 1; i <= count; ++i) {
    bool ok;
    const bool rightTurn = mix == "right" || (mix == "mixed" && i % 10 == 0);
    const bool wrongTurn = mix == "mixed" && i % 500 == 1;
    if (rightTurn) {
      std::string out;
      ok = Send(socket, nemvo::testing::Request("POST", "/main", right), right, &out);
      if (out.rfind("Status: 200 OK\r\n", 0) == 0 && out.find("<title>Painel</title>") != std::string::npos &&
          out.size() > 90000)
        ++rightAnswers;
    } else if (wrongTurn) {
      const std::string wrong = "u=nemvo_nobody_" + std::to_string(i) + "&p=x";
      ok = Send(socket, nemvo::testing::Request("POST", "/main", wrong), wrong);
    } else {
      switch (i % 4) {
        case 0: ok = Send(socket, nemvo::testing::Request("POST", "/main", "u=%zz&p=x"), "u=%zz&p=x"); break;
        case 1: ok = Send(socket, nemvo::testing::Request("POST", "/other", "u=a&p=b"), "u=a&p=b"); break;
        case 2:
          ok = Send(socket, nemvo::testing::Request("POST", "/main", "u=%zz", {{"CONTENT_LENGTH", "900"}}), "u=%zz");
          break;
        default: ok = Send(socket, nemvo::testing::Request("GET", "/"), ""); break;
      }
    }
    if (!ok) ++failures;
    if (i == 1000 || i % (count / 10 > 0 ? count / 10 : 1) == 0) {
      std::printf("%9ld %10ld\n", i, ResidentKiB(pid));
      std::fflush(stdout);
    }
  }
  std::printf("failed requests: %ld; right logins answered with the main page: %ld\n", failures, rightAnswers);
  return failures == 0 ? 0 : 1;
}
