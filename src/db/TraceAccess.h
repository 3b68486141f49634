#pragma once
// Who may use the SQL trace channel, and whether a process traces at all.
// By default every account may read and write the channel; an administrator
// can narrow it to the members of one group, or switch tracing off. The
// programs that write (nemvoweb, from its configuration file) and the reader
// that may create the channel first (nemvo-trace) must agree, since whoever
// comes first makes the objects: the build's default (NEMVO_TRACE_GROUP)
// is where they agree when nothing else says otherwise.
#include <optional>
#include <string>
#include <string_view>

namespace nemvo {

struct TTraceAccess {
  bool enabled = true;
  std::string group;  // empty: every account
  bool operator==(const TTraceAccess&) const = default;
};

// Tracing on, with the build's group (none unless the build named one).
TTraceAccess BuildTraceAccess();

// The access that the configuration's two values give: `trace` "0" switches
// tracing off (anything else leaves it on); `group` names the group (empty:
// every account), and its absence leaves the build's.
TTraceAccess TraceAccessFrom(std::string_view trace, std::optional<std::string_view> group);

// The access that the configuration file at `path` gives with the keys
// `traceKey` and `groupKey` of `section`; the build's when the file cannot
// be read (an administrator's account may not be allowed to).
TTraceAccess TraceAccessFromFile(const std::string& path, std::string_view section, std::string_view traceKey,
                                 std::string_view groupKey);

// "group NAME, mode 0660" or "every account, mode 0666": for messages.
std::string DescribeTraceAccess(const TTraceAccess& access);

}  // namespace nemvo
