// The FastCGI worker against clients no web server would be: peers that drip
// their bytes, keep connections idle, send a request right behind another,
// ask for the application's values, take it for an authorizer, pad their
// records, send parameters without end, trickle after the answer, and a pool
// asked to end with connections waiting. Each case is what a hostile or
// merely unusual peer could do to a pool of real workers.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "main/FastCGIClient.h"
#include "main/FastCGIPool.h"
#include "main/ProgramCases.h"
#include "support/ProgramConfig.h"

namespace nemvo::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Client = FastCGIClient;

const std::string kProgram = NEMVO_WEB_PROGRAM;
const std::string kBody = "u=a&p=b";

std::chrono::milliseconds Scaled(std::chrono::milliseconds t) { return t * (UnderValgrind() ? ValgrindSlowdown : 1); }

std::chrono::milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// A whole login: head, body, the body's end.
bool SendLogin(Client& client, bool keep = false, uint16_t id = 1) {
  return client.Begin(Request("POST", "/main", kBody), keep, id) && client.Body(kBody, id) && client.Body("", id);
}

void ExpectLoginAnswered(const Client::Answer& answer, const std::string& what) {
  EXPECT_TRUE(answer.ended) << what;
  EXPECT_EQ(answer.protocolStatus, Client::kRequestComplete) << what;
  // The page is long: a wrong answer shows its start.
  EXPECT_TRUE(answer.out == kNoDatabase) << what << ": " << answer.out.substr(0, 80);
}

// Reads and drops what comes until the worker closes the connection: how
// long that took, or nothing within `limit`.
std::optional<std::chrono::milliseconds> TimeUntilClosed(Client& client, std::chrono::milliseconds limit) {
  const auto start = Clock::now();
  while (Since(start) < limit) {
    pollfd p{client.Fd(), POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buffer[4096];
    if (recv(client.Fd(), buffer, sizeof buffer, 0) <= 0) return Since(start);
  }
  return std::nullopt;
}

// Sends `bytes` one at a time, `gap` apart, until the worker has closed the
// connection (a send fails: a worker that only shut its sending side still
// holds it) or `limit` has passed: how long the worker took to close it, or
// nothing. `bytes` must last longer than `limit`.
std::optional<std::chrono::milliseconds> Drip(Client& client, const std::string& bytes,
                                              std::chrono::milliseconds gap, std::chrono::milliseconds limit) {
  const auto start = Clock::now();
  for (size_t i = 0; i < bytes.size() && Since(start) < limit; ++i) {
    if (!client.SendBytes(bytes.substr(i, 1))) return Since(start);
    std::this_thread::sleep_for(gap);
  }
  return std::nullopt;
}

// The name-value pairs of a record's content (lengths under 128).
std::map<std::string, std::string> DecodePairs(const std::string& content) {
  std::map<std::string, std::string> pairs;
  for (size_t at = 0; at + 2 <= content.size();) {
    const size_t n = static_cast<unsigned char>(content[at]), v = static_cast<unsigned char>(content[at + 1]);
    pairs[content.substr(at + 2, n)] = content.substr(at + 2 + n, v);
    at += 2 + n + v;
  }
  return pairs;
}

// The worker's peak resident size so far, in KiB.
long PeakResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Asked to end, the pool ends, and every worker with status 0 (under
// valgrind: without memory errors or lost blocks).
void ExpectCleanEnd(FastCGIPool& pool) {
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
  EXPECT_FALSE(std::regex_search(pool.Log(), std::regex("exited with status [1-9]|killed"))) << pool.Log();
}

class FastCGIProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    NEMVO_REQUIRE_WRITABLE_CONFIG();
    ProgramConfig::WriteSection("DBSuporte=\n");
  }
};

