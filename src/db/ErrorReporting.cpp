#include "db/ErrorReporting.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "db/GDSLibrary.h"
#include "db/IBSQLMonitorHook.h"

namespace nemvo {

namespace {

constexpr size_t InterpretBufferSize = 20480;

// Tracing is a courtesy to whoever watches: it never replaces the error the
// caller is about to receive.
void OfferToTrace(const std::string& text, const IIBConnection* connection = nullptr) noexcept {
  try {
    if (auto hook = AcquireTraceHook()) {
      if (connection) hook->TraceError(text, *connection);
      else hook->TraceError(text);
    }
  } catch (...) {
  }
}

struct StatusSummary {
  int32_t sqlCode;
  int32_t iscCode;
  std::string text;
};

StatusSummary SummariseStatus() {
  ISC_STATUS* status = ThreadStatusVector();
  StatusSummary summary;
  summary.sqlCode = static_cast<int32_t>(AcquireClientLibrary()->isc_sqlcode(status));
  summary.iscCode = static_cast<int32_t>(status[1]);
  summary.text = ComposeStatusText();
  return summary;
}

std::string TraceText(const StatusSummary& s) { return Format("%d %d %s", s.sqlCode, s.iscCode, s.text); }

}  // namespace

ISC_STATUS* ThreadStatusVector() {
  thread_local ISC_STATUS_ARRAY vector{};
  return vector;
}

std::string ComposeStatusText() {
  auto library = AcquireClientLibrary();
  const ISC_STATUS* const begin = ThreadStatusVector();
  const ISC_STATUS* const end = begin + StatusVectorLength;
  const ISC_STATUS* cursor = begin;
  std::vector<char> buffer(InterpretBufferSize);
  std::string text;
  // Each message moves the cursor on; stop as well if a library ever failed
  // to, or ran past the vector, rather than loop or read foreign memory.
  while (cursor >= begin && cursor < end) {
    const ISC_STATUS* before = cursor;
    buffer[0] = '\0';
    if (library->isc_interprete(buffer.data(), &cursor) <= 0) break;
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    text.append(buffer.data(), strnlen(buffer.data(), buffer.size()));
    if (cursor <= before) break;
  }
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

void RaiseDatabaseError() {
  StatusSummary s = SummariseStatus();
  OfferToTrace(TraceText(s));
  if (s.sqlCode == -551) throw EIBInterBaseRoleError(s.sqlCode, s.iscCode, std::move(s.text));
  throw EIBInterBaseError(s.sqlCode, s.iscCode, std::move(s.text));
}

void RaiseClientErrorText(ClientErrorKind kind, std::string text) {
  // A failing trace channel reports itself through this very function; it
  // must not try to trace again.
  if (kind != ClientErrorKind::ceSharedResourceFailed) OfferToTrace(text);
  throw EIBClientError(static_cast<int32_t>(kind), std::move(text));
}

bool StatusHasCode(std::initializer_list<ISC_STATUS> codes) {
  const ISC_STATUS* status = ThreadStatusVector();
  int i = 0;
  while (i < StatusVectorLength && status[i] != isc_arg_end) {
    const ISC_STATUS tag = status[i];
    if (tag == isc_arg_gds || tag == isc_arg_number) {
      if (i + 1 < StatusVectorLength && std::find(codes.begin(), codes.end(), status[i + 1]) != codes.end())
        return true;
      i += 2;
    } else if (tag == isc_arg_cstring) {
      i += 3;
    } else {
      i += 2;
    }
  }
  return false;
}

ISC_STATUS CheckConnectionCall(IIBConnection& connection, ISC_STATUS result, bool raiseOnError) {
  connection.ClearIdleFlag();
  if (raiseOnError && StatusHasCode({isc_lost_db_connection, isc_net_read_err, isc_net_write_err})) {
    // Read the vector before the forced close overwrites it.
    StatusSummary s = SummariseStatus();
    connection.ForceDisconnect();
    OfferToTrace(TraceText(s), &connection);
    throw EIBInterBaseError(s.sqlCode, s.iscCode, std::move(s.text));
  }
  if (raiseOnError && result > 0) RaiseDatabaseError();
  return result;
}

}  // namespace nemvo
