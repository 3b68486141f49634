// The FastCGI pool's status page: which form a request gets, that each form
// carries the pool's figures, that texts from visitors (request paths) break
// none of them, and that what Prometheus reads passes its own checker.
#include "cgi/PoolStatusPage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Prerequisites.h"

namespace nemvo {
namespace {

using nemvo::testing::TChildProcess;

// A pool in the middle of its day: every figure different, so that a figure
// shown under the wrong name shows.
TPoolSnapshot FilledSnapshot() {
  TPoolSnapshot s;
  s.startTime = 1765400000;  // 2025-12-10T20:53:20Z
  s.uptimeSeconds = 86400.5;
  s.address = "unix:/run/nemvoweb/nemvoweb.sock";
  s.listenBacklog = 128;
  s.listenQueue = 7;
  s.busyWorkers = 3;
  s.idleWorkers = 1;
  s.totalWorkers = 4;
  s.minWorkers = 2;
  s.maxWorkers = 8;
  s.workersStarted = 11;
  s.workersReplaced = 5;
  s.workersRecycled = 2;
  s.requests = 123456;
  s.requestsRefused = 13;
  s.requestsTimedOut = 17;
  s.slowRequests = 19;
  s.longestRequestSeconds = 2.25;
  s.longestRequestPath = "/main";
  s.logins = {1000, 200, 30, 4, 6};
  s.answerCounts = {100, 50, 25, 0, 0, 10, 5, 0, 0, 0, 0, 1, 9};  // 9 over the last bound
  s.answerSecondsSum = 812.125;
  s.workers = {{101, true, "connecting", 40, 2.25, "/main"},
               {102, false, "idle", 41, 0, ""},
               {103, true, "writing", 42, 0.000001, "/other"}};
  return s;
}

constexpr uint64_t kAnswers = 200;  // the sum of FilledSnapshot's answerCounts

// "key: value" lines of the text form, up to the first worker.
std::map<std::string, std::string> TextFields(const std::string& body) {
  std::map<std::string, std::string> fields;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line) && !line.empty();) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const size_t value = line.find_first_not_of(' ', colon + 1);
    fields[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
  }
  return fields;
}