// Two peers dripping a byte at a time, one from its first byte, one in its
// body, against a pool of two: the first holds no worker at all while its
// head comes, the second one for the I/O bound and no longer, and a normal
// request is answered at once. (Each gap below the bound used to hold a
// worker for as long as the peer went on.)
TEST_F(FastCGIProtocol, DrippingPeersHoldNothingBeyondTheBound) {
  constexpr int kBoundSeconds = 2;
  FastCGIPool pool(kProgram, {.workers = 2, .ioTimeoutSeconds = kBoundSeconds});
  const std::string body = "u=a&p=" + std::string(200, 'b');
  const CGIVars vars = Request("POST", "/main", body);
  const std::string head = Client::RecordBytes(Client::kBeginRequest, 1, std::string("\0\1\0\0\0\0\0\0", 8)) +
                           Client::RecordBytes(Client::kParams, 1, Client::Pairs(vars)) +
                           Client::RecordBytes(Client::kParams, 1, "");
  const std::string bodyRecords =
      Client::RecordBytes(Client::kStdin, 1, body) + Client::RecordBytes(Client::kStdin, 1, "");
  struct Dripper {
    const char* name;
    std::string atOnce, dripped;
  };
  const Dripper drippers[] = {{"dripping its head", "", head + bodyRecords}, {"dripping its body", head, bodyRecords}};
  const auto limit = Scaled(10s);
  std::vector<std::optional<std::chrono::milliseconds>> closedAfter(std::size(drippers));
  std::vector<std::thread> threads;
  for (size_t i = 0; i < std::size(drippers); ++i)
    threads.emplace_back([&, i] {
      Client client(pool.ConnectTarget());
      client.SendBytes(drippers[i].atOnce);
      closedAfter[i] = Drip(client, drippers[i].dripped, 250ms, limit);
    });
  std::this_thread::sleep_for(500ms);
  const auto start = Clock::now();
  Client normal(pool.ConnectTarget());
  SendLogin(normal);
  ExpectLoginAnswered(normal.Read(limit + 5s), "the normal request");
  const auto answeredAfter = Since(start);
  for (auto& t : threads) t.join();
  EXPECT_LT(answeredAfter, Scaled(1500ms)) << "the normal request waited for the drippers";
  for (size_t i = 0; i < std::size(drippers); ++i) {
    ASSERT_TRUE(closedAfter[i].has_value()) << drippers[i].name << ": still open after " << limit.count() << " ms";
    EXPECT_LT(*closedAfter[i], Scaled(std::chrono::seconds(kBoundSeconds) + 1500ms)) << drippers[i].name;
  }
  ExpectCleanEnd(pool);
}

// A worker holds a kept connection while it serves a new one, and both go
// on: nginx's kept upstream connections are not dropped behind its back
// (its next request on one would fail with a 502).
TEST_F(FastCGIProtocol, KeptConnectionSurvivesANewOne) {
  FastCGIPool pool(kProgram, {.workers = 1});
  Client kept(pool.ConnectTarget());
  SendLogin(kept, true);
  ExpectLoginAnswered(kept.Read(10s), "first on the kept connection");
  for (int i = 0; i < 3; ++i) {
    Client other(pool.ConnectTarget());
    SendLogin(other);
    ExpectLoginAnswered(other.Read(10s), "on a new connection");
  }
  ASSERT_TRUE(SendLogin(kept, true)) << "the kept connection was closed";
  const Client::Answer again = kept.Read(10s);
  ExpectLoginAnswered(again, "again on the kept connection");
  EXPECT_FALSE(again.closed);
  ExpectCleanEnd(pool);
}

// Requests sent one right behind another on a kept connection, before any
// answer has been read, are all answered, in order.
TEST_F(FastCGIProtocol, PipelinedRequestsAreAnswered) {
  FastCGIPool pool(kProgram, {.workers = 1});
  Client client(pool.ConnectTarget());
  const CGIVars other = Request("POST", "/other", kBody);
  std::string bytes;
  auto request = [&bytes](const CGIVars& vars, bool keep, bool bodyEnd) {
    bytes += Client::RecordBytes(Client::kBeginRequest, 1, std::string("\0\1", 2) + char(keep) + std::string(5, '\0'));
    bytes += Client::RecordBytes(Client::kParams, 1, Client::Pairs(vars)) + Client::RecordBytes(Client::kParams, 1, "");
    bytes += Client::RecordBytes(Client::kStdin, 1, kBody);
    if (bodyEnd) bytes += Client::RecordBytes(Client::kStdin, 1, "");
  };
  request(Request("POST", "/main", kBody), true, true);
  request(other, true, true);  // its body is never read by the request
  request(Request("POST", "/main", kBody), false, true);
  ASSERT_TRUE(client.SendBytes(bytes));
  ExpectLoginAnswered(client.Read(10s), "first");
  const Client::Answer second = client.Read(10s);
  EXPECT_TRUE(second.ended);
  EXPECT_EQ(second.out, kNothingWrittenAnswer);
  const Client::Answer third = client.Read(10s);
  ExpectLoginAnswered(third, "third");
  EXPECT_TRUE(third.closed || TimeUntilClosed(client, 5s)) << "not kept: closed after the answer";
  ExpectCleanEnd(pool);
}

