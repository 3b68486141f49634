#include "main/CommandLine.h"

#include <charconv>

namespace nemvo {

namespace {

constexpr int kMaxWorkers = 256;

std::optional<int64_t> Number(const std::string& text, int64_t least, int64_t most) {
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < least || value > most)
    return std::nullopt;
  return value;
}

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
        name != "--io-timeout") {
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
    const int64_t least = name == "--workers" ? 1 : 0;
    const int64_t most = name == "--workers"                                      ? kMaxWorkers
                         : name == "--shutdown-timeout" || name == "--io-timeout" ? 86400
                                                                                  : INT64_MAX;
    std::optional<int64_t> n = Number(value, least, most);
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
         "                [--shutdown-timeout SECONDS] [--io-timeout SECONDS] [--allow-remote]\n"
         "       (without arguments: a CGI program, or a FastCGI server when standard input is a\n"
         "       listening socket)\n";
}

}  // namespace nemvo