// Whether python3 reads `json` as JSON (UTF-8 decoded strictly, no control
// characters in strings), and what it printed; nullopt without python3.
std::optional<std::string> PythonReadsJSON(const std::string& json, bool& valid) {
  constexpr const char* kScript =
      "import json, sys\n"
      "d = json.loads(sys.stdin.buffer.read().decode('utf-8'))\n"
      "print(d['requests'], d['logins']['refused'], d['login_database_seconds']['count'], len(d.get('workers', [])))\n";
  try {
    TChildProcess python("python3", {"-c", kScript}, TChildProcess::Inherited(), json, {});
    python.Finish();
    valid = python.Result().exitCode == 0;
    return python.Result().out + python.Result().err;
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

TEST(PoolStatusPage, FormatChosenByQueryThenAccept) {
  constexpr const char* kPrometheusScrape =
      "application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;q=0.75,"
      "text/plain;version=0.0.4;q=0.5,*/*;q=0.1";
  constexpr const char* kBrowser = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
  const struct {
    const char* query;
    const char* accept;
    TStatusFormat expected;
  } cases[] = {
      {"", "", TStatusFormat::Text},
      {"format=json", "", TStatusFormat::JSON},
      {"format=prometheus", "", TStatusFormat::Prometheus},
      {"format=JSON", "", TStatusFormat::JSON},
      {"full&format=json", "", TStatusFormat::JSON},
      {"format=%6Ason", "", TStatusFormat::JSON},
      // The query wins over the header, also when it asks for text.
      {"format=text", "application/json", TStatusFormat::Text},
      {"format=prometheus", "application/json", TStatusFormat::Prometheus},
      // A choice the page does not know, or cannot read, gives text.
      {"format=xml", "application/json", TStatusFormat::Text},
      {"format=%zz", "application/json", TStatusFormat::Text},
      {"format=", "application/json", TStatusFormat::Text},
      {"format=json&format=prometheus", "", TStatusFormat::JSON},
      {"formats=json", "", TStatusFormat::Text},
      {"&&format=json&", "", TStatusFormat::JSON},
      // The header.
      {"", "application/json", TStatusFormat::JSON},
      {"", "Application/JSON; charset=utf-8", TStatusFormat::JSON},
      {"", "application/openmetrics-text", TStatusFormat::Prometheus},
      {"", "text/plain;version=0.0.4", TStatusFormat::Prometheus},
      {"", "text/plain; version=\"0.0.4\"", TStatusFormat::Prometheus},
      {"", "text/plain;version=0.0.4;q=0.5,*/*;q=0.1", TStatusFormat::Prometheus},
      {"", kPrometheusScrape, TStatusFormat::Prometheus},
      {"", "text/plain", TStatusFormat::Text},
      {"", "text/plain;version=1.0.0", TStatusFormat::Text},
      {"", "*/*", TStatusFormat::Text},
      {"", kBrowser, TStatusFormat::Text},
      {"", "image/png", TStatusFormat::Text},
      // Preference by q, the first on a tie; q=0 and malformed q refuse.
      {"", "text/plain, application/json;q=0.5", TStatusFormat::Text},
      {"", "application/json;q=0.5, text/plain;q=0.4", TStatusFormat::JSON},
      {"", "text/*;q=0.9, application/json", TStatusFormat::JSON},
      {"", "application/json, text/plain", TStatusFormat::JSON},
      {"", "text/plain, application/json", TStatusFormat::Text},
      {"", "application/json;q=0", TStatusFormat::Text},
      {"", "application/json;q=2", TStatusFormat::Text},
      {"", "application/json;q=0.0001", TStatusFormat::Text},
      {"", "application/json;q=abc, text/plain;version=0.0.4;q=0.001", TStatusFormat::Prometheus},
      {"", ",;=,;;q=,\"", TStatusFormat::Text},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ChooseStatusFormat(c.query, c.accept), c.expected) << "query \"" << c.query << "\", Accept \"" << c.accept << '"';
}

TEST(PoolStatusPage, FullListAskedInTheQuery) {
  const struct {
    const char* query;
    bool full;
  } cases[] = {
      {"", false},        {"full", true},         {"full=1", true},  {"full=", true},
      {"full=0", false},  {"format=json&full", true}, {"fullx", false}, {"xfull=1", false},
      {"%66ull", true},   {"format=full", false},
  };
  for (const auto& c : cases) EXPECT_EQ(WantsFullStatus(c.query), c.full) << c.query;
}

TEST(PoolStatusPage, TextCarriesTheFigures) {
  const TStatusPage page = RenderPoolStatus(FilledSnapshot(), TStatusFormat::Text, false);
  EXPECT_EQ(page.contentType, "text/plain; charset=utf-8");
  const auto fields = TextFields(page.body);
  const std::map<std::string, std::string> expected = {
      {"address", "unix:/run/nemvoweb/nemvoweb.sock"},
      {"start time", "2025-12-10T20:53:20Z"},
      {"uptime seconds", "86400.500000"},
      {"listen queue", "7"},
      {"listen backlog", "128"},
      {"busy workers", "3"},
      {"idle workers", "1"},
      {"total workers", "4"},
      {"min workers", "2"},
      {"max workers", "8"},
      {"workers started", "11"},
      {"workers replaced", "5"},
      {"workers recycled", "2"},
      {"requests", "123456"},
      {"requests refused", "13"},
      {"requests timed out", "17"},
      {"slow requests", "19"},
      {"longest request seconds", "2.250000"},
      {"longest request path", "/main"},
      {"logins accepted", "1000"},
      {"logins refused", "200"},
      {"logins throttled", "30"},
      {"logins deferred", "4"},
      {"logins error", "6"},
      {"login database answers", std::to_string(kAnswers)},
      {"login database seconds", "812.125000"},
      {"login database answers le 0.005", "100"},
      {"login database answers le 0.025", "175"},
      {"login database answers le 30", "191"},
      {"login database answers le +Inf", std::to_string(kAnswers)},
  };
  for (const auto& [key, value] : expected) {
    ASSERT_TRUE(fields.count(key)) << key << " missing from:\n" << page.body;
    EXPECT_EQ(fields.at(key), value) << key;
  }
  EXPECT_EQ(page.body.find("pid:"), std::string::npos) << "workers listed without being asked";
}

TEST(PoolStatusPage, WorkersListedOnlyWhenAsked) {
  const TPoolSnapshot snapshot = FilledSnapshot();
  const std::string text = RenderPoolStatus(snapshot, TStatusFormat::Text, true).body;
  const std::regex worker("\npid: +(\\d+)\nstate: +(\\w+)\nphase: +(\\w+)\nrequests: +(\\d+)\n"
                          "request seconds: +([0-9.]+)\npath: *(\\S*)\n");
  std::vector<std::string> seen;
  for (std::sregex_iterator it(text.begin(), text.end(), worker), end; it != end; ++it)
    seen.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str() + " " + (*it)[4].str() + " " +
                   (*it)[5].str() + " " + (*it)[6].str());
  EXPECT_EQ(seen, (std::vector<std::string>{"101 busy connecting 40 2.250000 /main", "102 idle idle 41 0.000000 ",
                                            "103 busy writing 42 0.000001 /other"}))
      << text;

  const std::string json = RenderPoolStatus(snapshot, TStatusFormat::JSON, true).body;
  EXPECT_NE(json.find(R"("workers":[{"pid":101,"state":"busy","phase":"connecting","requests":40,)"
                      R"("request_seconds":2.250000,"path":"/main"},{"pid":102,)"),
            std::string::npos)
      << json;
  EXPECT_EQ(RenderPoolStatus(snapshot, TStatusFormat::JSON, false).body.find("\"workers\""), std::string::npos);
  for (const bool full : {false, true})
    EXPECT_EQ(RenderPoolStatus(snapshot, TStatusFormat::Prometheus, full).body.find("/other"), std::string::npos);
}

TEST(PoolStatusPage, JSONCarriesTheFigures) {
  const TStatusPage page = RenderPoolStatus(FilledSnapshot(), TStatusFormat::JSON, false);
  EXPECT_EQ(page.contentType, "application/json");
  for (const char* member :
       {R"("address":"unix:/run/nemvoweb/nemvoweb.sock")", R"("start_time":1765400000)", R"("uptime_seconds":86400.500000)",
        R"("listen_queue":7)", R"("listen_backlog":128)", R"("busy_workers":3)", R"("idle_workers":1)",
        R"("total_workers":4)", R"("workers_replaced":5)", R"("requests":123456)", R"("requests_timed_out":17)",
        R"("slow_requests":19)", R"("longest_request_path":"/main")",
        R"("logins":{"accepted":1000,"refused":200,"throttled":30,"deferred":4,"error":6})",
        R"("login_database_seconds":{"count":200,"sum":812.125000,"buckets":{"0.005":100,"0.01":150,)",
        R"("30":191,"+Inf":200}})"})
    EXPECT_NE(page.body.find(member), std::string::npos) << member << " missing from " << page.body;
  bool valid = false;
  if (const auto read = PythonReadsJSON(page.body, valid)) {
    EXPECT_TRUE(valid) << *read << page.body;
    EXPECT_EQ(*read, "123456 200 200 0\n");
  } else {
    std::printf("python3 not found: the JSON was not read by a JSON parser\n");
  }
}

TEST(PoolStatusPage, UnknownFigures) {
  TPoolSnapshot snapshot = FilledSnapshot();
  snapshot.listenQueue = -1;
  snapshot.uptimeSeconds = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(TextFields(RenderPoolStatus(snapshot, TStatusFormat::Text, false).body)["listen queue"], "unknown");
  const std::string json = RenderPoolStatus(snapshot, TStatusFormat::JSON, false).body;
  EXPECT_NE(json.find(R"("uptime_seconds":null,"listen_queue":null,)"), std::string::npos) << json;
  EXPECT_EQ(RenderPoolStatus(snapshot, TStatusFormat::Prometheus, false).body.find("listen_queue"), std::string::npos);
}

// Request paths are the visitors' bytes: each form must stay well formed
// whatever they hold, and show them so that a reader can tell them apart.
TEST(PoolStatusPage, HostilePathsStayInsideTheirForm) {
  const struct {
    std::string raw;
    std::string json;  // inside the quotes
    std::string text;
  } cases[] = {
      {"\"", "\\\"", "\""},
      {"\\", "\\\\", "\\x5C"},
      {"\n", "\\u000A", "\\x0A"},
      {"\r", "\\u000D", "\\x0D"},
      {std::string(1, '\0'), "\\u0000", "\\x00"},
      {"\x01", "\\u0001", "\\x01"},
      {"\x1B[2J", "\\u001B[2J", "\\x1B[2J"},
      {"\x7F", "\x7F", "\\x7F"},
      {"\xC2\x9B", "\xC2\x9B", "\\xC2\\x9B"},                      // U+009B, a terminal's CSI
      {"\xE9", "\\u00E9", "\\xE9"},                                // Latin-1 é
      {"\xC3\xA9", "\xC3\xA9", "\xC3\xA9"},                        // UTF-8 é
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // U+1F600
      {"\xC3(", "\\u00C3(", "\\xC3("},                             // cut short by the next byte
      {"\xE2\x82", "\\u00E2\\u0082", "\\xE2\\x82"},                // cut short
      {"\x80", "\\u0080", "\\x80"},                                // a stray continuation byte
      {"\xC0\xAF", "\\u00C0\\u00AF", "\\xC0\\xAF"},                // overlong "/"
      {"\xED\xA0\x80", "\\u00ED\\u00A0\\u0080", "\\xED\\xA0\\x80"},  // a surrogate
      {"\xF4\x90\x80\x80", "\\u00F4\\u0090\\u0080\\u0080", "\\xF4\\x90\\x80\\x80"},  // beyond U+10FFFF
      {"\xFF", "\\u00FF", "\\xFF"},
  };
  TPoolSnapshot snapshot = FilledSnapshot();
  snapshot.workers.clear();
  std::string all;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = "/a" + c.raw + "b";
    all += path;
    snapshot.workers.push_back({200, true, "reading", 1, 0.5, path});
    snapshot.longestRequestPath = path;
    const std::string json = RenderPoolStatus(snapshot, TStatusFormat::JSON, true).body;
    EXPECT_NE(json.find("\"longest_request_path\":\"/a" + c.json + "b\""), std::string::npos) << json;
    const std::string text = RenderPoolStatus(snapshot, TStatusFormat::Text, false).body;
    EXPECT_EQ(TextFields(text)["longest request path"], "/a" + c.text + "b");
  }
  // Every case at once, also where the address and the phase go, and read
  // by a parser.
  snapshot.longestRequestPath = all;
  snapshot.address = "unix:/tmp/" + all;
  snapshot.workers.push_back({201, true, all, 1, 0.5, all});
  const std::string json = RenderPoolStatus(snapshot, TStatusFormat::JSON, true).body;
  bool valid = false;
  if (const auto read = PythonReadsJSON(json, valid))
    EXPECT_TRUE(valid) << *read;
  else
    std::printf("python3 not found: the JSON was not read by a JSON parser\n");
  const std::string text = RenderPoolStatus(snapshot, TStatusFormat::Text, true).body;
  for (const char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
  const size_t lines = size_t(std::count(text.begin(), text.end(), '\n'));
  EXPECT_EQ(lines, TextFields(RenderPoolStatus(FilledSnapshot(), TStatusFormat::Text, false).body).size() +
                       snapshot.workers.size() * 8);
}

// The exposition format, line by line: a comment, or a name with at most one
// label and a value. Anything that escaped its label would break a line.
TEST(PoolStatusPage, PrometheusLinesStayWellFormed) {
  TPoolSnapshot snapshot = FilledSnapshot();
  snapshot.address = std::string("unix:/tmp/a\"b\\c\nd\x01\xE9\xC3\xA9") + '\0' + "}x";
  snapshot.longestRequestPath = "/visitor\"}\n# TYPE evil counter\nevil 1";
  snapshot.workers[0].path = snapshot.longestRequestPath;
  const TStatusPage page = RenderPoolStatus(snapshot, TStatusFormat::Prometheus, true);
  EXPECT_EQ(page.contentType, "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_EQ(page.body.find("visitor"), std::string::npos) << "a request's path reached the metrics";
  EXPECT_NE(page.body.find("nemvoweb_pool_info{address=\"unix:/tmp/a\\\"b\\\\c\\nd\xEF\xBF\xBD\xEF\xBF\xBD\xC3\xA9\xEF\xBF\xBD}x\"} 1\n"),
            std::string::npos)
      << page.body;

  const std::regex comment(R"(# (HELP|TYPE) nemvoweb_[a-z_]+ .+)");
  const std::regex sample(R"(nemvoweb_[a-z_]+(\{[a-z]+="(\\[\\"n]|[^"\\\n])*"\})? (-?[0-9.]+(e[+-]?[0-9]+)?|NaN|[+-]Inf))");
  std::istringstream in(page.body);
  int samples = 0;
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(std::regex_match(line, comment) || std::regex_match(line, sample)) << line;
    samples += line[0] != '#';
  }
  EXPECT_GT(samples, 20);
  ASSERT_FALSE(page.body.empty());
  EXPECT_EQ(page.body.back(), '\n');
}

TEST(PoolStatusPage, PrometheusHistogramIsCumulative) {
  const std::string body = RenderPoolStatus(FilledSnapshot(), TStatusFormat::Prometheus, false).body;
  const std::regex bucket(R"re(nemvoweb_login_database_seconds_bucket\{le="([^"]+)"\} (\d+)\n)re");
  std::vector<std::string> bounds;
  std::vector<uint64_t> counts;
  for (std::sregex_iterator it(body.begin(), body.end(), bucket), end; it != end; ++it) {
    bounds.push_back((*it)[1]);
    counts.push_back(std::stoull((*it)[2]));
  }
  EXPECT_EQ(bounds, (std::vector<std::string>{"0.005", "0.01", "0.025", "0.05", "0.1", "0.25", "0.5", "1", "2.5", "5",
                                              "10", "30", "+Inf"}));
  EXPECT_EQ(counts, (std::vector<uint64_t>{100, 150, 175, 175, 175, 185, 190, 190, 190, 190, 190, 191, 200}));
  EXPECT_NE(body.find("\nnemvoweb_login_database_seconds_count " + std::to_string(kAnswers) + "\n"), std::string::npos);
  EXPECT_NE(body.find("\nnemvoweb_login_database_seconds_sum 812.125000\n"), std::string::npos);
  EXPECT_NE(body.find("# TYPE nemvoweb_login_database_seconds histogram\n"), std::string::npos);
  EXPECT_NE(body.find("\nnemvoweb_logins_total{outcome=\"refused\"} 200\n"), std::string::npos);
  EXPECT_NE(body.find("\nnemvoweb_workers{state=\"busy\"} 3\n"), std::string::npos);
  EXPECT_NE(body.find("\nnemvoweb_listen_queue_connections 7\n"), std::string::npos);
}

// Prometheus's own checker (Debian's prometheus package) on a filled page,
// with an address that needs every escape.
TEST(PoolStatusPage, PrometheusPassesPromtool) {
  NEMVO_REQUIRE(OnPath("promtool"), "promtool not found: install Debian's prometheus package (scripts/install-deps.sh)");
  TPoolSnapshot snapshot = FilledSnapshot();
  snapshot.address = "unix:/tmp/a\"b\\c\nd\xE9";
  const std::string body = RenderPoolStatus(snapshot, TStatusFormat::Prometheus, true).body;
  TChildProcess promtool("promtool", {"check", "metrics"}, TChildProcess::Inherited(), body, {});
  promtool.Finish();
  EXPECT_EQ(promtool.Result().exitCode, 0) << promtool.Result().out << promtool.Result().err << body;
  EXPECT_EQ(promtool.Result().out + promtool.Result().err, "") << body;
}

}  // namespace
}  // namespace nemvo