// Management records alone are answered at once, and the connection serves
// a request afterwards.
TEST_F(FastCGIProtocol, ManagementRecordsAreAnswered) {
  FastCGIPool pool(kProgram, {.workers = 1});
  struct Line {
    const char* name;
    std::vector<std::string> asked;
    std::map<std::string, std::string> expected;  // "*": any value
    uint8_t padding;
  };
  const Line lines[] = {
      {"all three", {"FCGI_MAX_CONNS", "FCGI_MAX_REQS", "FCGI_MPXS_CONNS"},
       {{"FCGI_MAX_CONNS", "*"}, {"FCGI_MAX_REQS", "1"}, {"FCGI_MPXS_CONNS", "0"}}, 0},
      {"only those asked for, each once", {"FCGI_MPXS_CONNS", "NOT_A_VALUE", "FCGI_MPXS_CONNS"},
       {{"FCGI_MPXS_CONNS", "0"}}, 0},
      {"padded", {"FCGI_MAX_REQS"}, {{"FCGI_MAX_REQS", "1"}}, 7},
  };
  Client client(pool.ConnectTarget());
  for (const Line& line : lines) {
    CGIVars names;
    for (const std::string& n : line.asked) names.push_back({n, ""});
    ASSERT_TRUE(client.Record(Client::kGetValues, 0, Client::Pairs(names), line.padding));
    const Client::Answer answer = client.Read(5s, 1, true);
    ASSERT_EQ(answer.others.size(), 1u) << line.name;
    EXPECT_EQ(answer.others[0].first, std::make_pair(Client::kGetValuesResult, uint16_t(0))) << line.name;
    const auto values = DecodePairs(answer.others[0].second);
    EXPECT_EQ(values.size(), line.expected.size()) << line.name;
    for (const auto& [name, value] : line.expected) {
      ASSERT_TRUE(values.count(name)) << line.name << ": " << name;
      if (value == "*")
        EXPECT_GT(std::stol(values.at(name)), 0) << line.name << ": " << name;
      else
        EXPECT_EQ(values.at(name), value) << line.name << ": " << name;
    }
  }
  // A management type the application does not know.
  ASSERT_TRUE(client.Record(12, 0, "?"));
  const Client::Answer unknown = client.Read(5s, 1, true);
  ASSERT_EQ(unknown.others.size(), 1u);
  EXPECT_EQ(unknown.others[0].first, std::make_pair(Client::kUnknownType, uint16_t(0)));
  EXPECT_EQ(unknown.others[0].second, std::string("\x0C\0\0\0\0\0\0\0", 8));
  SendLogin(client);
  ExpectLoginAnswered(client.Read(10s), "a request on the same connection");
  ExpectCleanEnd(pool);
}

// An authorizer's 200 grants access: a worker that played any role but the
// responder would grant every request of a server configured by mistake.
// Each other role is refused without running the request, and a kept
// connection goes on.
TEST_F(FastCGIProtocol, RolesOtherThanResponderAreRefused) {
  FastCGIPool pool(kProgram, {.workers = 1});
  struct Line {
    const char* name;
    uint16_t role;
  };
  for (const Line& line : {Line{"authorizer", Client::kAuthorizer}, Line{"filter", Client::kFilter},
                           Line{"unknown role", 77}}) {
    for (bool keep : {false, true}) {
      SCOPED_TRACE(std::string(line.name) + (keep ? ", kept" : ""));
      Client client(pool.ConnectTarget());
      ASSERT_TRUE(client.BeginRecord(line.role, keep));
      client.Params(Client::Pairs(Request("POST", "/main", kBody)));
      client.Body(kBody);
      client.Body("");
      const Client::Answer answer = client.Read(10s);
      EXPECT_TRUE(answer.ended);
      EXPECT_EQ(answer.protocolStatus, Client::kUnknownRole);
      EXPECT_EQ(answer.out, "");
      EXPECT_EQ(answer.err, "");
      if (keep) {
        SendLogin(client);
        ExpectLoginAnswered(client.Read(10s), "the next request on the kept connection");
      } else {
        EXPECT_TRUE(answer.closed || TimeUntilClosed(client, 5s));
      }
    }
  }
  ExpectCleanEnd(pool);
}

