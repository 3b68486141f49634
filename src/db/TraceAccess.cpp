#include "db/TraceAccess.h"

#include "BuildConfig.h"
#include "platform/ProfileFile.h"

namespace nemvo {

namespace {

// Blanks are no part of a group's name; the configuration's reader trims
// values already, a command line does not.
std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

TTraceAccess BuildTraceAccess() { return {true, std::string(Trimmed(build::TraceGroup))}; }

TTraceAccess TraceAccessFrom(std::string_view trace, std::optional<std::string_view> group) {
  TTraceAccess access = BuildTraceAccess();
  access.enabled = Trimmed(trace) != "0";
  if (group) access.group = std::string(Trimmed(*group));
  return access;
}

TTraceAccess TraceAccessFromFile(const std::string& path, std::string_view section, std::string_view traceKey,
                                 std::string_view groupKey) {
  // A value never holds a line break: this one stands for "no such key".
  constexpr std::string_view absent = "\n";
  const std::string group = platform::ReadProfileString(section, groupKey, absent, path);
  return TraceAccessFrom(platform::ReadProfileString(section, traceKey, "", path),
                         group == absent ? std::nullopt : std::optional<std::string_view>(group));
}

std::string DescribeTraceAccess(const TTraceAccess& access) {
  return access.group.empty() ? "every account, mode 0666" : "group " + access.group + ", mode 0660";
}

}  // namespace nemvo
