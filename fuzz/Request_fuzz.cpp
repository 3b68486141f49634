// The whole request, as the program runs it: environment values and the body
// from the input, through the application object's request cycle (request,
// response, HandleRequest with the program's web module, sending), with the
// stand-in client library in place of the database's. Standard input and
// output are memory files for the length of one request.
//
// Input: one byte choosing the configuration (below), then variables, each
// a byte naming it (kVariables; 32 or more ends the list) and its value
// (libFuzzer's length-prefixed string); the rest is the body.
//
// Checks: the cycle raises nothing; the output is nothing, or a CGI answer
// with a well-formed head ("Status: NNN reason", "Name: value" lines, no
// stray CR or LF, an empty line) and exactly as many body bytes as its
// Content-Length says; without a protocol version it may be a bare body.
// NEMVO_FUZZ_SHOW_OUTPUT=1 prints each output (to look at a corpus).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "BuildConfig.h"
#include "FuzzCheck.h"
#include "admin/LoginThrottle.h"
#include "cgi/CGIApplication.h"
#include "cgi/ConsoleMode.h"
#include NEMVO_FUZZ_MODULE_HEADER

namespace nemvo::fuzzing {
namespace {

// The variables the input may set; every other one stays unset.
constexpr const char* kVariables[] = {
    "REQUEST_METHOD", "SERVER_PROTOCOL", "PATH_INFO", "CONTENT_LENGTH", "CONTENT_TYPE", "QUERY_STRING",
    "SCRIPT_NAME", "PATH_TRANSLATED", "HTTP_COOKIE", "HTTP_HOST", "HTTP_USER_AGENT", "HTTP_CONTENT_LENGTH",
    "HTTP_SERVER_PROTOCOL", "HTTP_PATH_INFO", "HTTP_REQUEST_METHOD", "HTTP_IF_MODIFIED_SINCE", "HTTP_DATE",
    "HTTP_AUTHORIZATION", "REMOTE_ADDR", "SERVER_PORT", "URL", "GATEWAY_INTERFACE",
    // The stand-in client library's failures (tests/db/standin/StandinClient.c).
    "NEMVO_STANDIN_ATTACH_MESSAGES", "NEMVO_STANDIN_ATTACH_CODE", "NEMVO_STANDIN_SQLCODE",
    "NEMVO_STANDIN_DIALECT", "NEMVO_STANDIN_INFO_ERROR", "NEMVO_STANDIN_DETACH_MESSAGES",
    "NEMVO_STANDIN_DETACH_CODE"};
constexpr size_t kVariableCount = sizeof kVariables / sizeof kVariables[0];
static_assert(kVariableCount < 32);

// The configuration file lives in a directory of its own in the build tree;
// beside it the templates the configurations name.
const std::string kConfigPath = build::ConfigPath;
const std::string kSite = kConfigPath.substr(0, kConfigPath.rfind('/') + 1);

void WriteFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0)
    Fail("cannot write " + path);
}

// What the first input byte chooses: the configuration file's text, or none.
std::vector<std::string> Configurations() {
  // The login throttle keeps its record in the site (the stand-in refuses
  // every login, so fuzzed addresses get throttled too); the login line
  // would flood the fuzzer's own output.
  auto config = [](const std::string& db, const std::string& html) {
    return "[Nemvo.FrameWork]\r\nDBSuporte=" + db + "\r\nMainHTML=" + html + "\r\nLoginStateFile=" + kSite +
           "logins.state\r\nLoginLog=0\r\n";
  };
  return {
      config("fuzzhost:/fuzz.fdb", kSite + "main.html"),
      "",  // no configuration file
      config("fuzzhost:/fuzz.fdb", kSite + "missing.html"),
      config("", kSite + "main.html"),
      config("fuzzhost:/fuzz.fdb", kSite + "long-line.html"),
      config("fuzzhost:/fuzz.fdb", kSite + "bad-escape.html"),
      config("fuzzhost:/fuzz.fdb", kSite),  // a directory
      "[Nemvo.FrameWork]\r\nLoginLog=0\r\n",  // no other keys: the defaults
  };
}

void WriteSite() {
  if (!kConfigPath.ends_with("/fuzz-site/Nemvo.Config")) {
    std::fprintf(stderr,
                 "fuzz_Request writes the program's configuration file, which this build reads from %s; configure "
                 "with -DNEMVO_CONFIG_PATH=<build dir>/fuzz-site/Nemvo.Config\n",
                 kConfigPath.c_str());
    std::exit(1);
  }
  WriteFile(kSite + "main.html",
            "<html><head><title><#Title></title></head>\n<body>\n<#Menu a=1 b=\"x y\" c='>' d=%41+%42>\n"
            "<p>Bem-vindo \xE0 administra\xE7\xE3o</p>\n< #Footer>\n</body></html>\n");
  WriteFile(kSite + "long-line.html", "<html>" + std::string(5000, 'x') + "</html>\n");
  WriteFile(kSite + "bad-escape.html", "<html><#Tag a=%zz></html>\n");
}

// The stand-in is found through LD_LIBRARY_PATH, which the loader reads only
// when the process starts: start again with it set.
void UseStandin(char** argv) {
  const char* current = std::getenv("LD_LIBRARY_PATH");
  const std::string dir = NEMVO_FUZZ_STANDIN_DIR;
  if (current && std::string_view(current).starts_with(dir)) return;
  const std::string path = current && *current ? dir + ":" + current : dir;
  setenv("LD_LIBRARY_PATH", path.c_str(), 1);
  execv("/proc/self/exe", argv);
  Fail("cannot start again with the stand-in client library");
}