// Padding is the sender's to choose on any record.
TEST_F(FastCGIProtocol, PaddedRecordsAreRead) {
  FastCGIPool pool(kProgram, {.workers = 1});
  enum Padded : unsigned { kBegin = 1, kParamsRecords = 2, kBodyRecords = 4, kClosing = 8, kAll = 15 };
  struct Line {
    const char* name;
    unsigned padded;
    uint8_t padding;
  };
  const Line lines[] = {
      {"begin-request", kBegin, 8},        {"parameters", kParamsRecords, 3}, {"body", kBodyRecords, 255},
      {"closing empty records", kClosing, 1}, {"every record", kAll, 7},
  };
  for (const Line& line : lines) {
    auto pad = [&line](unsigned which) { return uint8_t(line.padded & which ? line.padding : 0); };
    Client client(pool.ConnectTarget());
    ASSERT_TRUE(client.BeginRecord(Client::kResponder, false, 1, pad(kBegin)));
    client.Record(Client::kParams, 1, Client::Pairs(Request("POST", "/main", kBody)), pad(kParamsRecords));
    client.Record(Client::kParams, 1, "", pad(kClosing));
    client.Record(Client::kStdin, 1, kBody.substr(0, 3), pad(kBodyRecords));
    client.Record(Client::kStdin, 1, kBody.substr(3), pad(kBodyRecords));
    client.Record(Client::kStdin, 1, "", pad(kClosing));
    ExpectLoginAnswered(client.Read(10s), line.name);
  }
  ExpectCleanEnd(pool);
}

// Parameters beyond the limits (256 KiB, 512) are refused with 431 without
// being held, a stream cut inside a pair with 400; the worker's memory stays
// where it was, and the kept connection serves the next request.
TEST_F(FastCGIProtocol, OversizedParametersAreRefused) {
  FastCGIPool pool(kProgram, {.workers = 1});
  {
    Client warm(pool.ConnectTarget());
    SendLogin(warm);
    ExpectLoginAnswered(warm.Read(10s), "warming up");
  }
  const std::vector<pid_t> workers = pool.LiveWorkers();
  ASSERT_EQ(workers.size(), 1u) << pool.Log();
  const long before = PeakResidentKiB(workers[0]);
  ASSERT_GT(before, 0);
  const std::string request = Client::Pairs(Request("POST", "/main", kBody));
  std::string manyTiny;
  manyTiny.reserve(40u << 20);
  while (manyTiny.size() < (40u << 20)) manyTiny.append("\x01\x01" "ab", 4);
  CGIVars many;
  for (int i = 0; i < 513; ++i) many.push_back({"HTTP_X_" + std::to_string(i), "1"});
  struct Line {
    const char* name;
    std::string pairs;
    const char* status;
  };
  const Line lines[] = {
      {"40 MB of one-byte parameters", request + manyTiny, "Status: 431 "},
      {"one value beyond 256 KiB", request + Client::Pairs({{"HTTP_COOKIE", std::string(300000, 'c')}}),
       "Status: 431 "},
      {"a length of 2 GB", request + std::string("\x01\xFF\xFF\xFF\xFF", 5) + "n", "Status: 431 "},
      {"513 parameters", request + Client::Pairs(many), "Status: 431 "},
      {"cut inside a pair", request + std::string("\x05\x05", 2) + "ab", "Status: 400 "},
  };
  Client client(pool.ConnectTarget());
  for (const Line& line : lines) {
    ASSERT_TRUE(client.BeginRecord(Client::kResponder, true)) << line.name;
    ASSERT_TRUE(client.Params(line.pairs)) << line.name;
    client.Body(kBody);
    client.Body("");
    const Client::Answer answer = client.Read(30s);
    EXPECT_TRUE(answer.ended) << line.name;
    EXPECT_EQ(answer.protocolStatus, Client::kRequestComplete) << line.name;
    EXPECT_EQ(answer.out.substr(0, 12), line.status) << line.name << "\n" << answer.out;
    EXPECT_NE(answer.out.find("\r\n\r\n<html>"), std::string::npos) << line.name << "\n" << answer.out;
  }
  SendLogin(client, true);
  ExpectLoginAnswered(client.Read(10s), "the next request on the same connection");
  const long after = PeakResidentKiB(workers[0]);
  EXPECT_LT(after - before, 16 * 1024) << "peak resident size grew from " << before << " KiB to " << after << " KiB";
  ExpectCleanEnd(pool);
}

