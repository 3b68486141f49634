#include "main/CommandLine.h"

#include <functional>
#include <map>

#include "base/WholeNumber.h"

namespace nemvo {

namespace {

constexpr int kMaxWorkers = 256;
constexpr int64_t kDay = 86400;

using Setter = std::function<bool(FastCGIPoolOptions&, const std::string& value, std::string& error)>;

Setter Number(int64_t least, int64_t most, std::function<void(FastCGIPoolOptions&, int64_t)> set) {
  return [=](FastCGIPoolOptions& options, const std::string& value, std::string& error) {
    std::optional<int64_t> n = ParseWholeNumber(value, least, most);
    if (!n) {
      error = (value.empty() ? "no number" : value) + " is not a number from " + std::to_string(least) + " to " +
              std::to_string(most);
      return false;
    }
    set(options, *n);
    return true;
  };
}

Setter Text(std::function<void(FastCGIPoolOptions&, const std::string&)> set) {
  return [=](FastCGIPoolOptions& options, const std::string& value, std::string& error) {
    if (value.empty()) {
      error = "nothing given";
      return false;
    }
    set(options, value);
    return true;
  };
}

// A path the pool answers itself: a whole URL path, nothing a web server
// would not pass as one.
Setter ServedPath(std::string FastCGIPoolOptions::*field) {
  return [=](FastCGIPoolOptions& options, const std::string& value, std::string& error) {
    if (!value.starts_with("/") || value.find_first_of("?# \t\r\n") != std::string::npos) {
      error = (value.empty() ? std::string("nothing") : value) + " is not a path starting with /";
      return false;
    }
    options.*field = value;
    return true;
  };
}

const std::map<std::string, Setter>& Setters() {
  static const std::map<std::string, Setter> setters = {
      {"--fastcgi", [](FastCGIPoolOptions& o, const std::string& v, std::string& error) {
         if (v.empty()) error = "needs an address";
         o.address = v;
         return !v.empty();
       }},
      {"--workers", Number(1, kMaxWorkers, [](auto& o, int64_t n) { o.workers = int(n); })},
      {"--workers-min", Number(0, kMaxWorkers, [](auto& o, int64_t n) { o.workersMin = int(n); })},
      {"--workers-max", Number(1, kMaxWorkers, [](auto& o, int64_t n) { o.workersMax = int(n); })},
      {"--idle-timeout", Number(1, kDay, [](auto& o, int64_t n) { o.idleTimeoutSeconds = int(n); })},
      {"--max-requests", Number(0, INT64_MAX, [](auto& o, int64_t n) { o.maxRequests = n; })},
      {"--shutdown-timeout", Number(0, kDay, [](auto& o, int64_t n) { o.shutdownSeconds = int(n); })},
      {"--io-timeout", Number(0, kDay, [](auto& o, int64_t n) { o.ioTimeoutSeconds = int(n); })},
      {"--request-timeout", Number(0, kDay, [](auto& o, int64_t n) { o.requestTimeoutSeconds = int(n); })},
      {"--slow-log-threshold", Number(0, kDay, [](auto& o, int64_t n) { o.slowLogSeconds = int(n); })},
      {"--backlog", Number(1, 65535, [](auto& o, int64_t n) { o.backlog = int(n); })},
      {"--login-log", [](FastCGIPoolOptions& o, const std::string& v, std::string& error) {
         if (v != "server" && v != "stderr") {
           error = (v.empty() ? std::string("nothing") : v) + " is neither server nor stderr";
           return false;
         }
         o.ownLoginLog = v == "stderr";
         return true;
       }},
      {"--login-arithmetic", [](FastCGIPoolOptions& o, const std::string& v, std::string& error) {
         if (v != "library" && v != "libcrypto") {
           error = (v.empty() ? std::string("nothing") : v) + " is neither library nor libcrypto";
           return false;
         }
         o.loginArithmetic = v;
         return true;
       }},
      {"--status-path", ServedPath(&FastCGIPoolOptions::statusPath)},
      {"--ping-path", ServedPath(&FastCGIPoolOptions::pingPath)},
      {"--access-log", Text([](auto& o, const std::string& v) { o.accessLog = v; })},
      {"--log", Text([](auto& o, const std::string& v) { o.logFile = v; })},
      {"--allow-remote", [](FastCGIPoolOptions& o, const std::string& v, std::string& error) {
         std::optional<platform::TPeerAllowList> list = platform::TPeerAllowList::Parse(v, error);
         if (list) o.allowRemote = std::move(*list);
         return list.has_value();
       }},
      {"--socket-owner", Text([](auto& o, const std::string& v) { o.socketOwner = v; })},
      {"--socket-group", Text([](auto& o, const std::string& v) { o.socketGroup = v; })},
      {"--socket-mode", [](FastCGIPoolOptions& o, const std::string& v, std::string& error) {
         if (v.empty() || v.size() > 4 || v.find_first_not_of("01234567") != std::string::npos) {
           error = (v.empty() ? std::string("nothing") : v) + " is not an octal mode such as 0660";
           return false;
         }
         o.socketMode = unsigned(std::stoul(v, nullptr, 8)) & 0777;
         return true;
       }},
  };
  return setters;
}

}  // namespace

bool WantsFastCGIPool(const std::vector<std::string>& args, bool underCGI) {
  if (underCGI || args.empty()) return false;
  return args[0] == "--fastcgi" || args[0].starts_with("--fastcgi=");
}

std::optional<FastCGIPoolOptions> ParseFastCGIPoolOptions(const std::vector<std::string>& args, std::string& error) {
  FastCGIPoolOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool inlineValue = false;
    if (size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inlineValue = true;
    }
    // Once a bare flag: given so, or followed by the next option, it
    // would take whatever came next as its list.
    if (name == "--allow-remote" && !inlineValue && (i + 1 >= args.size() || args[i + 1].starts_with("--"))) {
      error = "--allow-remote needs the list of peers to serve, ADDR[/PREFIX],... (the web servers' addresses)";
      return std::nullopt;
    }
    const auto setter = Setters().find(name);
    if (setter == Setters().end()) {
      error = "unknown argument: " + args[i];
      return std::nullopt;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    std::string why;
    if (!setter->second(options, value, why)) {
      error = name + (name == "--fastcgi" ? " " : ": ") + why;
      return std::nullopt;
    }
  }
  // A given address is never empty, a given --workers never 0.
  if (options.address.empty()) {
    error = "--fastcgi ADDRESS is missing";
    return std::nullopt;
  }
  const bool onDemand = options.workersMin > 0 || options.workersMax > 0;
  if (onDemand && options.workers > 0) {
    error = "--workers (a static pool) goes with neither --workers-min nor --workers-max";
    return std::nullopt;
  }
  if (onDemand && options.workersMax == 0) {
    error = "--workers-min needs --workers-max";
    return std::nullopt;
  }
  if (options.workersMin > options.workersMax) {
    error = "--workers-min " + std::to_string(options.workersMin) + " is more than --workers-max " +
            std::to_string(options.workersMax);
    return std::nullopt;
  }
  if (!options.statusPath.empty() && options.statusPath == options.pingPath) {
    error = "--status-path and --ping-path name the same path";
    return std::nullopt;
  }
  const bool unixSocket = options.address.starts_with("unix:");
  if (unixSocket && !options.allowRemote.Empty()) {
    error = "--allow-remote is for a HOST:PORT address (a unix socket's peers have no address)";
    return std::nullopt;
  }
  if (!unixSocket && (!options.socketOwner.empty() || !options.socketGroup.empty() || options.socketMode != 0660)) {
    error = "--socket-owner, --socket-group and --socket-mode are for a unix: address";
    return std::nullopt;
  }
  return options;
}

std::string FastCGIUsage() {
  return "usage: nemvoweb --fastcgi unix:PATH|HOST:PORT|stdin\n"
         "                [--workers N | --workers-min N --workers-max M [--idle-timeout SECONDS]]\n"
         "                [--max-requests M] [--shutdown-timeout SECONDS] [--io-timeout SECONDS]\n"
         "                [--request-timeout SECONDS] [--slow-log-threshold SECONDS]\n"
         "                [--status-path PATH] [--ping-path PATH] [--access-log FILE|-] [--log FILE]\n"
         "                [--login-log server|stderr] [--backlog N] [--allow-remote ADDR[/PREFIX],...]\n"
         "                [--socket-owner USER] [--socket-group GROUP] [--socket-mode MODE]\n"
         "                [--login-arithmetic library|libcrypto]\n"
         "       (without arguments: a CGI program, or a FastCGI server when standard input is a\n"
         "       listening socket)\n";
}

}  // namespace nemvo