// A memory file holding `bytes`, positioned at its start.
int MemoryFile(const char* name, std::string_view bytes) {
  const int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) Fail("memfd_create");
  if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) Fail("memfd write");
  lseek(fd, 0, SEEK_SET);
  return fd;
}

std::string ReadAll(int fd) {
  std::string out;
  lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
  return out;
}

bool TokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

void CheckOutput(const std::string& out, bool hasProtocol, const std::string& input) {
  if (out.empty()) return;
  if (!out.starts_with("Status: ")) {
    FUZZ_CHECK(!hasProtocol, "output without a status line: " + Quoted(out) + " for " + Quoted(input));
    return;  // a bare body
  }
  const size_t headEnd = out.find("\r\n\r\n");
  FUZZ_CHECK(headEnd != std::string::npos, "a head without its empty line: " + Quoted(out) + " for " + Quoted(input));
  const std::string_view head = std::string_view(out).substr(0, headEnd + 2);
  const std::string_view body = std::string_view(out).substr(headEnd + 4);
  long contentLength = -1;
  bool first = true;
  for (size_t at = 0; at < head.size();) {
    const size_t end = head.find("\r\n", at);
    const std::string_view line = head.substr(at, end - at);
    at = end + 2;
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos,
               "a CR or LF inside the head line " + Quoted(line) + " for " + Quoted(input));
    if (first) {
      first = false;
      FUZZ_CHECK(line.size() >= 12 && line[8] >= '1' && line[8] <= '5' && isdigit(line[9]) && isdigit(line[10]) &&
                     line[11] == ' ',
                 "status line " + Quoted(line) + " for " + Quoted(input));
      continue;
    }
    const size_t colon = line.find(':');
    FUZZ_CHECK(colon != std::string_view::npos && colon > 0, "header line " + Quoted(line) + " for " + Quoted(input));
    for (char c : line.substr(0, colon))
      FUZZ_CHECK(TokenChar(c), "header name in " + Quoted(line) + " for " + Quoted(input));
    FUZZ_CHECK(colon + 1 == line.size() || line[colon + 1] == ' ', "header line " + Quoted(line));
    if (line.substr(0, colon) == "Content-Length") {
      FUZZ_CHECK(contentLength < 0, "two Content-Length lines for " + Quoted(input));
      const std::string digits(line.substr(colon + 2));
      FUZZ_CHECK(!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos,
                 "Content-Length " + Quoted(digits));
      contentLength = std::strtol(digits.c_str(), nullptr, 10);
    }
  }
  FUZZ_CHECK(body.size() == size_t(contentLength < 0 ? 0 : contentLength),
             "a body of " + std::to_string(body.size()) + " bytes after Content-Length " + std::to_string(contentLength) +
                 ": " + Quoted(out) + " for " + Quoted(input));
}

int savedStdin = -1, savedStdout = -1;

}  // namespace
}  // namespace nemvo::fuzzing

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** argv) {
  using namespace nemvo::fuzzing;
  UseStandin(*argv);
  for (const char* name : kVariables) unsetenv(name);
  unsetenv("NEMVO_STANDIN_LOG");
  unsetenv("NEMVO_STANDIN_VERSION");
  WriteSite();
  // Without a configuration file the throttle's record is the account's
  // default one: made by this run, it goes with it.
  static const std::string defaultRecord = nemvo::TLoginThrottle::DefaultPath();
  if (access(defaultRecord.c_str(), F_OK) != 0) std::atexit([] { unlink(defaultRecord.c_str()); });
  savedStdin = dup(STDIN_FILENO);
  savedStdout = dup(STDOUT_FILENO);
  if (savedStdin < 0 || savedStdout < 0) Fail("cannot keep the standard streams");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nemvo;
  using namespace nemvo::fuzzing;
  static const std::vector<std::string> configurations = Configurations();
  static size_t written = configurations.size();

  FuzzedDataProvider input(data, size);
  const std::vector<uint8_t> setting = input.ConsumeBytes<uint8_t>(1);
  const size_t configuration = setting.empty() ? 0 : setting[0] % configurations.size();
  if (configuration != written) {
    if (configurations[configuration].empty())
      unlink(kConfigPath.c_str());
    else
      WriteFile(kConfigPath, configurations[configuration]);
    written = configuration;
  }

  for (const char* name : kVariables) unsetenv(name);
  for (;;) {
    const std::vector<uint8_t> which = input.ConsumeBytes<uint8_t>(1);
    if (which.empty() || which[0] >= kVariableCount) break;
    const std::string value = input.ConsumeRandomLengthString(8192);
    setenv(kVariables[which[0]], value.c_str(), 1);
  }
  const std::string body = input.ConsumeRemainingBytesAsString();
  const char* protocol = std::getenv("SERVER_PROTOCOL");
  const char* clientProtocol = std::getenv("HTTP_SERVER_PROTOCOL");
  const bool hasProtocol = (protocol && *protocol) || (clientProtocol && *clientProtocol);

  const int in = MemoryFile("stdin", body);
  const int out = MemoryFile("stdout", {});
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  close(in);

  // What the main program does between starting and ending the process.
  ConsoleMode = true;
  Application = std::make_unique<TCGIApplication>();
  Application->Initialize();
  Application->RegisterModuleClass(NEMVO_FUZZ_MODULE_CLASS::StaticClass());
  Application->Run();
  Application.reset();

  dup2(savedStdin, STDIN_FILENO);
  dup2(savedStdout, STDOUT_FILENO);
  const std::string output = ReadAll(out);
  close(out);
  static const bool show = std::getenv("NEMVO_FUZZ_SHOW_OUTPUT") != nullptr;  // for looking at a corpus
  if (show) std::fprintf(stderr, "--- output:\n%s\n", Quoted(output, 4000).c_str());
  CheckOutput(output, hasProtocol, std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
