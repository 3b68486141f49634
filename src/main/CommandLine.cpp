#include "main/CommandLine.h"

#include "base/WholeNumber.h"

namespace nemvo {

namespace {

constexpr int kMaxWorkers = 256;

}  // namespace

bool WantsFastCGIPool(const std::vector<std::string>& args, bool underCGI) {
  if (underCGI || args.empty()) return false;
  return args[0] == "--fastcgi" || args[0].starts_with("--fastcgi=");
}

std::optional<FastCGIPoolOptions> ParseFastCGIPoolOptions(const std::vector<std::string>& args, std::string& error) {
  FastCGIPoolOptions options;
  bool haveAddress = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool inlineValue = false;
    if (size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inlineValue = true;
    }
    if (name == "--allow-remote") {
      if (inlineValue) {
        error = "--allow-remote takes no value";
        return std::nullopt;
      }
      options.allowRemote = true;
      continue;
    }
    if (name != "--fastcgi" && name != "--workers" && name != "--max-requests" && name != "--shutdown-timeout" &&
        name != "--io-timeout" && name != "--login-log") {
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
    if (name == "--fastcgi") {
      if (value.empty()) {
        error = "--fastcgi needs an address";
        return std::nullopt;
      }
      options.address = value;
      haveAddress = true;
      continue;
    }
    if (name == "--login-log") {
      if (value != "server" && value != "stderr") {
        error = "--login-log: " + (value.empty() ? std::string("nothing") : value) + " is neither server nor stderr";
        return std::nullopt;
      }
      options.ownLoginLog = value == "stderr";
      continue;
    }
    const int64_t least = name == "--workers" ? 1 : 0;
    const int64_t most = name == "--workers"                                      ? kMaxWorkers
                         : name == "--shutdown-timeout" || name == "--io-timeout" ? 86400
                                                                                  : INT64_MAX;
    std::optional<int64_t> n = ParseWholeNumber(value, least, most);
    if (!n) {
      error = name + ": " + (value.empty() ? "no number" : value) + " is not a number from " + std::to_string(least) +
              " to " + std::to_string(most);
      return std::nullopt;
    }
    if (name == "--workers") options.workers = int(*n);
    if (name == "--max-requests") options.maxRequests = *n;
    if (name == "--shutdown-timeout") options.shutdownSeconds = int(*n);
    if (name == "--io-timeout") options.ioTimeoutSeconds = int(*n);
  }
  if (!haveAddress) {
    error = "--fastcgi ADDRESS is missing";
    return std::nullopt;
  }
  return options;
}

std::string FastCGIUsage() {
  return "usage: nemvoweb --fastcgi unix:PATH|HOST:PORT|stdin [--workers N] [--max-requests M]\n"
         "                [--shutdown-timeout SECONDS] [--io-timeout SECONDS] [--login-log server|stderr]\n"
         "                [--allow-remote]\n"
         "       (without arguments: a CGI program, or a FastCGI server when standard input is a\n"
         "       listening socket)\n";
}

}  // namespace nemvo