// A peer that trickles bytes after its answer, where the worker waits for
// the rest of the request before it closes, keeps neither the worker nor
// the connection beyond the linger's bound.
TEST_F(FastCGIProtocol, TricklingAfterTheAnswerHoldsNothing) {
  FastCGIPool pool(kProgram, {.workers = 1});
  Client trickler(pool.ConnectTarget());
  trickler.Begin(Request("POST", "/other", kBody));
  trickler.Body(kBody);  // and never the body's end: the request does not read it
  const Client::Answer answer = trickler.Read(10s);
  ASSERT_TRUE(answer.ended);
  std::optional<std::chrono::milliseconds> closedAfter;
  std::thread drip([&] { closedAfter = Drip(trickler, std::string(400, 'x'), 200ms, Scaled(10s)); });
  std::this_thread::sleep_for(300ms);
  const auto start = Clock::now();
  Client normal(pool.ConnectTarget());
  SendLogin(normal);
  ExpectLoginAnswered(normal.Read(30s), "the normal request");
  const auto answeredAfter = Since(start);
  drip.join();
  EXPECT_LT(answeredAfter, Scaled(1500ms)) << "the normal request waited for the trickler";
  ASSERT_TRUE(closedAfter.has_value()) << "the trickler's connection is still open";
  EXPECT_LT(*closedAfter, Scaled(4000ms));
  ExpectCleanEnd(pool);
}

// Asked to end with every worker busy and connections waiting in the
// listening socket's queue: the requests in flight are finished and the
// queued ones answered too, before the pool closes the socket.
TEST_F(FastCGIProtocol, EndingAnswersTheQueuedConnections) {
  FastCGIPool pool(kProgram, {.workers = 2});
  std::vector<std::unique_ptr<Client>> inFlight, queued;
  for (int i = 0; i < 2; ++i) {
    inFlight.push_back(std::make_unique<Client>(pool.ConnectTarget()));
    inFlight.back()->Begin(Request("POST", "/main", kBody));
    inFlight.back()->Body(kBody.substr(0, 1));
  }
  std::this_thread::sleep_for(300ms);
  for (int i = 0; i < 4; ++i) {
    queued.push_back(std::make_unique<Client>(pool.ConnectTarget()));
    SendLogin(*queued.back());
  }
  std::this_thread::sleep_for(200ms);
  const auto asked = Clock::now();
  kill(pool.Pid(), SIGTERM);
  std::this_thread::sleep_for(300ms);
  for (auto& client : inFlight) {
    EXPECT_TRUE(client->Body(kBody.substr(1)));
    EXPECT_TRUE(client->Body(""));
  }
  int answered = 0;
  for (auto* list : {&inFlight, &queued})
    for (auto& client : *list) {
      const Client::Answer answer = client->Read(10s);
      ExpectLoginAnswered(answer, "in flight or queued");
      answered += answer.ended;
    }
  EXPECT_EQ(answered, 6);
  EXPECT_EQ(pool.WaitForExit(asked, 10s), 0) << pool.Log();
  EXPECT_FALSE(std::regex_search(pool.Log(), std::regex("exited with status [1-9]|killed"))) << pool.Log();
}

// One request at a time on a connection: a second one while the first is in
// flight is refused on its own, the first goes on; a request given up by the
// web server ends at once, with no answer but its end.
TEST_F(FastCGIProtocol, MultiplexedAndAbortedRequests) {
  FastCGIPool pool(kProgram, {.workers = 1});
  {
    Client client(pool.ConnectTarget());
    client.Begin(Request("POST", "/main", kBody), true, 1);
    client.Body(kBody.substr(0, 2), 1);
    client.Begin(Request("POST", "/main", kBody), true, 2);
    client.Body(kBody.substr(2), 1);
    client.Body("", 1);
    const Client::Answer answer = client.Read(10s);
    ExpectLoginAnswered(answer, "the first request");
    ASSERT_EQ(answer.others.size(), 1u);
    EXPECT_EQ(answer.others[0].first, std::make_pair(Client::kEndRequest, uint16_t(2)));
    EXPECT_EQ(answer.others[0].second[4], char(Client::kCantMultiplex));
  }
  struct Abort {
    const char* name;
    void (*send)(Client&);
  };
  const Abort aborts[] = {
      {"before the head is whole", [](Client& c) { c.BeginRecord(Client::kResponder, true); }},
      {"in the middle of the body", [](Client& c) {
         c.Begin(Request("POST", "/main", kBody), true);
         c.Body(kBody.substr(0, 2));
       }},
  };
  for (const Abort& abort : aborts) {
    Client client(pool.ConnectTarget());
    abort.send(client);
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(client.Record(Client::kAbortRequest, 1, ""));
    const Client::Answer answer = client.Read(5s);
    EXPECT_TRUE(answer.ended) << abort.name;
    EXPECT_EQ(answer.protocolStatus, Client::kRequestComplete) << abort.name;
    EXPECT_EQ(answer.out, "") << abort.name;
    SendLogin(client);
    ExpectLoginAnswered(client.Read(10s), std::string(abort.name) + ": the next request");
  }
  ExpectCleanEnd(pool);
}

}  // namespace
}  // namespace nemvo::testing
