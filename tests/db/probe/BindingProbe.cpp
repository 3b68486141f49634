// Runs binding operations in a process of its own, so that a test can choose
// the client library through LD_LIBRARY_PATH. Each argument is one step; each
// step prints one line: its result, or the exception it raised as
// "<class> <code> <isc code> <message>" with CR and LF written as \r and \n.
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>

#include "db/ErrorReporting.h"
#include "db/GDSLibrary.h"
#include "db/IBErrors.h"
#include "db/IBSQLMonitorHook.h"

namespace {

using namespace nemvo;

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

void Print(const std::string& line) { std::printf("%s\n", line.c_str()); }

// Calls each operation with empty arguments: only whether it reaches the
// library or raises matters here.
std::map<std::string, std::function<long()>> Operations() {
  auto lib = AcquireClientLibrary();
  ISC_STATUS* sv = ThreadStatusVector();
  static isc_db_handle db = 0;
  static isc_tr_handle tr = 0;
  static isc_stmt_handle stmt = 0;
  static isc_svc_handle svc = 0;
  return {
      {"isc_attach_database", [=] { return long(lib->isc_attach_database(sv, 1, "x", &db, 0, nullptr)); }},
      {"isc_database_info", [=] {
         char item = isc_info_db_sql_dialect, buffer[512];
         return long(lib->isc_database_info(sv, &db, 1, &item, sizeof buffer, buffer));
       }},
      {"isc_detach_database", [=] { return long(lib->isc_detach_database(sv, &db)); }},
      {"isc_rollback_retaining", [=] { return long(lib->isc_rollback_retaining(sv, &tr)); }},
      {"isc_service_attach", [=] { return long(lib->isc_service_attach(sv, 1, "x", &svc, 0, nullptr)); }},
      {"isc_encode_timestamp", [=] { ISC_TIMESTAMP t{}; lib->isc_encode_timestamp(nullptr, &t); return 0L; }},
      {"isc_get_client_version", [=] { char b[256] = {}; lib->isc_get_client_version(b); return 0L; }},
      {"isc_get_client_major_version", [=] { return long(lib->isc_get_client_major_version()); }},
      {"isc_array_gen_sdl2", [=] { return long(lib->isc_array_gen_sdl2(sv, nullptr, nullptr, nullptr, nullptr)); }},
      {"isc_blob_gen_bpb2", [=] { return long(lib->isc_blob_gen_bpb2(sv, nullptr, nullptr, 0, nullptr, nullptr)); }},
      {"isc_blob_default_desc2", [=] { lib->isc_blob_default_desc2(nullptr, nullptr, nullptr); return 0L; }},
      {"isc_start_savepoint", [=] { return long(lib->isc_start_savepoint(sv, &tr, "s")); }},
      {"isc_rollback_savepoint", [=] { return long(lib->isc_rollback_savepoint(sv, &tr, "s", 0)); }},
      {"isc_dsql_batch_execute", [=] {
         return long(lib->isc_dsql_batch_execute(sv, &tr, &stmt, 3, nullptr, 0, nullptr, nullptr));
       }},
      {"isc_dsql_batch_execute_immed", [=] {
         return long(lib->isc_dsql_batch_execute_immed(sv, &db, &tr, 3, 0, nullptr, nullptr));
       }},
      {"isc_dsql_xml_fetch", [=] { return long(isc_dsql_xml_fetch(sv, &stmt, 3, nullptr, nullptr)); }},
      {"isc_dsql_xml_fetch_all", [=] { return long(isc_dsql_xml_fetch_all(sv, &stmt, 3, nullptr, nullptr)); }},
      {"isc_dsql_xml_buffer_fetch", [=] {
         return long(isc_dsql_xml_buffer_fetch(sv, &stmt, nullptr, 0, 3, nullptr, nullptr));
       }},
  };
}

class TProbeConnection : public IIBConnection {
 public:
  explicit TProbeConnection(TTraceFlags flags) : fFlags(flags) {}
  TTraceFlags TraceFlags() const override { return fFlags; }
  std::string TraceName() const override { return "DB1"; }
  void ClearIdleFlag() override {}
  void ForceDisconnect() override {}

 private:
  TTraceFlags fFlags;
};

int ThreadCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

void Step(const std::string& step) {
  auto lib = AcquireClientLibrary();
  if (step == "load") {
    Print(lib->TryLoadClientLibrary() ? "loaded" : "not loaded");
  } else if (step == "load-again") {
    lib->LoadClientLibrary();
    Print("load called");
  } else if (step == "unload") {
    lib->UnloadClientLibrary();
    Print("unloaded");
  } else if (step == "ensure") {
    lib->EnsureClientLibrary();
    Print("ensured");
  } else if (step == "version") {
    Print("version " + std::to_string(lib->ClientLibraryVersion()));
  } else if (step == "raise-database") {
    // The library's last status vector as an exception.
    RaiseDatabaseError();
  } else if (step.rfind("raise-client:", 0) == 0) {
    RaiseClientError(static_cast<ClientErrorKind>(std::atoi(step.c_str() + 13)), "probe");
  } else if (step == "threads") {
    Print("threads " + std::to_string(ThreadCount()));
  } else if (step.rfind("trace-connection:", 0) == 0) {
    // A connection whose trace flags are the letters given: c = tfConnect, e = tfError.
    TTraceFlags flags;
    for (char c : step.substr(17)) {
      if (c == 'c') flags.Include(TTraceFlag::tfConnect);
      if (c == 'e') flags.Include(TTraceFlag::tfError);
    }
    TProbeConnection connection(flags);
    auto hook = AcquireTraceHook();
    hook->TraceConnect(connection);
    hook->TraceError("error of " + step, connection);
    hook->TraceDisconnect(connection);
    Print("traced");
  } else if (step == "shutdown-trace") {
    ShutdownTraceHook();
    Print(AcquireTraceHook() ? "hook still there" : "hook gone");
  } else if (step.rfind("call:", 0) == 0) {
    auto operations = Operations();
    auto it = operations.find(step.substr(5));
    if (it == operations.end()) {
      Print("unknown operation");
      return;
    }
    Print("result " + std::to_string(it->second()));
  } else {
    Print("unknown step");
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    try {
      Step(argv[i]);
    } catch (const EIBError& e) {
      Print(Escaped(std::string(e.ClassName()) + " " + std::to_string(e.SqlErrorNumber()) + " " +
                    std::to_string(e.IscErrorNumber()) + " " + e.Message()));
    } catch (const EOSError& e) {
      Print(Escaped(std::string(e.ClassName()) + " " + std::to_string(e.ErrorCode()) + " 0 " + e.Message()));
    } catch (const Exception& e) {
      Print(Escaped(std::string(e.ClassName()) + " 0 0 " + e.Message()));
    }
  }
  std::fflush(stdout);
  return 0;
}
